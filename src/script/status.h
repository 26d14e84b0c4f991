#pragma once

// Exit statuses of the program. Every operation returns one of these and the
// commands pass a non-zero result on unchanged; only main() exits with it.
namespace nvram {

inline constexpr int kOk = 0;            // success, or nothing to do
inline constexpr int kToolFailed = 1;    // the setup-control tool reported failure
inline constexpr int kUsage = 2;         // a required name is missing or the option is unknown
inline constexpr int kMissingFile = 3;   // a file or the tool cannot be opened, read or written
inline constexpr int kWrongPlatform = 5; // the BIOS version does not start with "XB"
inline constexpr int kMiscompare = 6;    // -c found a live setting that differs

}  // namespace nvram

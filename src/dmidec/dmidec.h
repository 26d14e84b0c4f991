#pragma once

#include <cstddef>
#include <string_view>

// The BIOS version of the running machine, as "dmidecode -s bios-version" prints it.
namespace nvram {

inline constexpr std::size_t kVersionFieldSize = 16;  // at most 15 characters and a terminator

// Fills the caller's zero-filled field with the beginning of the first line of the output: at
// most 15 characters, the line feed included when the line has at most 14 characters. The text
// ends at a NUL byte in the output. An empty output leaves the field empty.
void version_field_from_output(std::string_view output, char (&field)[kVersionFieldSize]);

// Runs dmidecode (no shell), reads its output to the end and fills the field as above. When the
// program cannot be run or prints nothing the field stays empty.
void BiosVerFromDMI(char (&field)[kVersionFieldSize]);

}  // namespace nvram

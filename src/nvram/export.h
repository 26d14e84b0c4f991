#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The byte layout of the stamped export written by -s.
namespace nvram {

inline constexpr std::size_t kFirstBlock = 64;  // the first read of the export
inline constexpr std::size_t kLastNamePos = 55;  // "temp" must start at or before this offset
inline constexpr std::size_t kDroppedBytes = 9;  // "temp.txt" and the byte after it

// The beginning of the output script for an export whose first block (at most 64 bytes) is
// `block`: everything that replaces the block. The caller writes the rest of the export after it.
// With "temp" at p <= 55 (searched as in a C string: up to the block's first NUL byte): the block's
// bytes before p, the output name, "\n// BIOS_VERSION = " and the version (and a line feed when the
// version holds none), then the block's bytes from p + 9 on. Without it: the stamp line
// "// BIOS_VERSION = " with the version and its line feed, then the whole block.
std::string stamped_head(std::string_view block, std::string_view output_name,
                         std::string_view bios_version);

}  // namespace nvram

#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The exclusion list "Exclude.txt": setup questions that the comparisons pass over.
namespace nvram {

inline constexpr char kExclusionFile[] = "Exclude.txt";
inline constexpr int kExclusionLines = 100;         // lines read, comments included
inline constexpr std::size_t kExclusionEntry = 64;  // characters kept per entry

struct ExclusionTable {
  std::vector<std::string> entries;  // in file order, as record lines write a key; may be empty
  // The entries as typed, where that differs: an entry may also be the key as written (the form
  // that -c and "Not carried" print, "D0-%3ED3idletimeout(screenoff)").
  std::vector<std::string> typed;
};

// Loads "Exclude.txt" from the current directory: of its first 100 lines (299-byte pieces count
// as lines), each that does not begin with '/' gives one entry made of its visible characters,
// at most 64, written as record lines write a question key (written_key()). Returns 0, or prints "can't open Exclude.txt" (no line end) and returns 3; a file
// that opens but cannot be read ("Error, cannot read file Exclude.txt\r\n") also gives 3.
int load_exclusion_list(ExclusionTable& table);

// Reads an exclusion list from an open stream by the same rules (lines, comments, entries) as
// load_exclusion_list(). Prints nothing; returns false when a read failed, leaving the table empty.
bool read_exclusion_list(std::FILE* in, ExclusionTable& table);

// True when the key (as record lines write it), with its space characters removed, equals one of
// the entries, or one of the entries as typed.
bool is_excluded(std::string_view key, const ExclusionTable& table);

}  // namespace nvram

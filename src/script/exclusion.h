#pragma once

#include <bitset>
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

// is_excluded() for the many keys of a reading, which hold no blank (the reader keeps only
// visible characters): such a key can only equal an entry of its own size and with its own first
// and last characters, and most keys are told apart from every entry by those alone, without a
// look at the list.
class ExclusionFilter {
 public:
  explicit ExclusionFilter(const ExclusionTable& table);
  bool excludes(std::string_view reading_key) const {
    return marks_[mark(reading_key)] && is_excluded(reading_key, table_);
  }

 private:
  static std::size_t mark(std::string_view text) {
    if (text.empty()) return 0;
    const std::size_t mixed = text.size() * 0x9E5 +
                              static_cast<unsigned char>(text.front()) * 0x3B +
                              static_cast<unsigned char>(text.back());
    return mixed % 4096;
  }

  const ExclusionTable& table_;
  std::bitset<4096> marks_;  // the mark() of each entry and each typed form
};

}  // namespace nvram

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/key_table.h"

// The search for a record's partner in a searched record file, as both record comparisons make
// it: reading on from the line after the previous partner to the end of the file, then once more
// from the top, passing over lines already paired and lines of other keys. A line is paired at
// most once. After a search that finds nothing the next one starts at the top.
//
// The lines are held by key, each key's lines in file order, so a search costs the same whatever
// the order of the questions, and gives the partner that the line-by-line reading gives.
namespace nvram {

class PartnerSearch {
 public:
  static constexpr long kNone = -1;

  // Adds the next line of the searched file (lines are numbered from 0 in the order added).
  // Every line is added before the first search.
  void add(std::string_view key) { key_of_line_.push_back(keys_.add(key)); }

  // The number of lines added, the key of one, and whether a search has paired it.
  std::size_t size() const { return key_of_line_.size(); }
  std::string_view key(std::size_t line) const { return keys_.key(key_of_line_[line]); }
  bool paired(std::size_t line) const { return line < paired_.size() && paired_[line]; }

  // The line that a search for `key` would pair before reaching the end of the file, or kNone
  // when the search would run off the end (and go on from the top). Changes nothing.
  long ahead(std::string_view key);

  // Pairs `key` with its partner and returns the partner's line, or kNone.
  long pair(std::string_view key) { return pair(key, nullptr); }

  // The same; `first_line` (when given) receives the first line of the key in the searched file,
  // or kNone when no line holds the key: a number that stands for the key.
  long pair(std::string_view key, long* first_line);

 private:
  // One key's lines: slots [begin, begin + count) of line_ and next_free_, in file order, and a
  // closing slot begin + count that stands for "none left".
  struct Group {
    std::uint32_t begin = 0;
    std::uint32_t count = 0;
  };

  void build();
  const Group* find(std::string_view key);
  std::uint32_t first_free(std::uint32_t slot);
  std::uint32_t first_free_ahead(const Group& g);

  KeyTable keys_;
  std::vector<std::uint32_t> key_of_line_;  // each line's key number in keys_
  std::vector<Group> groups_;               // by key number
  std::vector<std::uint32_t> line_;       // the line held by each slot
  std::vector<std::uint32_t> next_free_;  // leads, step by step, to the first unpaired slot
  std::vector<bool> paired_;              // by line, from the first search on
  bool built_ = false;
  std::size_t position_ = 0;
};

}  // namespace nvram

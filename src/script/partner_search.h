#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

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
  void add(const std::string& key);

  // The line that a search for `key` would pair before reaching the end of the file, or kNone
  // when the search would run off the end (and go on from the top). Changes nothing.
  long ahead(const std::string& key);

  // Pairs `key` with its partner and returns the partner's line, or kNone.
  long pair(const std::string& key);

 private:
  struct KeyLines {
    std::vector<std::size_t> line;  // the key's lines, in file order
    // next_free[i] leads, step by step, to the first unpaired slot at or after slot i; the slot
    // line.size() stands for "none".
    std::vector<std::size_t> next_free{0};
  };

  static std::size_t first_free(KeyLines& k, std::size_t slot);
  std::size_t first_free_ahead(KeyLines& k) const;

  std::unordered_map<std::string, KeyLines> by_key_;
  std::size_t lines_ = 0;
  std::size_t position_ = 0;
};

}  // namespace nvram

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/string_block.h"

// A set of question keys, each numbered 0, 1, 2, ... in the order first added. The keys' bytes are
// kept end to end in one block and the table holds only numbers, so a look-up reads one slot and
// one key's bytes: the comparisons and the merge look up every question of a script.
namespace nvram {

// The hash of a key (or any text) by which the tables find it.
std::uint32_t hash_text(std::string_view text);

class KeyTable {
 public:
  static constexpr std::uint32_t kMissing = UINT32_MAX;

  KeyTable() = default;
  // A table that holds that many keys without growing.
  explicit KeyTable(std::size_t keys);

  // The number of the key, which is added when new.
  std::uint32_t add(std::string_view key) { return add(key, hash_text(key)); }
  std::uint32_t add(std::string_view key, std::uint32_t hash);

  // The number of the key, or kMissing.
  std::uint32_t find(std::string_view key) const { return find(key, hash_text(key)); }
  std::uint32_t find(std::string_view key, std::uint32_t hash) const;

  std::size_t size() const { return keys_.size(); }
  std::string_view key(std::uint32_t id) const { return keys_[id]; }

 private:
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t id = kMissing;  // kMissing: the slot is empty
  };

  static constexpr std::size_t kFirstSlots = 64;  // a table's first size

  std::size_t slot_of(std::string_view key, std::uint32_t hash) const;
  void grow();

  StringBlock keys_;                       // key i is keys_[i]
  std::vector<Slot> slots_;                // open addressing; a power of two, at most half full
};

}  // namespace nvram

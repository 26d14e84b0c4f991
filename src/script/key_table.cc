#include "script/key_table.h"

#include <cstring>

namespace nvram {

// Eight bytes at a time, each word mixed in by a multiplication, folded to 32 bits.
std::uint32_t hash_text(std::string_view key) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15u;
  std::uint64_t h = key.size() * kMul;
  const char* p = key.data();
  std::size_t n = key.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * kMul;
    h ^= h >> 29;
  }
  if (n > 0) {
    // The last n bytes as the low bytes of a word: from the text's last eight bytes where it has
    // eight, without a copy of a length known only now.
    std::uint64_t word = 0;
    if (key.size() >= 8) {
      std::memcpy(&word, key.data() + key.size() - 8, 8);
      word >>= 8 * (8 - n);
    } else {
      for (std::size_t i = 0; i < n; ++i)
        word |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    }
    h = (h ^ word) * kMul;
    h ^= h >> 29;
  }
  h *= kMul;
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

KeyTable::KeyTable(std::size_t keys) {
  std::size_t slots = kFirstSlots;
  while (slots < 2 * keys) slots *= 2;
  slots_.assign(slots, Slot{});
}

// The slot that holds the key, or the empty slot where it would go.
std::size_t KeyTable::slot_of(std::string_view key, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (s.id == kMissing || (s.hash == hash && this->key(s.id) == key)) return i;
  }
}

void KeyTable::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? kFirstSlots : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (s.id == kMissing) continue;
    std::size_t i = s.hash & mask;
    while (slots_[i].id != kMissing) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

std::uint32_t KeyTable::add(std::string_view key, std::uint32_t hash) {
  if (2 * (size() + 1) > slots_.size()) grow();
  Slot& s = slots_[slot_of(key, hash)];
  if (s.id != kMissing) return s.id;
  s.hash = hash;
  s.id = static_cast<std::uint32_t>(size());
  keys_.add(key);
  return s.id;
}

std::uint32_t KeyTable::find(std::string_view key, std::uint32_t hash) const {
  if (slots_.empty()) return kMissing;
  return slots_[slot_of(key, hash)].id;
}

}  // namespace nvram

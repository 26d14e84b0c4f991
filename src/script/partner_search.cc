#include "script/partner_search.h"

#include <algorithm>

namespace nvram {

void PartnerSearch::add(const std::string& key) {
  KeyLines& k = by_key_[key];
  k.line.push_back(lines_++);
  k.next_free.push_back(k.next_free.size());
}

std::size_t PartnerSearch::first_free(KeyLines& k, std::size_t slot) {
  while (k.next_free[slot] != slot) {
    k.next_free[slot] = k.next_free[k.next_free[slot]];
    slot = k.next_free[slot];
  }
  return slot;
}

std::size_t PartnerSearch::first_free_ahead(KeyLines& k) const {
  auto from = std::lower_bound(k.line.begin(), k.line.end(), position_);
  return first_free(k, static_cast<std::size_t>(from - k.line.begin()));
}

long PartnerSearch::ahead(const std::string& key) {
  auto it = by_key_.find(key);
  if (it == by_key_.end()) return kNone;
  KeyLines& k = it->second;
  std::size_t slot = first_free_ahead(k);
  return slot == k.line.size() ? kNone : static_cast<long>(k.line[slot]);
}

long PartnerSearch::pair(const std::string& key) {
  auto it = by_key_.find(key);
  if (it == by_key_.end()) {
    position_ = 0;
    return kNone;
  }
  KeyLines& k = it->second;
  const std::size_t none = k.line.size();
  std::size_t slot = first_free_ahead(k);
  if (slot == none) slot = first_free(k, 0);
  if (slot == none) {
    position_ = 0;
    return kNone;
  }
  k.next_free[slot] = slot + 1;
  position_ = k.line[slot] + 1;
  return static_cast<long>(k.line[slot]);
}

}  // namespace nvram

#include "script/partner_search.h"

#include <algorithm>

namespace nvram {

void PartnerSearch::build() {
  built_ = true;
  paired_.assign(key_of_line_.size(), false);
  groups_.assign(keys_.size(), Group{});
  for (std::uint32_t id : key_of_line_) ++groups_[id].count;
  std::uint32_t next = 0;
  for (Group& g : groups_) {
    g.begin = next;
    next += g.count + 1;
    g.count = 0;  // counts again while the lines are placed
  }
  line_.resize(next);
  next_free_.resize(next);
  for (std::uint32_t s = 0; s < next; ++s) next_free_[s] = s;
  for (std::size_t i = 0; i < key_of_line_.size(); ++i) {
    Group& g = groups_[key_of_line_[i]];
    line_[g.begin + g.count++] = static_cast<std::uint32_t>(i);
  }
}

const PartnerSearch::Group* PartnerSearch::find(std::string_view key) {
  if (!built_) build();
  const std::uint32_t id = keys_.find(key);
  return id == KeyTable::kMissing ? nullptr : &groups_[id];
}

std::uint32_t PartnerSearch::first_free(std::uint32_t slot) {
  while (next_free_[slot] != slot) {
    next_free_[slot] = next_free_[next_free_[slot]];
    slot = next_free_[slot];
  }
  return slot;
}

std::uint32_t PartnerSearch::first_free_ahead(const Group& g) {
  auto begin = line_.begin() + g.begin;
  auto from = std::lower_bound(begin, begin + g.count, position_);
  return first_free(static_cast<std::uint32_t>(from - line_.begin()));
}

long PartnerSearch::ahead(std::string_view key) {
  const Group* g = find(key);
  if (!g) return kNone;
  std::uint32_t slot = first_free_ahead(*g);
  return slot == g->begin + g->count ? kNone : static_cast<long>(line_[slot]);
}

long PartnerSearch::pair(std::string_view key, long* first_line) {
  const Group* g = find(key);
  if (first_line) *first_line = g ? static_cast<long>(line_[g->begin]) : kNone;
  const std::uint32_t none = g ? g->begin + g->count : 0;
  std::uint32_t slot = none;
  if (g) {
    slot = first_free_ahead(*g);
    if (slot == none) slot = first_free(g->begin);
  }
  if (slot == none) {
    position_ = 0;
    return kNone;
  }
  next_free_[slot] = slot + 1;
  position_ = line_[slot] + 1;
  paired_[line_[slot]] = true;
  return static_cast<long>(line_[slot]);
}

}  // namespace nvram

#include "script/partner_search.h"

#include <algorithm>

namespace nvram {

void PartnerSearch::build() {
  built_ = true;
  groups_.reserve(keys_.size());
  std::vector<Group*> group_of(keys_.size());
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    Group& g = groups_[keys_[i]];
    ++g.count;
    group_of[i] = &g;
  }
  std::uint32_t next = 0;
  for (auto& [key, g] : groups_) {
    g.begin = next;
    next += g.count + 1;
    g.count = 0;  // counts again while the lines are placed
  }
  line_.resize(next);
  next_free_.resize(next);
  for (std::uint32_t s = 0; s < next; ++s) next_free_[s] = s;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    Group& g = *group_of[i];
    line_[g.begin + g.count++] = static_cast<std::uint32_t>(i);
  }
}

const PartnerSearch::Group* PartnerSearch::find(const std::string& key) {
  if (!built_) build();
  auto it = groups_.find(key);
  return it == groups_.end() ? nullptr : &it->second;
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

long PartnerSearch::ahead(const std::string& key) {
  const Group* g = find(key);
  if (!g) return kNone;
  std::uint32_t slot = first_free_ahead(*g);
  return slot == g->begin + g->count ? kNone : static_cast<long>(line_[slot]);
}

long PartnerSearch::pair(const std::string& key, long* first_line) {
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
  return static_cast<long>(line_[slot]);
}

}  // namespace nvram

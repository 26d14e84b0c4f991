#include "script/pairing.h"

#include <algorithm>

namespace nvram {

void KeySearch::add(std::string_view key, bool has_identity) {
  key_of_.push_back(keys_.add(key));
  plain_of_.push_back(!has_identity);
}

void KeySearch::Index::build(const std::vector<std::uint32_t>& key_of, std::size_t keys,
                             const std::vector<bool>* only) {
  groups.assign(keys, Group{});
  for (std::size_t i = 0; i < key_of.size(); ++i) {
    if (!only || (*only)[i]) ++groups[key_of[i]].count;
  }
  std::uint32_t next = 0;
  for (Group& g : groups) {
    g.begin = next;
    next += g.count + 1;
    g.count = 0;  // counts again while the questions are placed
  }
  line.resize(next);
  next_free.resize(next);
  for (std::uint32_t s = 0; s < next; ++s) next_free[s] = s;
  slot_of.assign(key_of.size(), kNoSlot);
  for (std::size_t i = 0; i < key_of.size(); ++i) {
    if (only && !(*only)[i]) continue;
    Group& g = groups[key_of[i]];
    slot_of[i] = g.begin + g.count++;
    line[slot_of[i]] = static_cast<std::uint32_t>(i);
  }
}

std::uint32_t KeySearch::Index::first_free(std::uint32_t slot) {
  while (next_free[slot] != slot) {
    next_free[slot] = next_free[next_free[slot]];
    slot = next_free[slot];
  }
  return slot;
}

void KeySearch::Index::remove(std::size_t line_number) {
  const std::uint32_t slot = slot_of[line_number];
  if (slot != kNoSlot) next_free[slot] = slot + 1;
}

void KeySearch::build() {
  built_ = true;
  all_.build(key_of_, keys_.size(), nullptr);
  plain_index_.build(key_of_, keys_.size(), &plain_of_);
}

void KeySearch::take(std::size_t line) {
  if (!built_) build();
  all_.remove(line);
  plain_index_.remove(line);
}

long KeySearch::find(std::string_view key, bool plain_only, bool take) {
  if (!built_) build();
  const std::uint32_t id = keys_.find(key);
  if (id == KeyTable::kMissing) {
    if (take) position_ = 0;
    return kNone;
  }
  Index& index = plain_only ? plain_index_ : all_;
  const Group& g = index.groups[id];
  const std::uint32_t none = g.begin + g.count;
  auto begin = index.line.begin() + g.begin;
  auto from = std::lower_bound(begin, begin + g.count, position_);
  std::uint32_t slot = index.first_free(static_cast<std::uint32_t>(from - index.line.begin()));
  if (!take) return slot == none ? kNone : static_cast<long>(index.line[slot]);
  if (slot == none) slot = index.first_free(g.begin);  // once more from the top
  if (slot == none) {
    position_ = 0;
    return kNone;
  }
  const std::uint32_t line = index.line[slot];
  all_.remove(line);
  plain_index_.remove(line);
  position_ = line + 1;
  return static_cast<long>(line);
}

long KeySearch::ahead(std::string_view key, bool plain_only) { return find(key, plain_only, false); }

long KeySearch::pair(std::string_view key, bool plain_only) { return find(key, plain_only, true); }

namespace {

bool is_set(std::string_view value) { return !value.empty() && value != "?"; }

}  // namespace

Pairing pair_questions(const ScriptReading& walked, const ScriptReading& searched,
                       const ExclusionTable& excluded) {
  Pairing result;
  result.walked.resize(walked.size());
  std::vector<bool> searched_excluded(searched.size()), searched_paired(searched.size());
  std::vector<bool> searched_identity(searched.size());

  // Round one: the searched questions of each identity in script order, handed out in turn.
  KeyTable identities;
  std::vector<std::uint32_t> identity_of(searched.size(), KeyTable::kMissing);
  std::vector<std::uint32_t> count;  // by identity
  for (std::size_t j = 0; j < searched.size(); ++j) {
    searched_excluded[j] = is_excluded(searched.key(j), excluded);
    const std::string_view identity = searched.identity(j);
    searched_identity[j] = !identity.empty();
    if (searched_excluded[j] || identity.empty()) continue;
    identity_of[j] = identities.add(identity);
    if (identity_of[j] == count.size()) count.push_back(0);
    ++count[identity_of[j]];
  }
  std::vector<std::uint32_t> first(count.size() + 1, 0);  // the questions of identity k: [first[k],
  for (std::size_t k = 0; k < count.size(); ++k) first[k + 1] = first[k] + count[k];  // first[k+1])
  std::vector<std::uint32_t> of_identity(first.back());
  std::vector<std::uint32_t> placed(first.begin(), first.end() - 1);
  for (std::size_t j = 0; j < searched.size(); ++j) {
    if (identity_of[j] != KeyTable::kMissing) of_identity[placed[identity_of[j]]++] = static_cast<std::uint32_t>(j);
  }
  std::vector<std::uint32_t> handed(first.begin(), first.end() - 1);
  std::vector<bool> walked_has(count.size()), walked_identity(walked.size());
  for (std::size_t i = 0; i < walked.size(); ++i) {
    QuestionPair& p = result.walked[i];
    p.excluded = is_excluded(walked.key(i), excluded);
    const std::string_view identity = walked.identity(i);
    walked_identity[i] = !identity.empty();
    const std::uint32_t k = identity.empty() ? KeyTable::kMissing : identities.find(identity);
    if (k == KeyTable::kMissing) continue;
    walked_has[k] = true;
    if (p.excluded || handed[k] == first[k + 1]) continue;
    p.partner = of_identity[handed[k]++];
    p.by_identity = true;
    searched_paired[static_cast<std::size_t>(p.partner)] = true;
  }

  // Round two, by key, over what round one left; its search is built when a question needs it.
  const bool searched_plain =
      std::find(searched_identity.begin(), searched_identity.end(), false) != searched_identity.end();
  KeySearch search;
  bool search_built = false;
  for (std::size_t i = 0; i < walked.size(); ++i) {
    QuestionPair& p = result.walked[i];
    if (p.excluded || p.by_identity) continue;
    const bool plain_only = walked_identity[i];
    if (plain_only && !searched_plain) continue;
    if (!search_built) {
      search_built = true;
      for (std::size_t j = 0; j < searched.size(); ++j) search.add(searched.key(j), searched_identity[j]);
      for (std::size_t j = 0; j < searched.size(); ++j) {
        if (searched_paired[j]) search.take(j);
      }
    }
    p.ran_off_end = search.ahead(walked.key(i), plain_only) == KeySearch::kNone;
    p.partner = search.pair(walked.key(i), plain_only);
    if (p.partner != KeySearch::kNone) searched_paired[static_cast<std::size_t>(p.partner)] = true;
  }

  for (const QuestionPair& p : result.walked) result.pairs += p.partner >= 0 ? 1 : 0;
  for (std::size_t j = 0; j < searched.size(); ++j) {
    if (searched_paired[j] || identity_of[j] == KeyTable::kMissing || walked_has[identity_of[j]]) continue;
    const std::string_view default_value = searched.default_value(j), current = searched.current_value(j);
    if (is_set(default_value) && is_set(current) && default_value != current) result.lost.push_back(j);
  }
  return result;
}

}  // namespace nvram

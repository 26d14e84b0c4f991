#include "script/pairing.h"

#include <algorithm>

namespace nvram {

void KeySearch::add(std::string_view key, std::uint32_t hash, bool has_identity) {
  key_of_.push_back(keys_.add(key, hash));
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

long KeySearch::find(std::string_view key, std::uint32_t hash, bool plain_only, bool take) {
  if (!built_) build();
  const std::uint32_t id = keys_.find(key, hash);
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

long KeySearch::ahead(std::string_view key, std::uint32_t hash, bool plain_only) {
  return find(key, hash, plain_only, false);
}

long KeySearch::pair(std::string_view key, std::uint32_t hash, bool plain_only) {
  return find(key, hash, plain_only, true);
}

namespace {

// The searched questions of each identity, in script order: an open-addressing table of the
// identities, whose slots name the first question of the identity, and a chain through the
// questions. Only numbers are stored; the identities themselves stay in the reading.
class IdentityTable {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  explicit IdentityTable(const ScriptReading& searched, std::size_t expected)
      : searched_(searched), next_(searched.size(), kNone) {
    std::size_t capacity = 16;
    while (capacity < 2 * expected) capacity *= 2;
    slots_.resize(capacity);
    mask_ = capacity - 1;
  }

  // Adds searched question j before those of its identity added so far: each question once, the
  // last one first, so that the chain runs in script order.
  void add(std::uint32_t j) {
    Slot& s = slots_[slot_of(searched_.identity(j), searched_[j].identity_hash)];
    s.hash = searched_[j].identity_hash;
    next_[j] = s.first;
    s.first = s.handed = j;
  }

  // Starts fetching the slot where an identity of this hash lies, ahead of its look-up.
  void prefetch(std::uint32_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }

  // The slot of an identity, or nullptr when no searched question has it.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t first = kNone;   // the identity's first question
    std::uint32_t handed = kNone;  // the next one to hand out
    bool wanted = false;           // a walked question has the identity
  };
  Slot* find(std::string_view identity, std::uint32_t hash) {
    Slot& s = slots_[slot_of(identity, hash)];
    return s.first == kNone ? nullptr : &s;
  }

  // Hands out the slot's next question, or kNone.
  std::uint32_t take(Slot& s) {
    const std::uint32_t j = s.handed;
    if (j != kNone) s.handed = next_[j];
    return j;
  }

 private:
  std::size_t slot_of(std::string_view identity, std::uint32_t hash) const {
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.first == kNone || (s.hash == hash && searched_.identity(s.first) == identity)) return i;
    }
  }

  const ScriptReading& searched_;
  PopulatedVector<std::uint32_t> next_;  // by question: the next question of its identity
  PopulatedVector<Slot> slots_;      // a power of two, at most half full
  std::size_t mask_ = 0;
};

bool is_set(std::string_view value) { return !value.empty() && value != "?"; }

// How far ahead of a look-up its slot is fetched.
constexpr std::size_t kAhead = 8;

}  // namespace

Pairing pair_questions(const ScriptReading& walked, const ScriptReading& searched,
                       const ExclusionTable& excluded) {
  Pairing result;
  result.walked.resize(walked.size());
  std::vector<bool> searched_excluded(searched.size()), searched_paired(searched.size());
  std::vector<bool> searched_identity(searched.size());
  const ExclusionFilter exclusions(excluded);

  // Round one: the searched questions of each identity in script order, handed out in turn.
  std::size_t with_identity = 0;
  for (std::size_t j = 0; j < searched.size(); ++j) {
    searched_excluded[j] = exclusions.excludes(searched.key(j));
    searched_identity[j] = !searched.identity(j).empty();
    with_identity += searched_identity[j] && !searched_excluded[j] ? 1 : 0;
  }
  IdentityTable identities(searched, with_identity);
  for (std::size_t j = searched.size(); j-- > 0;) {
    if (j >= kAhead) identities.prefetch(searched[j - kAhead].identity_hash);
    if (searched_identity[j] && !searched_excluded[j]) identities.add(static_cast<std::uint32_t>(j));
  }
  std::vector<bool> walked_identity(walked.size());
  for (std::size_t i = 0; i < walked.size(); ++i) {
    if (i + kAhead < walked.size()) identities.prefetch(walked[i + kAhead].identity_hash);
    QuestionPair& p = result.walked[i];
    p.excluded = exclusions.excludes(walked.key(i));
    const std::string_view identity = walked.identity(i);
    walked_identity[i] = !identity.empty();
    IdentityTable::Slot* slot = identity.empty() ? nullptr : identities.find(identity, walked[i].identity_hash);
    if (!slot) continue;
    slot->wanted = true;
    if (p.excluded) continue;
    const std::uint32_t j = identities.take(*slot);
    if (j == IdentityTable::kNone) continue;
    p.partner = j;
    p.by_identity = true;
    searched_paired[j] = true;
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
      for (std::size_t j = 0; j < searched.size(); ++j) {
        search.add(searched.key(j), searched[j].key_hash, searched_identity[j]);
      }
      for (std::size_t j = 0; j < searched.size(); ++j) {
        if (searched_paired[j]) search.take(j);
      }
    }
    p.ran_off_end = search.ahead(walked.key(i), walked[i].key_hash, plain_only) == KeySearch::kNone;
    p.partner = search.pair(walked.key(i), walked[i].key_hash, plain_only);
    if (p.partner != KeySearch::kNone) searched_paired[static_cast<std::size_t>(p.partner)] = true;
  }

  for (const QuestionPair& p : result.walked) result.pairs += p.partner >= 0 ? 1 : 0;
  for (std::size_t j = 0; j < searched.size(); ++j) {
    if (searched_paired[j] || !searched_identity[j] || searched_excluded[j]) continue;
    const IdentityTable::Slot* slot = identities.find(searched.identity(j), searched[j].identity_hash);
    if (slot && slot->wanted) continue;
    const std::string_view default_value = searched.default_value(j), current = searched.current_value(j);
    if (is_set(default_value) && is_set(current) && default_value != current) result.lost.push_back(j);
  }
  return result;
}

}  // namespace nvram

#include "script/record_compare.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <string_view>
#include <vector>

#include "script/exclusion.h"
#include "script/file.h"
#include "script/key_table.h"
#include "script/partner_search.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/renamed.h"
#include "script/status.h"
#include "script/string_block.h"

namespace nvram {

namespace {

// The pairing of walked records with searched ones: the first pass pairs the walked records by
// key in walk order and notes the differing pairs; finish() pairs the leftovers by place and gives
// every paired copy of a repeated key with a difference its line. The merge hands a key's lines to
// its Setup lines in order, so a line for the second copy alone would land on the first.
class Pairing {
 public:
  // Adds the next searched record; all are added before the first walked record is paired.
  void add_searched(std::string_view key, std::string_view current_value) {
    search_.add(key);
    current_.add(current_value);
    walked_lines_.push_back(0);
    differs_.push_back(false);
  }

  // The current value of a searched record.
  std::string_view current(long searched) const {
    return current_[static_cast<std::size_t>(searched)];
  }

  // First pass: pairs the next walked record by key and notes whether it differs from its
  // partner. A record left without a partner is kept for the round by place.
  RecordPair pair(std::size_t walked, std::string_view key, std::string_view current_value,
                  const ExclusionTable& excluded) {
    RecordPair p{walked, PartnerSearch::kNone, false, false, false};
    key_of_.push_back(PartnerSearch::kNone);
    if (is_excluded(key, excluded)) {
      p.excluded = true;
      return p;
    }
    long key_id = PartnerSearch::kNone;
    p.partner = search_.pair(key, &key_id);
    if (p.partner == PartnerSearch::kNone) {
      // A key that no searched record holds is numbered after the searched lines.
      if (key_id == PartnerSearch::kNone) key_id = walked_key_id(key);
      renamed_.add_walked(walked, key);
      left_current_.add(current_value);
    }
    key_of_.back() = key_id;
    ++walked_lines_[static_cast<std::size_t>(key_id)];
    if (p.partner != PartnerSearch::kNone && current(p.partner) != current_value) {
      p.difference_line = true;
      differs_[static_cast<std::size_t>(key_id)] = true;
    }
    return p;
  }

  // Whether a walked record is left without a partner: only then are the places needed.
  bool has_leftovers() const { return !renamed_.empty(); }

  // Pairs the leftovers by place (the places of the walked and the searched records), then gives
  // every pair of a repeated key with a difference its line.
  void finish(std::vector<RecordPair>& pairs, const StringBlock& walked_places,
              const StringBlock& searched_places, const ExclusionTable& excluded) {
    for (const RenamedRound::Pair& r :
         renamed_.pair(walked_places, search_, searched_places, excluded)) {
      RecordPair& p = pairs[r.walked];
      p.partner = static_cast<long>(r.searched);
      p.renamed = true;
      if (current(p.partner) != left_current_[r.left]) {
        p.difference_line = true;
        differs_[static_cast<std::size_t>(key_of_[r.walked])] = true;
      }
    }
    for (RecordPair& p : pairs) {
      if (p.partner == PartnerSearch::kNone) continue;
      const auto key_id = static_cast<std::size_t>(key_of_[p.walked]);
      if (walked_lines_[key_id] > 1 && differs_[key_id]) p.difference_line = true;
    }
  }

 private:
  std::uint32_t walked_key_id(std::string_view key) {
    if (walked_keys_.size() == 0) first_walked_id_ = walked_lines_.size();
    const std::size_t id = first_walked_id_ + walked_keys_.add(key);
    if (id == walked_lines_.size()) {
      walked_lines_.push_back(0);
      differs_.push_back(false);
    }
    return static_cast<std::uint32_t>(id);
  }

  PartnerSearch search_;
  StringBlock current_;                      // per searched record
  std::vector<long> key_of_;               // per walked record: its key's first searched line
  std::vector<std::uint32_t> walked_lines_;  // per key (first searched line): walked lines
  std::vector<bool> differs_;                // per key: one of its pairs differs
  RenamedRound renamed_;                     // the walked records left without a partner
  StringBlock left_current_;                 // their current values, in the same order
  KeyTable walked_keys_;                     // walked keys that no searched record holds
  std::size_t first_walked_id_ = 0;         // the number of the first of them
};

}  // namespace

std::vector<RecordPair> pair_records(const ScriptReading& walked, const ScriptReading& searched,
                                     const ExclusionTable& excluded) {
  Pairing pairing;
  for (std::size_t j = 0; j < searched.size(); ++j) {
    pairing.add_searched(searched.key(j), searched.current_value(j));
  }
  std::vector<RecordPair> pairs;
  pairs.reserve(walked.size());
  for (std::size_t i = 0; i < walked.size(); ++i) {
    pairs.push_back(pairing.pair(i, walked.key(i), walked.current_value(i), excluded));
  }
  // Places are needed only for the questions left without a partner by key.
  if (pairing.has_leftovers()) {
    pairing.finish(pairs, question_places(walked), question_places(searched), excluded);
  } else {
    pairing.finish(pairs, StringBlock(), StringBlock(), excluded);
  }
  return pairs;
}

int process_script_compare(const std::string& new_script, const ScriptReading& walked,
                           File& walked_records, const std::string& dumped_script,
                           const ScriptReading& searched, File& searched_records,
                           std::vector<Difference>& differences, int& difference_count) {
  ExclusionTable excluded;
  if (int status = load_exclusion_list(excluded); status != kOk) return status;
  OutFile diff("Difftemp.ini", create_anew("Difftemp.ini"));
  if (!diff) {
    std::printf("Cannot open %s\r\n", diff.name().c_str());
    return kMissingFile;
  }
  std::vector<Difference> found;
  for (const RecordPair& p : pair_records(walked, searched, excluded)) {
    if (!p.difference_line) continue;
    const auto partner = static_cast<std::size_t>(p.partner);
    const std::string_view value = searched.current_value(partner);
    diff.write("{");
    diff.write(walked.key(p.walked));
    diff.write("},[");
    diff.write(walked.default_value(p.walked));
    diff.write("],<");
    diff.write(value);
    diff.write(">\r\n");
    found.push_back(Difference{p.walked, std::string(value)});
  }
  if (!diff.finish()) return kMissingFile;
  remove_if_same(record_file_name(new_script), walked_records.get());
  remove_if_same(record_file_name(dumped_script), searched_records.get());
  difference_count = static_cast<int>(found.size());
  differences = std::move(found);
  return kOk;
}

}  // namespace nvram

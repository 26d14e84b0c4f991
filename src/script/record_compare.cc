#include "script/record_compare.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "script/big_buffer.h"
#include "script/exclusion.h"
#include "script/file.h"
#include "script/key_table.h"
#include "script/pairing.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {

std::vector<Difference> update_differences(const ScriptReading& walked,
                                           const ScriptReading& searched, const Pairing& pairing) {
  auto partner_value = [&](std::size_t i, std::size_t j) {
    return Difference{i, std::string(searched.current_value(j)), searched[j].kind};
  };
  // The walked questions whose partner holds another value, with that value: taken while the
  // partner is at hand, as it lies anywhere in the searched script. In walked order.
  std::vector<Difference> differing;
  // The keys of those questions, and how many walked questions each has. Most questions take no
  // other value: a bit per key hash tells them apart without a look-up.
  KeyTable keys;
  std::vector<bool> maybe(std::size_t{1} << 20);
  const std::size_t mask = maybe.size() - 1;
  for (std::size_t i = 0; i < walked.size(); ++i) {
    const long partner = pairing.walked[i].partner;
    if (partner < 0) continue;
    const auto j = static_cast<std::size_t>(partner);
    if (!values_differ(searched.current_value(j), searched[j].kind, walked.current_value(i),
                       walked[i].kind))
      continue;
    differing.push_back(partner_value(i, j));
    keys.add(walked.key(i), walked[i].key_hash);
    maybe[walked[i].key_hash & mask] = true;
  }
  PopulatedVector<std::uint32_t> key_of(walked.size(), KeyTable::kMissing);
  std::vector<std::uint32_t> questions(keys.size(), 0);
  if (keys.size() > 0) {
    for (std::size_t i = 0; i < walked.size(); ++i) {
      if (pairing.walked[i].excluded || !maybe[walked[i].key_hash & mask]) continue;
      key_of[i] = keys.find(walked.key(i), walked[i].key_hash);
      if (key_of[i] != KeyTable::kMissing) ++questions[key_of[i]];
    }
  }
  // Every question of such a key is written, the others with the value they already hold, so
  // that the key's lines keep their places: a copy with a partner takes the partner's value, one
  // without keeps its own.
  std::vector<Difference> out;
  out.reserve(differing.size());
  auto next = differing.begin();
  for (std::size_t i = 0; i < walked.size(); ++i) {
    if (next != differing.end() && next->question == i) {
      out.push_back(std::move(*next++));
      continue;
    }
    const std::uint32_t k = key_of[i];
    if (k == KeyTable::kMissing || questions[k] < 2) continue;
    const long partner = pairing.walked[i].partner;
    out.push_back(partner < 0 ? Difference{i, std::string(walked.current_value(i)), walked[i].kind}
                              : partner_value(i, static_cast<std::size_t>(partner)));
  }
  return out;
}

bool shares_no_question(const ScriptReading& walked, const ScriptReading& searched,
                        const Pairing& pairing) {
  return pairing.pairs == 0 && pair_questions(walked, searched, ExclusionTable{}).pairs == 0;
}

int process_script_compare(const std::string& new_script, const ScriptReading& walked,
                           File& walked_records, const std::string& dumped_script,
                           const ScriptReading& searched, File& searched_records,
                           std::vector<Difference>& differences, std::vector<NotCarried>& lost,
                           int& difference_count) {
  ExclusionTable excluded;
  if (int status = load_exclusion_list(excluded); status != kOk) return status;
  const Pairing pairing = pair_questions(walked, searched, excluded);
  const std::string walked_name = record_file_name(new_script);
  const std::string searched_name = record_file_name(dumped_script);
  // Scripts of another board, or a file that only looks like a script, share no question: the
  // update would import the new script with none of the old settings.
  if (shares_no_question(walked, searched, pairing)) {
    std::printf("Error, no question of %s is in %s\r\n", dumped_script.c_str(), new_script.c_str());
    remove_if_same(walked_name, walked_records);
    remove_if_same(searched_name, searched_records);
    return kMissingFile;
  }
  OutFile diff("Difftemp.ini", create_anew("Difftemp.ini"));
  if (!diff) {
    std::printf("Cannot open %s\r\n", diff.name().c_str());
    return kMissingFile;
  }
  std::vector<Difference> found = update_differences(walked, searched, pairing);
  char line[kRecordLineMax];
  for (const Difference& d : found) {
    diff.write(std::string_view(
        line, record_line(walked.key(d.question), walked.default_value(d.question), d.value, line)));
  }
  if (!diff.finish()) return kMissingFile;
  remove_if_same(walked_name, walked_records);
  remove_if_same(searched_name, searched_records);
  lost.clear();
  for (std::size_t j : pairing.lost) {
    lost.push_back(NotCarried{std::string(searched.key(j)), std::string(searched.current_value(j))});
  }
  difference_count = static_cast<int>(found.size());
  differences = std::move(found);
  return kOk;
}

}  // namespace nvram

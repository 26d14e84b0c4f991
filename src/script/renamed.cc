#include "script/renamed.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace nvram {

void question_place(std::string_view token, std::string_view offset, std::string_view key,
                    std::string& out) {
  out.assign(token);
  out += '\n';
  out.append(offset);
  out += '\n';
  std::size_t run = 0;  // the start of the run of kept characters being passed over
  for (std::size_t i = 0; i < key.size(); ++i) {
    if ((key[i] >= '0' && key[i] <= '9') || key[i] == '.') {
      out.append(key.substr(run, i - run));
      run = i + 1;
    }
  }
  out.append(key.substr(run));
}

StringBlock question_places(const ScriptReading& reading) {
  StringBlock places;
  std::string place;
  for (std::size_t i = 0; i < reading.size(); ++i) {
    if (reading[i].has_token && reading[i].has_offset) {
      question_place(reading.token(i), reading.offset(i), reading.raw_key(i), place);
    } else {
      place.clear();
    }
    places.add(place);
  }
  return places;
}

void RenamedRound::add_walked(std::size_t index, std::string_view key) {
  walked_.push_back(index);
  walked_keys_.add(key);
}

std::vector<RenamedRound::Pair> RenamedRound::pair(const StringBlock& walked_places,
                                                   const PartnerSearch& searched,
                                                   const StringBlock& searched_places,
                                                   const ExclusionTable& excluded) const {
  std::vector<Pair> pairs;
  if (walked_.empty()) return pairs;
  // The searched leftovers of each place, in file order, and how many of them are taken.
  struct Leftovers {
    std::vector<std::size_t> lines;
    std::size_t taken = 0;
  };
  std::unordered_map<std::string_view, Leftovers> by_place;
  const std::size_t lines = std::min(searched.size(), searched_places.size());
  for (std::size_t j = 0; j < lines; ++j) {
    if (searched.paired(j) || searched_places[j].empty()) continue;
    if (is_excluded(searched.key(j), excluded)) continue;
    by_place[searched_places[j]].lines.push_back(j);
  }
  std::unordered_set<std::string_view> ended;  // walked keys whose round is over
  for (std::size_t left = 0; left < walked_.size(); ++left) {
    const std::string_view key = walked_keys_[left];
    if (ended.count(key)) continue;
    const std::size_t index = walked_[left];
    const std::string_view place =
        index < walked_places.size() ? walked_places[index] : std::string_view();
    auto it = place.empty() ? by_place.end() : by_place.find(place);
    if (it == by_place.end() || it->second.taken == it->second.lines.size()) {
      ended.insert(key);
      continue;
    }
    pairs.push_back(Pair{index, it->second.lines[it->second.taken++], left});
  }
  return pairs;
}

}  // namespace nvram

#include "script/renamed.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace nvram {

void append_place_text(std::string_view line, std::string& out) {
  std::size_t at = line.find('=');
  if (at == std::string_view::npos) return;
  for (++at; at < line.size(); ++at) {
    const char c = line[at];
    if (c == '/' || c == '\r' || c == '\n') break;
    if (c != ' ' && c != '\t') out += c;
  }
}

void append_question_place(std::string_view token_line, std::string_view offset_line,
                           std::string_view key, std::string& out) {
  if (token_line.empty() || offset_line.empty()) return;
  append_place_text(token_line, out);
  out += '\n';
  append_place_text(offset_line, out);
  out += '\n';
  for (char c : key) {
    if ((c < '0' || c > '9') && c != '.') out += c;
  }
}

void RenamedRound::add_walked(std::size_t index, std::string_view key, std::string_view place) {
  walked_.push_back(Walked{index, std::string(key), std::string(place)});
}

std::vector<RenamedRound::Pair> RenamedRound::pair(const PartnerSearch& searched,
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
    const Walked& w = walked_[left];
    if (ended.count(w.key)) continue;
    auto it = w.place.empty() ? by_place.end() : by_place.find(w.place);
    if (it == by_place.end() || it->second.taken == it->second.lines.size()) {
      ended.insert(w.key);
      continue;
    }
    pairs.push_back(Pair{w.index, it->second.lines[it->second.taken++], left});
  }
  return pairs;
}

}  // namespace nvram

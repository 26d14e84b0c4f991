#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "script/exclusion.h"
#include "script/reader.h"
#include "script/partner_search.h"
#include "script/string_block.h"

// The second round of the pairing of two scripts' questions. Some question texts carry a live
// reading ("DRAM Voltage 1.250V" becomes "DRAM Voltage 1.100V", "tCL 40" becomes "tCL 38") and so
// change their key from one export to the next while the question keeps its Token and Offset.
// After the pairing by key, a question left without a partner is paired with one of the other
// script's leftovers of the same place: Token, Offset and key skeleton.
namespace nvram {

// The place of a question into `out`: its Token and Offset texts and the skeleton of its key (the
// key as the Setup line gives it, before record lines write it, without the digits '0' to '9'
// and '.'), joined by line feeds. A question that lacks its Token or Offset line has the empty
// place and is never paired this way.
void question_place(std::string_view token, std::string_view offset, std::string_view key,
                    std::string& out);

// The place of every question of a reading, in order.
StringBlock question_places(const ScriptReading& reading);

class RenamedRound {
 public:
  struct Pair {
    std::size_t walked, searched;
    std::size_t left;  // the walked record's number among those added, from 0
  };

  // The next walked record left without a partner by key whose key is not excluded, in walk
  // order. Records are numbered as in their record file.
  void add_walked(std::size_t index, std::string_view key);

  bool empty() const { return walked_.empty(); }

  // Pairs the walked records added with the searched records that `searched` left unpaired and
  // whose key is not excluded: each takes the first such record (in file order) of its place not
  // yet taken. The walked copies of one key take part in order: the first that finds no partner
  // ends its key's round. Returns the pairs in walk order.
  // The places are those of the questions of each script, in order (question_places()).
  std::vector<Pair> pair(const StringBlock& walked_places, const PartnerSearch& searched,
                         const StringBlock& searched_places, const ExclusionTable& excluded) const;

 private:
  std::vector<std::size_t> walked_;
  StringBlock walked_keys_;
};

}  // namespace nvram

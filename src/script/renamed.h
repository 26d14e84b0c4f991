#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "script/exclusion.h"
#include "script/partner_search.h"
#include "script/string_block.h"

// The second round of the pairing of two scripts' questions. Some question texts carry a live
// reading ("DRAM Voltage 1.250V" becomes "DRAM Voltage 1.100V", "tCL 40" becomes "tCL 38") and so
// change their key from one export to the next while the question keeps its Token and Offset.
// After the pairing by key, a question left without a partner is paired with one of the other
// script's leftovers of the same place: Token, Offset and key skeleton.
namespace nvram {

// The place of a question, appended to `out`: its Token and Offset texts (after the first '=' of
// the lines, up to a '/' or the line end, blanks and tabs removed) and the skeleton of its key
// (the key as the Setup line gives it, before record lines write it, without the digits '0' to
// '9' and '.'), joined by line feeds. A question that lacks its Token or Offset line has the
// empty place and is never paired this way.
void append_question_place(std::string_view token_line, std::string_view offset_line,
                           std::string_view key, std::string& out);

// The Token or Offset text of such a line, blanks and tabs removed, appended to `out`.
void append_place_text(std::string_view line, std::string& out);

class RenamedRound {
 public:
  struct Pair {
    std::size_t walked, searched;
    std::size_t left;  // the walked record's number among those added, from 0
  };

  // The next walked record left without a partner by key whose key is not excluded, in walk
  // order, with its place (empty for none). Records are numbered as in the record file.
  void add_walked(std::size_t index, std::string_view key, std::string_view place);

  bool empty() const { return walked_.empty(); }

  // Pairs the walked records added with the searched records that `searched` left unpaired and
  // whose key is not excluded: each takes the first such record (in file order) of its place not
  // yet taken. The walked copies of one key take part in order: the first that finds no partner
  // ends its key's round. Returns the pairs in walk order.
  std::vector<Pair> pair(const PartnerSearch& searched, const StringBlock& searched_places,
                         const ExclusionTable& excluded) const;

 private:
  struct Walked {
    std::size_t index;
    std::string key, place;
  };
  std::vector<Walked> walked_;
};

}  // namespace nvram

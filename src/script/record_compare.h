#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "script/carry.h"
#include "script/exclusion.h"
#include "script/file.h"
#include "script/reader.h"

// The comparison of two scripts' questions that finds the settings an update must carry over.
namespace nvram {

// What the comparison makes of one walked question.
struct RecordPair {
  std::size_t walked;    // the question's index in the walked reading
  long partner;          // its partner's index in the searched reading; -1 for none or excluded
  bool excluded;         // the exclusion list names its key
  bool renamed;          // paired by place, after the pairing by key found no partner
  bool difference_line;  // "Difftemp.ini" gets a line for it (walked key and default value,
                         // the partner's current value)
};

// Pairs the walked questions, in walk order, with the searched ones by key: each search reads on
// from the question after the previous partner to the end, wraps to the top once, and never pairs
// a searched question twice; a search that finds nothing starts the next one at the top. The
// questions left over are then paired by place (RenamedRound). A paired question whose current
// value differs from its partner's gets a difference line, and so does every paired question of a
// key that stands on more than one walked question when one of that key's pairs differs, so that
// each copy of a repeated question is set to the value of its own partner. Returns one entry per
// walked question, in walk order.
std::vector<RecordPair> pair_records(const ScriptReading& walked, const ScriptReading& searched,
                                     const ExclusionTable& excluded);

// The comparison of the update: loads "Exclude.txt", pairs the questions of the new update script
// (walked) with those of the dumped script (searched), writes "Difftemp.ini" (one line per
// difference line, in walk order: the walked key and default value and the partner's current
// value) and hands the same values to `differences`, for the merge. Then removes both record
// files, each only while its name still names the file this run wrote (`*_records`).
//
// Returns 0 after storing the number of lines written in difference_count; returns 3 when
// "Exclude.txt" cannot be opened or read, or "Difftemp.ini" cannot be opened ("Cannot open
// %s\r\n") or written whole, leaving the count untouched and every file in place.
int process_script_compare(const std::string& new_script, const ScriptReading& walked,
                           File& walked_records, const std::string& dumped_script,
                           const ScriptReading& searched, File& searched_records,
                           std::vector<Difference>& differences, int& difference_count);

}  // namespace nvram

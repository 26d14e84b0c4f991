#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "script/exclusion.h"
#include "script/file.h"

// The comparison of two record files that finds the settings an update must carry over.
namespace nvram {

// The three fields of a record line, as the comparison reads them.
struct RecordFields {
  std::string key, default_value, current_value;
  std::string place;  // beside the record: Token, Offset and key skeleton (renamed.h)
};

// Takes a record line apart. The scan stops at CR, LF, '/' or '>'; '}' and ']' close a field;
// every other character is stored in the open field (if any, and while it holds fewer than 63)
// and then '{', '[' and '<' open the key, the default value and the current value. So an opening
// character met inside a field belongs to that field and also switches to the field it opens.
RecordFields split_record(std::string_view record_line);

// What the comparison makes of one walked record.
struct RecordPair {
  std::size_t walked;    // the record's index in the walked records
  long partner;          // its partner's index in the searched records; -1 for none or excluded
  bool excluded;         // the exclusion list names its key
  bool renamed;          // paired by place, after the pairing by key found no partner
  bool difference_line;  // "Difftemp.ini" gets a line for it (walked key and default value,
                         // the partner's current value)
};

// Pairs the walked records, in walk order, with the searched records by the comparison's search
// (below), then pairs the records left over by place (RenamedRound), and decides which of them get
// a difference line: a paired record whose current value differs from its partner's, and every
// paired record of a key that stands on more than one walked line when one of that key's pairs
// differs. Returns one entry per walked record,
// in walk order.
std::vector<RecordPair> pair_records(const std::vector<RecordFields>& walked,
                                     const std::vector<RecordFields>& searched,
                                     const ExclusionTable& excluded);

// Walks the record file of new_script from top to bottom and pairs each of its records that the
// exclusion list does not name with the record of the same question key in the record file of
// dumped_script. For every pair whose current values differ, "Difftemp.ini" receives a line with
// the walked key and default value and the dumped current value. A key that stands on more than
// one walked line and differs on any of its pairs gets such a line for every one of its pairs,
// equal or not, so that each copy of a repeated question is set to the value of its own partner.
//
// The pairing search starts where the previous successful one left off (the line after its
// partner), wraps to the top once, and never pairs a dumped line twice; a failed search starts the
// next one at the top. Either file may hold any number of lines: the dumped file is indexed once
// so that every search costs the same whatever the order of the records. The records left over
// are then paired by place (RenamedRound), read from both scripts (read_script_places(); a script
// that cannot be opened gives its records no place), and a differing pair gets its line like a
// pair by key, in walk order.
//
// Returns 0 after storing the number of lines written in difference_count and removing both
// record files; returns 3 when "Exclude.txt", a record file or "Difftemp.ini" cannot be opened
// ("Cannot open %s\r\n"), a record file or a script whose places are needed cannot be read to its
// end ("Error, cannot read file %s\r\n") or "Difftemp.ini" cannot be written whole, leaving the count untouched and every file in
// place.
int process_script_compare(const std::string& new_script, const std::string& dumped_script,
                           int& difference_count);

// The same with both record files already open for reading at their start (as
// process_script_convert() hands them over): these are compared, whatever the names hold now, and
// each name is removed only while it still names the file compared.
int process_script_compare(const std::string& new_script, const std::string& dumped_script,
                           File& walked, File& searched, int& difference_count);

}  // namespace nvram

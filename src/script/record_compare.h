#pragma once

#include <string>

// The comparison of two record files that finds the settings an update must carry over.
namespace nvram {

// Walks the record file of new_script from top to bottom and pairs each of its records that the
// exclusion list does not name with the record of the same question key in the record file of
// dumped_script. For every pair whose current values differ, "Difftemp.ini" receives a line with
// the walked key and default value and the dumped current value.
//
// The pairing search starts where the previous successful one left off (the line after its
// partner), wraps to the top once, and never pairs a dumped line twice; a failed search starts the
// next one at the top. Either file may hold any number of lines: the dumped file is indexed once
// so that every search costs the same whatever the order of the records.
//
// Returns 0 after storing the number of lines written in difference_count and removing both
// record files; returns 3 when "Exclude.txt", a record file or "Difftemp.ini" cannot be opened
// ("Cannot open %s\r\n"), a record file cannot be read to its end ("Error, cannot read file
// %s\r\n") or "Difftemp.ini" cannot be written whole, leaving the count untouched and every file in
// place.
int process_script_compare(const std::string& new_script, const std::string& dumped_script,
                           int& difference_count);

}  // namespace nvram

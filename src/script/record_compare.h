#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "script/carry.h"
#include "script/exclusion.h"
#include "script/file.h"
#include "script/pairing.h"
#include "script/reader.h"

// The comparison of two scripts' questions that finds the settings an update must carry over.
namespace nvram {

// The values the update writes, in walk order (the new update script's questions, walked, paired
// with the dumped script's, searched): a paired question whose current value differs from its
// partner's takes the partner's value. Where a key stands on several walked questions and one of
// them takes a value, every question of that key gets one, its partner's value or, without a
// partner, its own: so the n-th line of a key in "Difftemp.ini" is always for that key's n-th
// question.
std::vector<Difference> update_differences(const ScriptReading& walked,
                                           const ScriptReading& searched, const Pairing& pairing);

// The comparison of the update: loads "Exclude.txt", pairs the questions of the new update script
// (walked) with those of the dumped script (searched) and writes "Difftemp.ini", one line per
// value that the update writes (update_differences()), with the walked key and default value and
// that value, and hands the same values to `differences` and the settings that the update cannot
// carry to `lost`, for the merge. Then removes both record files, each only while its name still
// names the file this run wrote (`*_records`).
//
// Returns 0 after storing the number of lines written in difference_count. Returns 3, leaving
// the count untouched, when "Exclude.txt" cannot be opened or read; when no question of the
// dumped script would pair with one of the new script even with nothing excluded ("Error, no
// question of %s is in %s\r\n", after which both record files are removed and "Difftemp.ini" is
// left alone); when "Difftemp.ini" cannot be opened ("Cannot open %s\r\n") or written whole.
int process_script_compare(const std::string& new_script, const ScriptReading& walked,
                           File& walked_records, const std::string& dumped_script,
                           const ScriptReading& searched, File& searched_records,
                           std::vector<Difference>& differences, std::vector<NotCarried>& lost,
                           int& difference_count);

// Whether a pairing that found no pair means that the two scripts share no question at all: the
// same pairing with nothing excluded finds none either.
bool shares_no_question(const ScriptReading& walked, const ScriptReading& searched,
                        const Pairing& pairing);

}  // namespace nvram

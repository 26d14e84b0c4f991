#pragma once

#include <string>
#include <vector>

#include "script/carry.h"
#include "script/reader.h"

// Writing the settings of an update into a setup script.
namespace nvram {

// Copies the script of `reading` (which must keep its bytes) into output, writing each
// difference's value into its question where carry_into() says the question takes it: the
// question's option block moves its '*' marker to the option "[value]", and its Value line gets
// the value after its '=', in the line's own kind. Every other byte is copied unchanged, NUL bytes
// and what follows them included; the tests of a line (its markers, its '=') read it only up to
// its first NUL. After the merged script is written, every difference that is not written is
// named, in script order, as "Not carried: %s = %s\r\n" with the question key and the value,
// unless the question already holds the value; then each of `lost`, the settings that have no
// question to go into.
//
// Returns 0; 3 with "can't open file" when output cannot be created, or with "Error, cannot write
// file %s\r\n" when it could not be written whole.
int use_different_create_merged(const ScriptReading& reading, std::vector<Difference> differences,
                                const std::string& output, const std::vector<NotCarried>& lost = {});

// The same from files: reads the setup script and the difference file once each and hands the
// n-th line of a question key to the n-th question of that key. A line completes at CR, LF or
// '/'; '}', ']' and '>' close the open field; any other byte is stored in the open field (if
// any, and while it holds fewer than 63) and then '{', '[' and '<' open the key, the default
// value and the current value. A line never completed (a last line without line end) takes no
// part. A line that no question takes is named "Not carried" after the others.
//
// All three files are opened before any failure is reported, so output is created or emptied even
// when an input is missing. Returns 0; 3 with "can't open file" when a file cannot be opened, with
// "Error, cannot read file %s\r\n" when an input cannot be read to its end, or with "Error,
// cannot write file %s\r\n" when output could not be written whole.
int use_different_create_merged(const std::string& script, const std::string& difference_file,
                                const std::string& output);

}  // namespace nvram

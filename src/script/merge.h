#pragma once

#include <string>

#include "script/carry.h"

// Writing the settings of a difference file into a setup script.
namespace nvram {

// Copies the setup script into output, writing the values of the difference file where the carry
// walk (walk_carry()) says a question takes them: the question's option block moves its '*' marker
// to the option "[value]", and its Value lines get the value after their '=', in the line's own
// shape (value_line_shape()). Every difference line that is not written (a Value line or option
// block that cannot take it, a question with nothing to take it, no Setup line of its key) is
// reported after the merged script is written, as "Not carried: %s = %s\r\n" with the question key
// and the value, unless the question already holds the value. Every other byte is
// copied unchanged, piece by 299-byte piece, NUL bytes and what follows them included; the tests
// of a line (its class, its key, the markers, the '=') read it only up to its first NUL.
//
// All three files are opened before any failure is reported, so output is created or emptied even
// when an input is missing. Returns 0 when the script has been read to its end; 3 with
// "can't open file" when a file cannot be opened, with "Error, cannot read file %s\r\n" when an
// input cannot be read to its end, or with "Error, cannot write file %s\r\n" when output could not
// be written whole.
int use_different_create_merged(const std::string& script, const std::string& difference_file,
                                const std::string& output);

}  // namespace nvram

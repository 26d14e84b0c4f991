#pragma once

#include <string>
#include <string_view>
#include <vector>

// Writing the settings of a difference file into a setup script.
namespace nvram {

// Copies the setup script into output. A Setup line whose question key has an unused line in
// the difference file takes the first such line (in file order) and its current value: the
// question's option block moves its '*' marker to the option "[value]", and its Value lines get
// the value after their '=', in the line's own shape (value_line_shape()). The question's rewrite
// ends at the first short line (at most 3 bytes with the line end). A value that a Value line or
// an option block cannot take (value_fits(), option_block_takes()) leaves it unchanged and is
// reported as "Not carried: %s = %s\r\n" with the question key and the value. Every other byte is
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

// The shape of a Value line's value, read from the first byte after the line's first '=' (looked
// for before its first CR or LF) that is not a blank or tab: '<' an angled number
// ("Value\t=<4500>"), '"' with a second '"' before the line end a text ("Value =\"INT33D5\""),
// anything else, or no '=', a bare value ("Value =05 // Seconds").
enum class ValueLineShape { kBare, kAngled, kText };
ValueLineShape value_line_shape(std::string_view value_line);

// Whether the merge can write the value into a Value line of that shape: a number (one or more
// hexadecimal digits) into a bare or angled line, a text (a value that begins and ends with '"')
// into a text line. Everything else (an empty value, "?", a text cut to its hash, a text into a
// number or a number into a text) does not fit.
bool value_fits(std::string_view value, ValueLineShape shape);

// Whether an option block can take the value: "[value]" occurs in one of its lines, short lines
// (at most 3 bytes with the line end; they hold no option) aside. `block_lines` are the lines
// from the Options line on, each as far as its first NUL byte.
bool option_block_takes(std::string_view value, const std::vector<std::string>& block_lines);

}  // namespace nvram

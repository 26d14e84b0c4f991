#pragma once

#include <string>

// Writing the settings of a difference file into a setup script.
namespace nvram {

// Copies the setup script into output. A Setup line whose question key has an unused line in
// the difference file takes the first such line (in file order) and its current value: the
// question's option lines move their '*' marker to the option "[value]", and its Value lines get
// the value after their '='. The question's rewrite ends at the first short line (at most 3 bytes
// with the line end). Every other byte is copied unchanged, piece by 299-byte piece.
//
// All three files are opened before any failure is reported, so output is created or emptied even
// when an input is missing. Returns 0 when the script has been read to its end; 3 with
// "can't open file" when a file cannot be opened, with "Error, cannot read file %s\r\n" when an
// input cannot be read to its end, or with "Error, cannot write file %s\r\n" when output could not
// be written whole.
int use_different_create_merged(const std::string& script, const std::string& difference_file,
                                const std::string& output);

}  // namespace nvram

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/string_block.h"

// The setup-script reader: turns a setup script into its record file, one line
// "{key},[default],<current>\r\n" per question.
namespace nvram {

// Converts a setup script into its record file (named by record_file_name()). Returns 0, or 3
// after printing its message: the script or the record file cannot be opened, the script cannot be
// read to its end, or the record file cannot be written whole. On success stores the number of
// records closed by a blank line.
int process_script_convert(const std::string& script_name, int& record_count);

// The place (question_place()) of every record of a setup script, in the order of its record file:
// record files hold no Token or Offset, so a comparison that has records left without a partner
// reads them from the script. Returns 0; or 3 after "Error, cannot open file %s\r\n" or "Error,
// cannot read file %s\r\n", leaving `places` untouched.
int read_script_places(const std::string& script_name, StringBlock& places);

// One record of a setup script, as the converter writes it.
struct ScriptRecord {
  std::string line;            // "{key},[default],<current>\r\n", exactly the record-file line
  std::uint64_t setup_offset;  // byte offset in the script of the piece of the Setup line that
                               // opened the record
  std::string place;           // Token, Offset and key skeleton (question_place())
};

// Reads a setup script by the converter's own rules into memory, without writing a record file:
// `records` receives the lines that process_script_convert would write, in the same order, and
// `record_count` the same count. Returns 0; or 3 after "Error, cannot open file %s\r\n" (the
// script cannot be opened) or "Error, cannot read file %s\r\n" (it cannot be read to its end),
// leaving both out-parameters untouched.
int read_script_records(const std::string& script_name, std::vector<ScriptRecord>& records,
                        int& record_count);

}  // namespace nvram

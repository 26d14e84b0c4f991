#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "script/file.h"
#include "script/string_block.h"

// The setup-script reader: turns a setup script into its record file, one line
// "{key},[default],<current>\r\n" per question.
namespace nvram {

// Converts a setup script into its record file (named by record_file_name()). The record file is
// written whole under a temporary name beside it and renamed into place, replacing whatever stood
// at its name (a link included). Returns 0, or 3 after printing its message: the script or the
// record file cannot be opened, the script cannot be read to its end, or the record file cannot be
// written whole. On success stores the number of records closed by a blank line and, in the second
// form, hands over the record file just written, open for reading at its start: the records of
// this run, even when another run has replaced or removed the file at that name meanwhile; and in
// `records_written` (when given) the number of records written, the one still open at the
// script's end included.
int process_script_convert(const std::string& script_name, int& record_count);
int process_script_convert(const std::string& script_name, int& record_count, File& records,
                           int* records_written = nullptr);

// The place (question_place()) of every record of a setup script, in the order of its record file:
// record files hold no Token or Offset, so a comparison that has records left without a partner
// reads them from the script. Returns 0; or 3 after "Error, cannot open file %s\r\n" or "Error,
// cannot read file %s\r\n", leaving `places` untouched.
int read_script_places(const std::string& script_name, StringBlock& places);

// A script from which the conversion wrote no record holds no setup question, which is an error:
// prints "Error, no setup question in %s\r\n" with the name and returns 3; returns 0 otherwise.
int check_setup_question(const std::string& script_name, int records_written);

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

// The same from an open stream, read from where it stands; `records` receives them after what it
// holds. Returns false when the stream cannot be read to its end (the records are then those of
// a part of it). Prints nothing.
bool scan_script_records(std::FILE* script, std::vector<ScriptRecord>& records);

// The same from a script already in memory; returns the count of records closed by a blank line.
int scan_script_records(std::string_view bytes, std::vector<ScriptRecord>& records);

}  // namespace nvram

#pragma once

#include <string>

// The setup-script reader: turns a setup script into its record file, one line
// "{key},[default],<current>\r\n" per question.
namespace nvram {

// Converts a setup script into its record file (named by record_file_name()). Returns 0, or 3
// after printing its message: the script or the record file cannot be opened, the script cannot be
// read to its end, or the record file cannot be written whole. On success stores the number of
// records closed by a blank line.
int process_script_convert(const std::string& script_name, int& record_count);

}  // namespace nvram

#pragma once

#include <string>
#include <string_view>
#include <vector>

// Files, the state directory of the simulated machine, and UEFI variable blocks.
namespace sim {

// Whole-file reads and writes; false on any failure.
bool read_file(const std::string& path, std::string& data);
bool write_file(const std::string& path, std::string_view data);
// Writes a sibling temporary file and renames it over `path`, so that `path` holds either the
// old or the new bytes, never a part.
bool replace_file(const std::string& path, std::string_view data);
bool readable(const std::string& path);

// The state directory: $SCELNX_SIM_STATE, or "sim-machine" in the current directory.
std::string state_dir();
// Creates the state directory from the machine built into the program when it does not exist.
bool open_state(const std::string& dir, std::string& error);

// A variable as a list or data file names it:
//   [VARIABLE]
//   VARIABLE_NAME = AMITSESetup
//   VARIABLE_GUID = c811fa38-42c8-4579-a9bb-60e94eddfb34
//   VARIABLE_DATA = 00 01 FF      (data files only)
struct Variable {
  std::string name, guid;  // guid in lower case
  bool has_data = false;
  std::string data;
};

bool parse_variables(std::string_view text, bool need_data, std::vector<Variable>& out,
                     std::string& error);
std::string format_variables(const std::vector<Variable>& vars);
// The file of a variable in the state directory: DIR/vars/NAME-GUID, holding its raw bytes.
std::string variable_path(const std::string& dir, const Variable& v);

}  // namespace sim

#pragma once

#include <string>

#include "nvram/tool.h"

// The commands. Each is entered with the whole argument vector, takes its file names from fixed
// positions (arguments 2 to 5) and returns the exit status.
namespace nvram {

struct Args {
  int argc = 0;
  char** argv = nullptr;
  // Argument i, or nullptr when the vector holds fewer arguments.
  const char* at(int i) const { return i >= 0 && i < argc ? argv[i] : nullptr; }
};

// -s fn1 fn2: export the settings into fn2, stamped with the BIOS version.
int cmd_export(const Args& args, ToolRunner& tool, const char* bios_version);

// -p, -r, -g, -j fn: get or set the password or HDD-priority variables; `letter` is the option
// letter in lower case.
int cmd_variables(char letter, const Args& args, ToolRunner& tool);

// -c fn: compare the live settings with a saved script.
int cmd_compare(const Args& args, ToolRunner& tool);

// -u fn1 fn2 [fn3 fn4]: carry a dumped script's values into a new script and import it.
int cmd_update(const Args& args, ToolRunner& tool);

// The file work of -u, without the tool: converts the new update script and the dumped script,
// compares them into "Difftemp.ini" and writes "merged.txt". Returns 0, or the status of the step
// that failed (after its message).
int update_files(const std::string& dumped, const std::string& update);

}  // namespace nvram

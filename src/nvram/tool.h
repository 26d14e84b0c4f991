#pragma once

#include <string>
#include <vector>

#include "dmidec/process.h"

// The seam to the setup-control tool "./SCELNX_64" in the current directory. Commands talk to
// the tool only through a ToolRunner, so that tests can put a recording fake in its place.
namespace nvram {

// The tool's file in the current directory. It is an input of every command that runs it: no
// command may write over it.
inline constexpr char kToolFile[] = "SCELNX_64";

class ToolRunner {
 public:
  virtual ~ToolRunner() = default;
  // True when "SCELNX_64" can be opened for reading in the current directory.
  virtual bool present() = 0;
  // Runs the tool with these argument words (the words after "./SCELNX_64"), no shell involved.
  virtual ProcessResult run(const std::vector<std::string>& args) = 0;
};

// The real tool: "SCELNX_64" in the current directory, started directly.
class SystemTool : public ToolRunner {
 public:
  bool present() override;
  ProcessResult run(const std::vector<std::string>& args) override;
};

// True, after "Error, file name conflict: SCELNX_64\r\n", when one of the files a command writes
// (empty names aside) is the tool's file. Every command that runs the tool asks this, once its
// own files have been checked against each other and its inputs.
bool writes_tool(const std::vector<std::string>& written);

// Presence check: prints "No SCELNX_64 found!" and returns 3 when the tool is absent, else 0.
int check_tool(ToolRunner& tool);

// Runs the tool. Exit code 1, a tool that could not be started and a tool ended by a signal print
// "Error occurred during BIOS setting operation!" and give 1; any other exit code gives 0.
int run_tool(ToolRunner& tool, const std::vector<std::string>& args);

}  // namespace nvram

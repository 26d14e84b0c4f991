#include "nvram/tool.h"

#include <cstdio>

#include "script/file.h"
#include "script/status.h"

namespace nvram {

bool SystemTool::present() { return static_cast<bool>(File(kToolFile, "r")); }

ProcessResult SystemTool::run(const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 1);
  argv.emplace_back("./SCELNX_64");
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv);
}

bool writes_tool(const std::vector<std::string>& written) {
  for (const std::string& name : written) {
    if (!name.empty() && same_file(name, kToolFile)) {
      print_conflict(kToolFile);
      return true;
    }
  }
  return false;
}

int check_tool(ToolRunner& tool) {
  if (tool.present()) return kOk;
  std::puts("No SCELNX_64 found!");
  return kMissingFile;
}

int run_tool(ToolRunner& tool, const std::vector<std::string>& args) {
  // Our own messages must reach a pipe or log before anything the tool prints.
  std::fflush(stdout);
  ProcessResult r = tool.run(args);
  if (!r.started || r.signaled || r.exit_code == 1) {
    std::puts("Error occurred during BIOS setting operation!");
    return kToolFailed;
  }
  return kOk;
}

}  // namespace nvram

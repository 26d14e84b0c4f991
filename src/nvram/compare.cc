#include <cstdio>

#include "nvram/commands.h"
#include "script/status.h"

namespace nvram {

int cmd_compare(const Args& args, ToolRunner& tool) {
  (void)tool;
  if (!args.at(2)) {
    std::puts("NVRAM -c [fn]");
    return kUsage;
  }
  return kOk;  // built with the script processing
}

}  // namespace nvram

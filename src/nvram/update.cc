#include <cstdio>

#include "nvram/commands.h"
#include "script/status.h"

namespace nvram {

int cmd_update(const Args& args, ToolRunner& tool) {
  (void)tool;
  if (!args.at(2) || !args.at(3)) {
    std::puts("NVRAM -u [fn1,fn2,fn3,fn4]");
    return kUsage;
  }
  return kOk;  // built with the script processing
}

}  // namespace nvram

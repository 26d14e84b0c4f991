#include <csignal>

#include "nvram/nvram.h"
#include "nvram/tool.h"

int main(int argc, char** argv) {
  // A file-size limit must show as a failed write that the program reports, not as a signal.
  std::signal(SIGXFSZ, SIG_IGN);
  nvram::SystemTool tool;
  return nvram::nvram_main(argc, argv, tool);
}

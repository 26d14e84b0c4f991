#pragma once

#include "dmidec/dmidec.h"
#include "nvram/tool.h"

namespace nvram {

// Prints the banner and usage, one line per puts().
void show_ver_info();

using VersionQuery = void (*)(char (&field)[kVersionFieldSize]);

// The whole program: platform check, argument walk and dispatch. Returns the exit status.
int nvram_main(int argc, char** argv, ToolRunner& tool, VersionQuery query = BiosVerFromDMI);

}  // namespace nvram

#include "nvram/nvram.h"

#include <cstdio>
#include <cstring>

#include "nvram/commands.h"
#include "nvram/dir_lock.h"
#include "nvram/privilege.h"
#include "script/status.h"

namespace nvram {

void show_ver_info() {
  static const char* const kLines[] = {
      "\n",
      "Vornel XB series platform",
      "Linux 64bit NVRAM System Configuration utility, V1.01",
      "Copyright (C) 2026 The NVRAM developers. All rights reserved.\n",
      "Usage: NVRAM [-?,-s [fn1,fn2] -u [fn1,fn2,fn3,fn4] -c [fn] -p [fn] -r [fn]]",
      "\t-?       : Display this usage screen.",
      "\t-s  [fn1]: database file name [fn2]: script file name",
      "\t-u  [fn1,fn2]: script file to update NVRAM [fn3,fn4] Resource",
      "\t    [fn1]: The dumped script file [fn2]: New update script file",
      "\t    [fn3]: ResourceFile [fn4]: Defaults.bin",
      "\t-c  [fn]   Compare with script file and system settings",
      "\t    [fn] : Script file",
      "\t-p  [fn] : Get system password",
      "\t    [fn] : Password file name",
      "\t-r  [fn] : Set password to NVRAM",
      "\t    [fn] : Password file name",
      "\t-g  [fn] : Get HDD priority",
      "\t    [fn] : HDD priority file name",
      "\t-j  [fn] : Set HDD priority to NVRAM",
      "\t    [fn] : HDD priority file name",
      "\tfn = filename.\n",
  };
  for (const char* line : kLines) std::puts(line);
}

namespace {

// Runs the command of option letter `letter` (lower case) while holding the directory's lock.
int run_command(char letter, const Args& args, ToolRunner& tool, const char* version) {
  DirectoryLock lock;
  if (lock.acquire() == DirectoryLock::kBusy) {
    std::printf("Error, another NVRAM run is working in this directory\r\n");
    return kMissingFile;
  }
  switch (letter) {
    case 'c':
      return cmd_compare(args, tool);
    case 's':
      return cmd_export(args, tool, version);
    case 'u':
      return cmd_update(args, tool);
    default:
      return cmd_variables(letter, args, tool);
  }
}

// The option letter of an argument, in lower case.
char option_letter(const char* arg) { return static_cast<char>(arg[1] | 0x20); }

// "--help", "-h", "-H" or "-help" as the first argument: a request for the usage, which needs no
// platform.
bool asks_for_help(const char* arg) {
  return arg[0] == '-' && (option_letter(arg) == 'h' || std::strcmp(arg, "--help") == 0);
}

}  // namespace

int nvram_main(int argc, char** argv, ToolRunner& tool, VersionQuery query) {
  set_io_privilege(3);
  if (argc <= 1 || asks_for_help(argv[1])) {
    show_ver_info();
    set_io_privilege(0);
    return kOk;
  }
  // The program's own version needs no platform.
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("NVRAM %s\n", NVRAM_VERSION);
    set_io_privilege(0);
    return kOk;
  }

  char version[kVersionFieldSize] = {};
  query(version);
  if (version[0] != 'X' || version[1] != 'B') {
    std::puts("This utility has to run in Vornel!");
    return kWrongPlatform;
  }

  const Args args{argc, argv};
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') continue;
    const char letter = option_letter(argv[i]);
    switch (letter) {
      case '?':
        show_ver_info();
        set_io_privilege(0);
        return kOk;
      case 'c':
      case 'g':
      case 'j':
      case 'p':
      case 'r':
      case 's':
      case 'u':
        return run_command(letter, args, tool, version);
      case 't':
        break;
      case 'v':
        std::printf("\nBIOS_VERSION = %s\n", version);
        break;
      default:
        return kUsage;
    }
  }
  set_io_privilege(0);
  return kOk;
}

}  // namespace nvram

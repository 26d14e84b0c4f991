#pragma once

#include <string>
#include <vector>

// Starting another program directly, without a shell: the argument words reach it exactly as
// given, so no file name can run shell code. This is the one place that creates processes.
namespace nvram {

struct ProcessResult {
  bool started = false;   // false: the program could not be started (see error)
  bool signaled = false;  // the program was ended by a signal
  int exit_code = 0;      // valid when started and not signaled
  int error = 0;          // errno of the failed start
};

// Runs argv[0] (searched on PATH when it holds no '/') with the given arguments and waits for it.
// When `output` is given, the program's standard output is read to its end into it; otherwise the
// program shares this process's standard output.
ProcessResult run_process(const std::vector<std::string>& argv, std::string* output = nullptr);

}  // namespace nvram

#pragma once

// nvram-diff's command line: nvram-diff [OPTIONS] OLD NEW. Returns the exit status: 0 when the
// scripts agree, 1 when they differ, 2 on trouble (a bad option, a file that cannot be read),
// which is reported in one line on standard error.
namespace nvram::diff {

int diff_main(int argc, char** argv);

}  // namespace nvram::diff

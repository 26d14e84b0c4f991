#include "diff/cli.h"

int main(int argc, char** argv) { return nvram::diff::diff_main(argc, argv); }

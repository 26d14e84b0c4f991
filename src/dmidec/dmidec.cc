#include "dmidec/dmidec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "dmidec/process.h"

namespace nvram {

void version_field_from_output(std::string_view output, char (&field)[kVersionFieldSize]) {
  std::string_view text = output.substr(0, output.find('\0'));
  std::size_t line_end = text.find('\n');
  if (line_end != std::string_view::npos) text = text.substr(0, line_end + 1);
  text = text.substr(0, kVersionFieldSize - 1);
  std::memcpy(field, text.data(), text.size());
}

void BiosVerFromDMI(char (&field)[kVersionFieldSize]) {
  std::string output;
  ProcessResult r = run_process({"dmidecode", "-s", "bios-version"}, &output);
  // A dmidecode that is not installed leaves the field empty, as an empty output would; only a
  // failure to create the pipe or the process itself is a system error worth a message.
  if (!r.started && r.error != ENOENT && r.error != EACCES && r.error != ENOEXEC) {
    errno = r.error;
    std::perror("couldn't ope pipe");
    return;
  }
  version_field_from_output(output, field);
}

}  // namespace nvram

// The record comparison of the update on two arbitrary record files and an arbitrary exclusion
// list. Input: the new script's record file, "\n%%\n", the dumped script's record file, "\n%%\n",
// "Exclude.txt".
#include <string>

#include "fuzz_util.h"
#include "script/record_compare.h"

namespace {

// Difference lines are record lines whose fields (at most 63 bytes) hold no line end.
void check_difference_file(const std::string& text, int count) {
  std::vector<std::string_view> lines = fuzz::lines_of(text);
  FUZZ_CHECK(lines.size() == static_cast<std::size_t>(count));
  for (std::string_view line : lines) {
    FUZZ_CHECK(line.size() >= 10 && line.size() <= 3 * 63 + 10);
    FUZZ_CHECK(line.front() == '{' && line.substr(line.size() - 3) == ">\r\n");
    FUZZ_CHECK(line.find('\r') == line.size() - 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDir scratch;
  std::vector<std::string> parts = fuzz::split_input(data, size, 3);
  fuzz::write_file("new.ini", parts[0]);
  fuzz::write_file("old.ini", parts[1]);
  fuzz::write_file("Exclude.txt", parts[2]);

  int count = -1;
  FUZZ_CHECK(nvram::process_script_compare("new.txt", "old.txt", count) == 0);
  FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= fuzz::line_pieces(parts[0]).size());
  check_difference_file(fuzz::read_file("Difftemp.ini"), count);
  FUZZ_CHECK(!fuzz::file_exists("new.ini") && !fuzz::file_exists("old.ini"));
  FUZZ_CHECK(fuzz::read_file("Exclude.txt") == parts[2]);

  // A record file compared with itself: every record is its own partner, so nothing differs.
  fuzz::write_file("new.ini", parts[0]);
  count = -1;
  FUZZ_CHECK(nvram::process_script_compare("new.txt", "new.sh", count) == 0);
  FUZZ_CHECK(count == 0);
  FUZZ_CHECK(fuzz::read_file("Difftemp.ini").empty());
  FUZZ_CHECK(!fuzz::file_exists("new.ini"));
  return 0;
}

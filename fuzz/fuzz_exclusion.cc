// The exclusion list: loading arbitrary "Exclude.txt" files and testing keys against them.
// Input: the file, "\n%%\n", a question key.
#include <algorithm>
#include <string>

#include "fuzz_util.h"
#include "script/exclusion.h"
#include "script/record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDir scratch;
  std::vector<std::string> parts = fuzz::split_input(data, size, 2);
  fuzz::write_file("Exclude.txt", parts[0]);
  const std::string& key = parts[1];

  nvram::ExclusionTable table;
  FUZZ_CHECK(nvram::load_exclusion_list(table) == 0);

  // The entries as the file's first 100 pieces give them, comments left out; each also as typed,
  // which names a key as it is printed (and written).
  std::vector<std::string> expected, typed;
  std::vector<std::string> pieces = fuzz::line_pieces(parts[0]);
  for (std::size_t i = 0; i < pieces.size() && i < 100; ++i) {
    if (!pieces[i].empty() && pieces[i][0] == '/') continue;
    std::string entry;
    for (char c : pieces[i]) {
      if (entry.size() < 64 && nvram::is_visible(static_cast<unsigned char>(c))) entry += c;
    }
    expected.push_back(nvram::written_key(entry));  // compared as keys are written
    typed.push_back(entry);
  }
  FUZZ_CHECK(table.entries == expected);

  std::string squeezed;
  for (char c : key) {
    if (c != ' ') squeezed += c;
  }
  bool listed = std::find(expected.begin(), expected.end(), squeezed) != expected.end() ||
                std::find(typed.begin(), typed.end(), squeezed) != typed.end();
  FUZZ_CHECK(nvram::is_excluded(key, table) == listed);
  for (const std::string& entry : table.entries) {
    FUZZ_CHECK(nvram::is_excluded(entry, table));
    FUZZ_CHECK(nvram::is_excluded(" " + entry + " ", table));
  }
  FUZZ_CHECK(fuzz::read_file("Exclude.txt") == parts[0]);
  return 0;
}

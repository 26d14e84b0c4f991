// The record comparison of the update on two arbitrary scripts and an arbitrary exclusion list.
// Input: the new script, "\n%%\n", the dumped script, "\n%%\n", "Exclude.txt".
#include <map>
#include <string>

#include "fuzz_util.h"
#include "script/exclusion.h"
#include "script/pairing.h"
#include "script/reader.h"
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

// A question that each file holds once and that is not excluded always finds its partner, so
// when the two current values differ its difference line is there, with the new file's key and
// default value and the dumped file's current value.
void check_unique_questions(const std::string& walked, const std::string& searched,
                            const std::string& differences) {
  std::vector<fuzz::PlainRecord> new_records, old_records;
  if (!fuzz::plain_records(walked, new_records) || !fuzz::plain_records(searched, old_records))
    return;
  nvram::ExclusionTable excluded;
  FUZZ_CHECK(nvram::load_exclusion_list(excluded) == 0);
  std::set<std::string_view> lines;
  for (std::string_view line : fuzz::lines_of(differences)) lines.insert(line);
  auto in_old = fuzz::unique_keys(old_records);
  for (const auto& [key, record] : fuzz::unique_keys(new_records)) {
    auto partner = in_old.find(key);
    if (partner == in_old.end() || nvram::is_excluded(key, excluded)) continue;
    const std::string& old_value = partner->second->current_value;
    if (old_value == record->current_value) continue;
    FUZZ_CHECK(
        lines.count("{" + key + "},[" + record->default_value + "],<" + old_value + ">\r\n") == 1);
  }
}

// A key on several lines of the new file has either no difference line or one for every copy, a
// copy without a partner keeping its own value.
void check_repeated_questions(const std::string& walked, const std::string& differences) {
  std::vector<fuzz::PlainRecord> new_records;
  if (!fuzz::plain_records(walked, new_records)) return;
  std::map<std::string, std::size_t> in_new, lines;
  for (const fuzz::PlainRecord& r : new_records) ++in_new[r.key];
  for (std::string_view line : fuzz::lines_of(differences)) {
    ++lines[std::string(line.substr(1, line.find("},[") - 1))];
  }
  for (const auto& [key, copies] : in_new) {
    if (copies < 2 || lines[key] == 0) continue;
    FUZZ_CHECK(lines[key] == copies);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDir scratch;
  std::vector<std::string> parts = fuzz::split_input(data, size, 3);
  fuzz::write_file("new.txt", parts[0]);
  fuzz::write_file("old.txt", parts[1]);
  fuzz::write_file("Exclude.txt", parts[2]);

  nvram::ScriptReading walked, searched;
  nvram::File walked_records, searched_records;
  FUZZ_CHECK(nvram::process_script_convert("new.txt", walked, walked_records) == 0);
  FUZZ_CHECK(nvram::process_script_convert("old.txt", searched, searched_records) == 0);
  const std::string new_records = fuzz::read_file("new.ini"), old_records = fuzz::read_file("old.ini");
  std::vector<nvram::Difference> handed;
  std::vector<nvram::NotCarried> lost;
  int count = -1;
  const int status = nvram::process_script_compare("new.txt", walked, walked_records, "old.txt",
                                                   searched, searched_records, handed, lost, count);
  // Scripts that share no question are refused, not compared.
  if (nvram::pair_questions(walked, searched, nvram::ExclusionTable{}).pairs == 0) {
    FUZZ_CHECK(status == 3 && count == -1);
    return 0;
  }
  FUZZ_CHECK(status == 0);
  FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= walked.size());
  std::string differences = fuzz::read_file("Difftemp.ini");
  check_difference_file(differences, count);
  // Questions with Token and Offset lines pair by them first, which record files do not show.
  auto places = [](const std::string& s) {
    return s.find("Token") != std::string::npos || s.find("Offset") != std::string::npos;
  };
  if (!places(parts[0]) && !places(parts[1])) check_unique_questions(new_records, old_records, differences);
  check_repeated_questions(new_records, differences);
  // The merge is handed exactly the values of the difference file, each for its own question.
  std::vector<std::string_view> lines = fuzz::lines_of(differences);
  FUZZ_CHECK(handed.size() == lines.size());
  for (std::size_t i = 0; i < handed.size(); ++i) {
    const std::size_t q = handed[i].question;
    FUZZ_CHECK(q < walked.size() && (i == 0 || handed[i - 1].question < q));
    FUZZ_CHECK(lines[i] == nvram::record_line(walked.key(q), walked.default_value(q), handed[i].value));
  }
  FUZZ_CHECK(!fuzz::file_exists("new.ini") && !fuzz::file_exists("old.ini"));
  FUZZ_CHECK(fuzz::read_file("Exclude.txt") == parts[2]);

  // A script compared with itself: every question is its own partner, so nothing differs.
  count = -1;
  FUZZ_CHECK(nvram::process_script_compare("new.txt", walked, walked_records, "new.txt", walked,
                                           walked_records, handed, lost, count) == 0);
  FUZZ_CHECK(count == 0 && handed.empty());
  FUZZ_CHECK(fuzz::read_file("Difftemp.ini").empty());
  return 0;
}

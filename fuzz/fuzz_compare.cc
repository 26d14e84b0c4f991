// The compare command (-c) with a fake tool whose live export is arbitrary, against an arbitrary
// saved script and exclusion list. Input: the saved script, "\n%%\n", the live export, "\n%%\n",
// "Exclude.txt".
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "fuzz_util.h"
#include "nvram/commands.h"
#include "nvram/tool.h"
#include "script/exclusion.h"

namespace {

// Writes the live export for "/o /s biostemp.sh", as the real tool would.
class FakeTool : public nvram::ToolRunner {
 public:
  explicit FakeTool(std::string live) : live_(std::move(live)) {}
  bool present() override { return true; }
  nvram::ProcessResult run(const std::vector<std::string>& args) override {
    FUZZ_CHECK(args.size() == 3 && args[0] == "/o" && args[1] == "/s" && args[2] == "biostemp.sh");
    fuzz::write_file(args[2], live_);
    nvram::ProcessResult r;
    r.started = true;
    return r;
  }

 private:
  std::string live_;
};

int run_compare(const std::string& live, std::string& out) {
  FakeTool tool(live);
  char arg0[] = "NVRAM", arg1[] = "-c", arg2[] = "saved.txt";
  char* argv[] = {arg0, arg1, arg2, nullptr};
  fuzz::CapturedStdout captured;
  int status = nvram::cmd_compare(nvram::Args{3, argv}, tool);
  out = captured.text();
  return status;
}

// Keys of a pair made by Token and Offset: equal once digits and '.' are removed (a key cut to
// its hash keeps no more of its text to compare).
bool renamed_by_reading(std::string_view a, std::string_view b) {
  auto cut = [](std::string_view k) { return k.size() == 63 && k[54] == '#'; };
  if (cut(a) || cut(b)) return true;
  auto skeleton = [](std::string_view k) {
    std::string s;
    for (char c : k)
      if ((c < '0' || c > '9') && c != '.') s += c;
    return s;
  };
  return skeleton(a) == skeleton(b);
}

struct Report {
  std::string key, saved_value, live_value;
  bool operator<(const Report& o) const {
    return std::tie(key, saved_value, live_value) < std::tie(o.key, o.saved_value, o.live_value);
  }
};

// The report: the heading, then two-line reports of one key with two different values, and end
// messages. Returns the number of reports; `reports` receives them.
int check_report(std::string_view out, std::multiset<Report>* reports = nullptr) {
  static constexpr std::string_view kHeading = "\r\nMiscompare Notification\r\n";
  static constexpr std::string_view kEnd = "\r\n== Complete MISCOMPARE Function ==\r\n";
  static constexpr std::string_view kSaved = "ERROR:Saved value for ";
  static constexpr std::string_view kLive = "       BIOS value for ";
  FUZZ_CHECK(out.substr(0, kHeading.size()) == kHeading);
  out.remove_prefix(kHeading.size());
  int count = 0;
  // One report line: prefix, key (visible characters, so no blank), " is ", value, CR LF.
  auto take_line = [&out](std::string_view prefix, std::string& key, std::string& value) {
    FUZZ_CHECK(out.substr(0, prefix.size()) == prefix);
    out.remove_prefix(prefix.size());
    std::size_t is = out.find(" is ");
    std::size_t end = out.find("\r\n");
    FUZZ_CHECK(is != std::string_view::npos && end != std::string_view::npos && is < end);
    key = out.substr(0, is);
    value = out.substr(is + 4, end - is - 4);
    out.remove_prefix(end + 2);
  };
  while (!out.empty()) {
    if (out.substr(0, kEnd.size()) == kEnd) {
      out.remove_prefix(kEnd.size());
      continue;
    }
    std::string saved_key, saved_value, live_key, live_value;
    take_line(kSaved, saved_key, saved_value);
    take_line(kLive, live_key, live_value);
    FUZZ_CHECK(saved_key == live_key || renamed_by_reading(saved_key, live_key));
    FUZZ_CHECK(saved_value != live_value);
    ++count;
    if (reports) reports->insert({saved_key, saved_value, live_value});
  }
  return count;
}

// No question that both record files hold is left uncompared: one that each holds once and that
// is not excluded is reported exactly once when its current values differ.
void check_unique_questions(const std::multiset<Report>& reports) {
  std::vector<fuzz::PlainRecord> saved, live;
  if (!fuzz::plain_records(fuzz::read_file("saved.ini"), saved) ||
      !fuzz::plain_records(fuzz::read_file("biostemp.ini"), live))
    return;
  nvram::ExclusionTable excluded;
  FUZZ_CHECK(nvram::load_exclusion_list(excluded) == 0);
  auto in_saved = fuzz::unique_keys(saved);
  for (const auto& [key, record] : fuzz::unique_keys(live)) {
    auto partner = in_saved.find(key);
    if (partner == in_saved.end() || nvram::is_excluded(key, excluded)) continue;
    const std::string& saved_value = partner->second->current_value;
    std::size_t want = saved_value == record->current_value ? 0 : 1;
    FUZZ_CHECK(reports.count({key, saved_value, record->current_value}) == want);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDir scratch;
  std::vector<std::string> parts = fuzz::split_input(data, size, 3);
  const std::string& saved = parts[0];
  const std::string& live = parts[1];
  fuzz::write_file("saved.txt", saved);
  fuzz::write_file("Exclude.txt", parts[2]);

  std::string out;
  int status = run_compare(live, out);
  FUZZ_CHECK(fuzz::file_exists("biostemp.ini") && fuzz::file_exists("saved.ini"));
  // A script without a setup question is an error, the saved one named first.
  const char* questionless = fuzz::read_file("saved.ini").empty()      ? "saved.txt"
                             : fuzz::read_file("biostemp.ini").empty() ? "biostemp.sh"
                                                                       : nullptr;
  if (questionless) {
    FUZZ_CHECK(status == 3);
    FUZZ_CHECK(out == "Error, no setup question in " + std::string(questionless) + "\r\n");
    return 0;
  }
  // Scripts that share no question are no match.
  if (status == 3) {
    FUZZ_CHECK(out == "Error, no question of saved.txt is in the live settings\r\n");
    return 0;
  }
  FUZZ_CHECK(status == 0 || status == 6);
  std::multiset<Report> reports;
  FUZZ_CHECK((check_report(out, &reports) > 0) == (status == 6));
  // Questions with Token and Offset lines pair by them first, which record files do not show.
  auto places = [](const std::string& s) {
    return s.find("Token") != std::string::npos || s.find("Offset") != std::string::npos;
  };
  if (!places(saved) && !places(live)) check_unique_questions(reports);
  FUZZ_CHECK(fuzz::read_file("saved.txt") == saved);
  FUZZ_CHECK(fuzz::read_file("Exclude.txt") == parts[2]);
  FUZZ_CHECK(fuzz::read_file("biostemp.sh") == live);

  // Live settings equal to the saved ones: no report, status 0.
  status = run_compare(saved, out);
  FUZZ_CHECK(status == 0);
  FUZZ_CHECK(check_report(out) == 0);
  return 0;
}

// nvram-diff's comparison: the real export pair, the JSON document read back, the shapes of real
// exports, and a differential test against what NVRAM -u really writes into merged.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "diff/diff.h"
#include "diff/report.h"
#include "nvram/commands.h"
#include "script/exclusion.h"
#include "script/file.h"
#include "script/merge.h"
#include "script/reader.h"
#include "script/record_compare.h"
#include "test_dir.h"

namespace {

using nvram::diff::Report;
using nvram::diff::ReportOptions;
using nvram::diff::Script;
using Json = nlohmann::json;

const std::string kReal = std::string(NVRAM_SHARED_DIR) + "/corpus/real/";

Json compare_json(const std::string& old_name, const std::string& new_name,
                  const nvram::ExclusionTable& excluded = {}, bool all = false) {
  Script o, n;
  std::string error;
  EXPECT_TRUE(nvram::diff::load_script(old_name, o, error)) << error;
  EXPECT_TRUE(nvram::diff::load_script(new_name, n, error)) << error;
  Report report;
  nvram::diff::compare_scripts(std::move(o), std::move(n), excluded, report);
  nvram::diff::dress_report(report, all);
  ReportOptions options;
  options.all = all;
  Json doc = Json::parse(nvram::diff::format_json(report, options), nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << "the JSON report does not parse";
  return doc;
}

std::vector<std::string> rows_of(const Json& doc, const std::string& status) {
  std::vector<std::string> rows;
  for (const Json& q : doc["questions"]) {
    if (q["status"] != status) continue;
    std::string row = q["text"].get<std::string>();
    if (q["copies"].get<int>() > 1) {
      row += " (" + std::to_string(q["copy"].get<int>()) + " of " + std::to_string(q["copies"].get<int>()) + ")";
    }
    for (const char* side : {"old", "new"}) {
      if (!q[side].is_null()) row += " | " + q[side]["shown"].get<std::string>();
    }
    rows.push_back(row);
  }
  return rows;
}

// The two releases of one board, checked by hand: four options changed (two of them on the second
// copy of a repeated question), one boot option new, 83 questions whose text carries a reading.
TEST(NvramDiff, RealExportsNameEveryDifferenceInWords) {
  if (!std::filesystem::exists(kReal + "real01.txt")) GTEST_SKIP() << "no real corpus in " << kReal;
  Json doc = compare_json(kReal + "real03.txt", kReal + "real01.txt", {}, true);

  EXPECT_EQ(rows_of(doc, "changed"),
            (std::vector<std::string>{
                "CPU Cooler Tuning | MSI Performance Settings (PL1: 135W) [02] | Intel Default Settings (PL1: 58W) [01]",
                "Extreme Memory Profile(XMP) | Disabled [00] | Profile 2 [02]",
                "Round Trip Latency (2 of 2) | Disabled [01] | Enabled [02]",
                "Turn Around Timing Training (2 of 2) | Disabled [01] | Auto [00]"}));
  EXPECT_EQ(rows_of(doc, "only_new"),
            (std::vector<std::string>{"Boot Option #1 (4 of 4) | Windows Boot Manager (P6: WDC WDS120G2G0A-00JH30 [00]"}));
  EXPECT_TRUE(rows_of(doc, "only_old").empty());

  std::size_t renamed = 0;
  for (const Json& q : doc["questions"]) {
    if (q["status"] == "changed") {
      EXPECT_EQ(q["carried"], true) << q.dump();
    }
    if (q["status"] != "renamed") continue;
    ++renamed;
    EXPECT_EQ(q["old"]["token"], q["new"]["token"]);
    EXPECT_EQ(q["old"]["offset"], q["new"]["offset"]);
    EXPECT_NE(q["old"]["key"], q["new"]["key"]);
  }
  EXPECT_EQ(renamed, 83u);
  EXPECT_EQ(rows_of(doc, "renamed")[0], "CPU VDDQ Voltage                 1.100V | 0 | 0");
  EXPECT_EQ(doc["questions"][4]["old"]["text"], "CPU VDDQ Voltage                 1.200V");

  const Json& s = doc["summary"];
  EXPECT_EQ(s["same"].get<std::size_t>() + s["changed"].get<std::size_t>() + s["renamed"].get<std::size_t>() +
                s["only_new"].get<std::size_t>(),
            5236u);
  EXPECT_EQ(doc["questions"].size(), 5236u);
  EXPECT_EQ(s["not_carried"], 0);
  EXPECT_EQ(doc["new"]["questions"], 5236);
}

// A question of each kind that real exports write, in the shapes they write them.
TEST(NvramDiff, ShapesOfRealExports) {
  ScratchDir dir;
  const std::string head = "// Script File Name : x.txt\r\n// BIOS_VERSION = XB0A12\n// exported settings\r\r\n\r\n";
  auto q = [](const std::string& name, const std::string& token, const std::string& body) {
    return "Setup Question\t= " + name + "\r\nHelp String\t= help\r\nToken\t=" + token +
           "\t// Do NOT change this line\r\nOffset\t=0" + token + "\r\nWidth\t=01\r\n" + body + "\r\n";
  };
  auto options = [](int selected, const std::string& third) {
    std::string s = "Options\t=" + std::string(selected == 0 ? "*" : "") + "[00]Off\t// Move \"*\" to the desired Option\r\n";
    s += "         " + std::string(selected == 1 ? "*" : "") + "[01]On\r\n";
    if (!third.empty()) s += "         " + std::string(selected == 2 ? "*" : "") + "[02]" + third + "\r\n";
    return s;
  };
  write_file("old.txt", head + q("Speed \xB5s", "10", options(2, "Fast \xB5")) +
                            q("Timeout", "11", "Value\t=<4500>\r\n") + q("Port", "12", "Value\t=\"COM1\"\r\n") +
                            q("Mode", "13", "Value\t=\"AUTO\"\r\n") + q("Fan  Speed", "14", options(1, "")) +
                            "// Setup Question\t= Gone\r\n// Value\t=1\r\n\r\n" + q("Serial", "15", options(1, "")) +
                            q("Legacy", "16", "Value\t=1\t// Enabled = 1, Disabled = 0\r\n") +
                            q("tCL 40", "17", "Value\t=<0>\r\n"));
  write_file("new.txt", head + q("Speed \xB5s", "10", options(0, "")) + q("Timeout", "11", "Value\t=<5000>\r\n") +
                            q("Port", "12", "Value\t=\"COM2\"\r\n") + q("Mode", "13", "Value\t=<1>\r\n") +
                            q("Fan Speed", "14", options(0, "")) + q("Serial", "15", options(0, "")) +
                            q("tCL 38", "17", "Value\t=<0>\r\n") + q("Boot Logo", "18", options(1, "")));
  write_file("Exclude.txt", "// not compared\r\nSerial\r\n");
  nvram::ExclusionTable excluded;
  {
    nvram::File list("Exclude.txt", "r");
    ASSERT_TRUE(nvram::read_exclusion_list(list.get(), excluded));
  }
  Json doc = compare_json("old.txt", "new.txt", excluded);

  EXPECT_EQ(doc["old"]["version"], "XB0A12");
  EXPECT_EQ(rows_of(doc, "changed"),
            (std::vector<std::string>{"Speed \xC2\xB5s | Fast \xC2\xB5 [02] | Off [00]", "Timeout | 4500 | 5000",
                                      "Port | \"COM1\" | \"COM2\"", "Mode | \"AUTO\" | 1",
                                      "Fan Speed | On [01] | Off [00]"}));
  std::map<std::string, std::string> why;
  for (const Json& r : doc["questions"]) {
    if (!r["reason"].is_null()) why[r["key"]] = r["reason"];
  }
  EXPECT_EQ(why, (std::map<std::string, std::string>{{"Speeds", "NEW has no option [02]"},
                                                     {"Mode", "NEW takes a number, OLD holds a text"}}));
  EXPECT_EQ(rows_of(doc, "renamed"), (std::vector<std::string>{"tCL 38 | 0 | 0"}));
  EXPECT_EQ(rows_of(doc, "only_old"), (std::vector<std::string>{"Legacy | 1"}));
  EXPECT_EQ(rows_of(doc, "only_new"), (std::vector<std::string>{"Boot Logo | On [01]"}));
  EXPECT_EQ(doc["summary"]["excluded"], 1);
  EXPECT_EQ(doc["summary"]["not_carried"], 2);
}

// ---------------------------------------------------------------------------------------------
// Differential test: random script pairs through the update's own functions.

struct Spec {
  std::string name;
  int place;     // Token and Offset
  int kind;      // 0 option, 1 bare number, 2 angled number, 3 text
  int value;     // option index or number; for a text, an index into a few words
  int options;   // for an option question
  int help = 0;  // length of a help line ahead of the value; 0 for none
  int blank_tail = 0;         // blanks that end the help line
  bool blank_before = false;  // an empty line between the Width line and the value
  int end = 0;  // what follows: 0 an empty line, 1 four blanks, 2 a line that begins with NUL,
                // 3 nothing (the next Setup line follows at once)
};

std::string render(const Spec& s) {
  static const char* kWords[] = {"COM1", "COM2", "", "\\_SB.PC00"};
  std::string out = "Setup Question\t= " + s.name + "\r\nToken\t=" + std::to_string(s.place) +
                    "\t// Do NOT change this line\r\nOffset\t=" + std::to_string(s.place % 7) + "\r\nWidth\t=01\r\n";
  if (s.help > 0) {
    out += "Help String\t= " + std::string(static_cast<std::size_t>(s.help), 'a') + "x" +
           std::string(static_cast<std::size_t>(s.blank_tail), ' ') + "\r\n";
  }
  if (s.blank_before) out += "\r\n";
  char code[16];
  switch (s.kind) {
    case 0:
      for (int i = 0; i < s.options; ++i) {
        std::snprintf(code, sizeof code, "%02X", i);
        out += (i == 0 ? "Options\t=" : "         ") + std::string(i == s.value ? "*" : "") + "[" + code + "]Option " +
               std::to_string(i) + (i == 0 ? "\t// Move \"*\" to the desired Option" : "") +
               (i == 1 && s.help > 0 ? std::string(static_cast<std::size_t>(s.help), '-') : "") + "\r\n";
      }
      break;
    case 1:
      std::snprintf(code, sizeof code, "%X", s.value);
      out += "Value\t=" + std::string(code) + "\t// Enabled = 1, Disabled = 0\r\n";
      break;
    case 2:
      out += "Value\t=<" + std::to_string(s.value) + ">\r\n";
      break;
    default:
      out += "Value\t=\"" + std::string(kWords[s.value % 4]) + "\"\r\n";
  }
  static const std::string kEnds[] = {"\r\n", "    \r\n", std::string("\0-\r\n", 4), ""};
  return out + kEnds[s.end];
}

std::string render_script(const std::vector<Spec>& specs) {
  std::string out = "// Script File Name : temp.txt\r\n// exported settings\r\n\r\n";
  for (const Spec& s : specs) out += render(s);
  return out;
}

std::vector<std::string> current_values(const std::string& name) {
  nvram::ScriptReading reading;
  EXPECT_EQ(reading.read(name, false), 0);
  std::vector<std::string> values;
  for (std::size_t i = 0; i < reading.size(); ++i) values.emplace_back(reading.current_value(i));
  return values;
}

// Runs the update on old.txt and new.txt of the current directory as -u does, and returns the
// records of merged.txt whose value differs from new.txt's; `listed` gets the records that
// nvram-diff lists as changed and carried, `not_carried` counts its changed rows that are not.
// Each of those must be one of the update's "Not carried" lines, and the update names no other.
std::set<std::size_t> update_writes(std::set<std::size_t>& listed, std::size_t& not_carried) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(nvram::update_files("old.txt", "new.txt"), 0);
  const std::string printed = testing::internal::GetCapturedStdout();
  std::multiset<std::string> named;
  const auto before = current_values("new.txt");
  const auto after = current_values("merged.txt");
  if (before.size() != after.size()) ADD_FAILURE() << "merged.txt has other records than new.txt";
  std::set<std::size_t> written;
  for (std::size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
    if (before[i] != after[i]) written.insert(i);
  }

  nvram::ExclusionTable excluded;
  {
    nvram::File list("Exclude.txt", "r");
    EXPECT_TRUE(nvram::read_exclusion_list(list.get(), excluded));
  }
  Json doc = compare_json("old.txt", "new.txt", excluded);
  std::map<std::pair<std::string, int>, std::size_t> index;  // key and copy: record
  {
    Script s;
    std::string error;
    EXPECT_TRUE(nvram::diff::load_script("new.txt", s, error));
    for (std::size_t i = 0; i < s.questions.size(); ++i) index[{std::string(s.questions[i].key), s.questions[i].copy}] = i;
  }
  for (const Json& q : doc["questions"]) {
    if (q["status"] != "changed" && q["status"] != "renamed") continue;
    if (q["carried"] == true) {
      listed.insert(index.at({q["new"]["key"], q["new"]["copy"]}));
    } else if (q["carried"] == false) {
      ++not_carried;
      named.insert("Not carried: " + q["new"]["key"].get<std::string>() + " = " +
                   q["old"]["value"].get<std::string>() + "\r\n");
    }
  }
  std::multiset<std::string> lines;
  for (std::size_t at = 0, end; (end = printed.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.insert(printed.substr(at, end + 1 - at));
  }
  EXPECT_EQ(named, lines);
  return written;
}

TEST(NvramDiff, ChangedAndCarriedIsExactlyWhatTheUpdateWrites) {
  std::mt19937 rng(13);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  // Real exports have texts holding the record line's delimiters ("Firmware Hash [63:0]").
  const char* names[] = {"Quiet Boot", "Fast Boot", "Round Trip Latency", "Fan Mode", "Boot Option #1", "tCL",
                         "Firmware Hash [63:0]"};
  const int name_count = static_cast<int>(std::size(names));
  std::size_t carried_total = 0, not_carried_total = 0;
  for (int run = 0; run < 150; ++run) {
    ScratchDir dir;
    std::vector<Spec> news, olds;
    const int n = 1 + pick(14);
    for (int i = 0; i < n; ++i) {
      // Help lines of about 299 bytes, some ending in blanks; blank lines before a value; questions
      // ended by blank-looking lines or by nothing at all.
      const int help = pick(4) == 0 ? (pick(2) ? 281 + pick(8) : 200 + pick(500)) : 0;
      Spec s{names[pick(name_count)], 100 + i, pick(4), 0, 2 + pick(3), help};
      s.value = s.kind == 0 ? pick(s.options) : pick(4);
      if (help > 0 && pick(3) == 0) s.blank_tail = pick(8), s.help -= s.blank_tail;
      s.blank_before = pick(6) == 0;
      s.end = pick(8) < 5 ? 0 : pick(4);
      news.push_back(s);
    }
    for (const Spec& s : news) {
      Spec o = s;
      switch (pick(8)) {
        case 0:  // only in NEW (an OLD without questions is refused, as the update refuses it)
          if (!olds.empty() || &s != &news.back()) continue;
          break;
        case 1: o.value = o.kind == 0 ? pick(o.options + 2) : pick(5); break;  // maybe no such option
        case 2: o.kind = pick(4); o.value = pick(4); break;                     // maybe another kind
        case 3: o.name += " 2"; break;                                          // renamed
        case 4: olds.push_back(Spec{names[pick(name_count)], 300 + pick(9), pick(4), pick(2), 2, 0}); break;
        default: o.value = o.kind == 0 ? pick(o.options) : pick(4);
      }
      olds.push_back(o);
    }
    if (pick(3) == 0) std::reverse(olds.begin(), olds.end());
    if (pick(3) == 0) std::shuffle(olds.begin(), olds.end(), rng);
    write_file("old.txt", render_script(olds));
    write_file("new.txt", render_script(news));
    write_file("Exclude.txt", pick(2) ? std::string("// list\r\n") + names[pick(name_count)] + "\r\n" : "");

    std::set<std::size_t> listed;
    const std::set<std::size_t> written = update_writes(listed, not_carried_total);
    carried_total += listed.size();
    ASSERT_EQ(listed, written) << "run " << run << "\nOLD:\n" << read_file("old.txt") << "\nNEW:\n"
                               << read_file("new.txt") << "\nExclude.txt:\n" << read_file("Exclude.txt");
  }
  // The two real releases of one board, carried into each other.
  if (std::filesystem::exists(kReal + "real01.txt")) {
    for (bool forward : {true, false}) {
      ScratchDir dir;
      std::filesystem::copy_file(kReal + (forward ? "real03.txt" : "real01.txt"), "old.txt");
      std::filesystem::copy_file(kReal + (forward ? "real01.txt" : "real03.txt"), "new.txt");
      write_file("Exclude.txt", "");
      std::set<std::size_t> listed;
      std::size_t not_carried = 0;
      EXPECT_EQ(update_writes(listed, not_carried), listed);
      EXPECT_EQ(listed.size(), 4u);
      EXPECT_EQ(not_carried, 0u);
    }
  }
  // The runs must have met both outcomes often enough to mean something.
  EXPECT_GT(carried_total, 200u);
  EXPECT_GT(not_carried_total, 50u);
}

}  // namespace

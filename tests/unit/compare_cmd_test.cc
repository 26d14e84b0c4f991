#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "nvram/commands.h"
#include "nvram/tool.h"
#include "script/record.h"
#include "test_dir.h"

namespace nvram {
namespace {

std::vector<std::string> lines_of(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line + "\n");
  return lines;
}

// A tool whose export of the live settings is a prepared text.
class ExportingTool : public ToolRunner {
 public:
  explicit ExportingTool(std::string live) : live_(std::move(live)) {}
  bool present() override { return true; }
  ProcessResult run(const std::vector<std::string>& args) override {
    if (args.size() == 3 && args[0] == "/o" && args[1] == "/s") write_file(args[2], live_);
    ProcessResult r;
    r.started = true;
    return r;
  }

 private:
  std::string live_;
};

struct Outcome {
  int status = 0;
  std::string printed;
  bool operator==(const Outcome&) const = default;
};

Outcome run_compare(const std::string& live) {
  ExportingTool tool(live);
  char prog[] = "NVRAM", opt[] = "-c", name[] = "saved.txt";
  char* argv[] = {prog, opt, name, nullptr};
  testing::internal::CaptureStdout();
  Outcome o;
  o.status = cmd_compare(Args{3, argv}, tool);
  o.printed = testing::internal::GetCapturedStdout();
  return o;
}

// The compare command's walk as its rules read, line by line: the saved record file is read from
// the search position on, paired lines are passed over, the end of the file rewinds once, and past
// the live record count the first rewind announces the end (the search still goes on).
struct Scanned {
  std::string key, value;
};

Scanned scan(const std::string& line) {
  Scanned s;
  int state = 0;  // 0 before key, 1 in key, 2 between fields, 3 in value
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/' || c == '>') break;
    if (c == '}') {
      state = 2;
      continue;
    }
    if (state == 1 && s.key.size() < 63) s.key += c;
    if (state == 3 && s.value.size() < 63) s.value += c;
    if (c == '{') state = 1;
    if (c == '<') state = 3;
  }
  return s;
}

Outcome model(const std::vector<std::string>& live, const std::vector<std::string>& saved,
              int live_count, const std::vector<std::string>& excluded, int* pairs = nullptr) {
  Outcome o;
  int paired = 0;
  o.printed = "\r\nMiscompare Notification\r\n";
  std::vector<bool> matched(saved.size(), false);
  std::size_t index = 0;
  int counter = 0;
  bool miscompare = false;
  for (const std::string& line : live) {
    ++counter;
    Scanned sys = scan(line);
    std::string squeezed;
    for (char c : sys.key)
      if (c != ' ') squeezed += c;
    bool skip = false;
    for (const std::string& e : excluded) skip = skip || e == squeezed;
    if (skip) continue;
    bool wrapped = false;
    for (;;) {
      if (index >= saved.size()) {
        index = 0;
        if (wrapped) break;
        if (counter >= live_count) o.printed += "\r\n== Complete MISCOMPARE Function ==\r\n";
        wrapped = true;
        continue;
      }
      if (matched[index]) {
        ++index;
        continue;
      }
      Scanned s = scan(saved[index]);
      if (s.key != sys.key) {
        ++index;
        continue;
      }
      matched[index] = true;
      ++index;
      ++paired;
      if (s.value != sys.value) {
        o.printed += "ERROR:Saved value for " + s.key + " is " + s.value + "\r\n";
        o.printed += "       BIOS value for " + sys.key + " is " + sys.value + "\r\n";
        miscompare = true;
      }
      break;
    }
  }
  o.status = miscompare ? 6 : 0;
  if (pairs) *pairs = paired;
  return o;
}

std::string question(const std::string& name, const std::string& value) {
  return "Setup Question = " + name + "\r\nBIOS Default =[00]\r\nValue =" + value + "\r\n\r\n";
}

TEST(CompareCommand, WalkEqualsTheLineByLineReading) {
  const char* names[] = {"A", "B", "C", "D", "Wake On", "[x]", "a{b", "c<d", "e}f", "1/2"};
  const char* values[] = {"00", "01", "0A", ""};
  std::mt19937 rng(8122026);
  int differing = 0;
  for (int round = 0; round < 400; ++round) {
    ScratchDir dir;
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string saved, live, exclude;
    int n_saved = 1 + pick(11), n_live = 1 + pick(11);  // none at all is an error of its own
    for (int i = 0; i < n_saved; ++i) saved += question(names[pick(10)], values[pick(4)]);
    for (int i = 0; i < n_live; ++i) live += question(names[pick(10)], values[pick(4)]);
    // Without its last blank line the live export counts one record less than it has.
    if (n_live > 0 && pick(3) == 0) live.resize(live.size() - 2);
    std::vector<std::string> excluded;
    for (int i = pick(3); i > 0; --i) {
      excluded.push_back(names[pick(10)]);
      exclude += excluded.back() + "\n";
    }
    write_file("saved.txt", saved);
    write_file("Exclude.txt", exclude);

    Outcome got = run_compare(live);
    std::vector<std::string> squeezed;
    for (const std::string& e : excluded) {
      std::string s;
      for (char c : e)
        if (c != ' ') s += c;
      squeezed.push_back(written_key(s));  // entries are compared as keys are written
    }
    int live_count = n_live > 0 && live.size() >= 2 && live.substr(live.size() - 4) == "\r\n\r\n"
                         ? n_live
                         : n_live - 1;
    int pairs = 0, unexcluded_pairs = 0;
    Outcome want = model(lines_of("biostemp.ini"), lines_of("saved.ini"), live_count, squeezed, &pairs);
    model(lines_of("biostemp.ini"), lines_of("saved.ini"), live_count, {}, &unexcluded_pairs);
    if (pairs == 0 && unexcluded_pairs == 0) {  // scripts that share no question are no match
      want.status = 3;
      want.printed = "Error, no question of saved.txt is in the live settings\r\n";
    }
    ASSERT_EQ(got, want) << "round " << round << "\nsaved:\n" << saved << "\nlive:\n" << live;
    differing += got.status == 6;
  }
  EXPECT_GT(differing, 50);  // the rounds exercise reports, not only quiet walks
}

// Texts are compared and reported whole, with their quotes.
TEST(CompareCommand, TextsAreReportedAsRecorded) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  write_file("saved.txt", "Setup Question = Custom HID\r\nValue =\"INT33D5\" // x\r\n\r\n");
  Outcome got = run_compare("Setup Question = Custom HID\r\nValue =\"INT33D6\"\r\n\r\n");
  EXPECT_EQ(got.status, 6);
  EXPECT_EQ(got.printed,
            "\r\nMiscompare Notification\r\n"
            "ERROR:Saved value for CustomHID is \"INT33D5\"\r\n"
            "       BIOS value for CustomHID is \"INT33D6\"\r\n");
}

// Keys are reported as record lines write them, and an "Exclude.txt" line written as the
// question's text, or as the key is printed, excludes it. Questions renamed by a live reading pair
// by Token and Offset and are reported at their place in the walk, the saved key first; an
// excluded key on either side is never paired so.
TEST(CompareCommand, EscapedKeysAndRenamedQuestions) {
  ScratchDir dir;
  auto q = [](const std::string& name, const std::string& place, const std::string& value) {
    return "Setup Question\t= " + name + "\r\nToken\t=" + place + "\t// x\r\nOffset\t= " + place +
           "\r\nValue\t=<" + value + ">\r\n\r\n";
  };
  write_file("saved.txt", q("D0->D3 idle (off)", "1", "300") + q("DRAM Voltage 1.250V", "2", "1350") +
                              q("tCL 40", "3", "40") + q("A", "4", "1"));
  const std::string live = q("tCL 38", "3", "0") + q("DRAM Voltage 1.100V", "2", "0") +
                           q("D0->D3 idle (off)", "1", "200") + q("A", "4", "0");
  write_file("Exclude.txt", "");
  Outcome got = run_compare(live);
  EXPECT_EQ(got.status, 6);
  EXPECT_EQ(got.printed,
            "\r\nMiscompare Notification\r\n"
            "ERROR:Saved value for tCL40 is 40\r\n       BIOS value for tCL38 is 0\r\n"
            "ERROR:Saved value for DRAMVoltage1.250V is 1350\r\n       BIOS value for DRAMVoltage1.100V is 0\r\n"
            "ERROR:Saved value for D0-%3ED3idle(off) is 300\r\n       BIOS value for D0-%3ED3idle(off) is 200\r\n"
            "ERROR:Saved value for A is 1\r\n       BIOS value for A is 0\r\n");
  for (const char* exclude : {"D0->D3 idle (off)\r\ntCL 40\r\nDRAM Voltage 1.100V\r\n",
                              "D0-%3ED3idle(off)\r\ntCL40\r\nDRAMVoltage1.100V\r\n"}) {
    write_file("Exclude.txt", exclude);
    got = run_compare(live);
    EXPECT_EQ(got.printed, "\r\nMiscompare Notification\r\nERROR:Saved value for A is 1\r\n       BIOS value for A is 0\r\n");
  }
}

}  // namespace
}  // namespace nvram

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "script/exclusion.h"
#include "script/record.h"
#include "script/record_compare.h"
#include "test_dir.h"

namespace nvram {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  int count;
  std::string printed;
  std::string diff;
};

// Runs the comparison of new.txt against old.txt on the record files given.
Outcome compare(const std::string& walked, const std::string& searched) {
  write_file("new.ini", walked);
  write_file("old.ini", searched);
  Outcome o{0, -1, "", ""};
  testing::internal::CaptureStdout();
  o.status = process_script_compare("new.txt", "old.txt", o.count);
  o.printed = testing::internal::GetCapturedStdout();
  o.diff = read_file("Difftemp.ini");
  return o;
}

TEST(RecordCompare, WorkedExample) {
  ScratchDir dir;
  write_file("Exclude.txt", "// questions that the update leaves alone\r\nWakeon LAN\r\n");
  Outcome o = compare(
      "{BootupNumLockState},[01],<01>\r\n"
      "{QuietBoot},[00],<00>\r\n"
      "{WakeonLAN},[00],<00>\r\n"
      "{SerialPort},[01],<01>\r\n"
      "{USBSupport},[01],<01>\r\n",
      "{QuietBoot},[00],<01>\r\n"
      "{BootupNumLockState},[01],<01>\r\n"
      "{WakeonLAN},[00],<01>\r\n"
      "{USBSupport},[00],<00>\r\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.count, 2);
  EXPECT_EQ(o.printed, "");
  EXPECT_EQ(o.diff, "{QuietBoot},[00],<01>\r\n{USBSupport},[01],<00>\r\n");
  EXPECT_FALSE(fs::exists("new.ini"));
  EXPECT_FALSE(fs::exists("old.ini"));
}

TEST(RecordCompare, EmptyAndIdenticalFilesGiveNoDifference) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  const std::string records = "{A},[00],<01>\r\n{B},[01],<00>\r\n";
  for (const auto& [walked, searched] : {std::pair{records, std::string()},
                                         std::pair{std::string(), records},
                                         std::pair{records, records},
                                         std::pair{records, std::string("{A},[99],<01>\r\n")}}) {
    Outcome o = compare(walked, searched);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.count, 0);
    EXPECT_EQ(o.diff, "");
    EXPECT_FALSE(fs::exists("new.ini"));
    EXPECT_FALSE(fs::exists("old.ini"));
  }
}

TEST(RecordCompare, PairingRules) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  // A searched line serves one walked record; the second 'A' meets only a paired line.
  EXPECT_EQ(compare("{X},[0],<0>\r\n{A},[0],<1>\r\n{A},[0],<2>\r\n", "{A},[0],<1>\r\n{C},[0],<5>\r\n").diff,
            "");
  // Values compare as whole strings; the walked default goes out with the dumped value.
  EXPECT_EQ(compare("{A},[00],<01>\r\n", "{A},[77],<0102>\r\n").diff, "{A},[00],<0102>\r\n");
  // Delimiters inside a key split alike on both sides.
  EXPECT_EQ(compare("{Boot[1]},[01],<00>\r\n", "{Boot[1]},[01],<01>\r\n").diff, "{Boot[},[101],<01>\r\n");
  // Keys compare with their spaces and letter case.
  EXPECT_EQ(compare("{Quiet Boot},[0],<0>\r\n{quietboot},[0],<0>\r\n", "{QuietBoot},[0],<1>\r\n").diff,
            "");
  // Fields keep their first 63 characters.
  std::string k70(70, 'k'), v70(70, 'v');
  EXPECT_EQ(compare("{" + k70 + "},[0],<" + v70 + ">\r\n", "{" + k70 + "x},[0],<" + v70 + "w>\r\n").diff,
            "");
}

// A key on several walked lines with a difference on any of its pairs gets a line for every pair,
// in walk order, so that the merge hands each copy its own partner's value. A third copy without a
// partner gets none; a repeated key whose pairs all agree gets none either.
TEST(RecordCompare, RepeatedKeyWithADifferenceGetsALineForEveryPair) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  Outcome o = compare("{A},[0],<00>\r\n{B},[0],<1>\r\n{A},[0],<01>\r\n{B},[0],<1>\r\n{A},[0],<01>\r\n",
                      "{B},[9],<1>\r\n{A},[9],<00>\r\n{A},[9],<02>\r\n{B},[9],<1>\r\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.diff, "{A},[0],<00>\r\n{A},[0],<02>\r\n");
  EXPECT_EQ(o.count, 2);
}

// Records left without a partner by key pair by place (Token, Offset, key skeleton), first with
// first, and a renamed pair counts as a pair of its new key. A walked key's copies stop at the
// first that finds no partner; an excluded key takes no part, on either side.
TEST(RecordCompare, LeftoversPairByPlace) {
  auto rec = [](const char* key, const char* cur, const char* place) {
    return RecordFields{key, "0", cur, place};
  };
  const char* tcl = "1\n2\ntCL";
  const char* dram = "5\n6\nDRAMVoltageV";
  const std::vector<RecordFields> searched = {rec("DRAMVoltage1.250V", "7", dram), rec("tCL40", "1", tcl),
                                              rec("tCL40", "3", tcl)};
  auto partners = [&](const std::vector<RecordFields>& walked, const ExclusionTable& excluded) {
    std::string got;
    for (const RecordPair& p : pair_records(walked, searched, excluded)) {
      got += std::to_string(p.partner) + (p.renamed ? "r" : "") + (p.difference_line ? "d " : " ");
    }
    return got;
  };
  const std::vector<RecordFields> walked = {rec("tCL38", "1", tcl), rec("DRAMVoltage1.100V", "7", dram),
                                            rec("tCL38", "2", tcl)};
  EXPECT_EQ(partners(walked, {}), "1rd 0r 2rd ");
  EXPECT_EQ(partners({rec("tCL38", "1", tcl), rec("tCL38", "1", ""), rec("tCL38", "3", tcl)}, {}),
            "1r -1 -1 ");
  EXPECT_EQ(partners(walked, ExclusionTable{{"tCL40"}}), "-1 0r -1 ");
  EXPECT_EQ(partners(walked, ExclusionTable{{"tCL38"}}), "-1 0r -1 ");
}

TEST(RecordCompare, SearchPositionAfterSuccessAndAfterFailure) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  const std::string searched = "{A},[0],<x>\r\n{B},[0],<b>\r\n{A},[0],<y>\r\n";
  // After pairing B the search goes on at line 2.
  EXPECT_EQ(compare("{B},[0],<b>\r\n{A},[0],<z>\r\n", searched).diff, "{A},[0],<y>\r\n");
  // A failed search sends the next one back to the top.
  EXPECT_EQ(compare("{B},[0],<b>\r\n{Z},[0],<z>\r\n{A},[0],<z>\r\n", searched).diff, "{A},[0],<x>\r\n");
  // An excluded record leaves the position where it was.
  write_file("Exclude.txt", "Z\r\n");
  EXPECT_EQ(compare("{B},[0],<b>\r\n{Z},[0],<z>\r\n{A},[0],<z>\r\n", searched).diff, "{A},[0],<y>\r\n");
}

TEST(RecordCompare, OneRecordFileForBothScripts) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  write_file("setup.ini", "{A},[0],<1>\r\n{A},[0],<2>\r\n{B},[0],<3>\r\n");
  int count = -1;
  EXPECT_EQ(process_script_compare("setup.txt", "setup.sh", count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(read_file("Difftemp.ini"), "");
  EXPECT_FALSE(fs::exists("setup.ini"));
}

TEST(RecordCompare, OpenFailuresLeaveEverythingInPlace) {
  ScratchDir dir;
  write_file("Difftemp.ini", "earlier\r\n");
  int count = 42;
  testing::internal::CaptureStdout();
  EXPECT_EQ(process_script_compare("new.txt", "old.txt", count), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open Exclude.txt");

  write_file("Exclude.txt", "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(process_script_compare("new.txt", "old.txt", count), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open new.ini\r\n");

  write_file("new.ini", "{A},[0],<1>\r\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(process_script_compare("new.txt", "dumps/old.txt", count), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open dumps/old.ini\r\n");
  EXPECT_EQ(count, 42);
  EXPECT_TRUE(fs::exists("new.ini"));
  EXPECT_EQ(read_file("Difftemp.ini"), "earlier\r\n");

  fs::remove("Difftemp.ini");
  fs::create_directory("Difftemp.ini");
  write_file("old.ini", "{A},[0],<2>\r\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(process_script_compare("new.txt", "old.txt", count), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open Difftemp.ini\r\n");
  EXPECT_TRUE(fs::exists("new.ini") && fs::exists("old.ini"));
  EXPECT_EQ(count, 42);
}

TEST(RecordCompare, UnreadableRecordFilesFail) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  write_file("new.ini", "{A},[0],<1>\r\n");
  fs::create_directory("old.ini");  // opens, but every read fails
  int count = 42;
  testing::internal::CaptureStdout();
  EXPECT_EQ(process_script_compare("new.txt", "old.txt", count), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot read file old.ini\r\n");
  EXPECT_EQ(count, 42);
  EXPECT_TRUE(fs::exists("new.ini"));

  fs::remove("old.ini");
  write_file("old.ini", "{A},[0],<2>\r\n");
  fs::remove("new.ini");
  fs::create_directory("new.ini");
  testing::internal::CaptureStdout();
  EXPECT_EQ(process_script_compare("new.txt", "old.txt", count), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot read file new.ini\r\n");
  EXPECT_EQ(count, 42);
  EXPECT_TRUE(fs::exists("old.ini"));
}

TEST(RecordCompare, FailedWriteKeepsTheRecordFiles) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  std::string walked, searched;
  for (int i = 0; i < 1000; ++i) {
    walked += "{Q" + std::to_string(i) + "},[0],<1>\r\n";
    searched += "{Q" + std::to_string(i) + "},[0],<2>\r\n";
  }
  write_file("new.ini", walked);
  write_file("old.ini", searched);
  int count = 42;
  int status;
  std::string printed;
  {
    FileSizeLimit limit(4096);  // Difftemp.ini runs into it
    testing::internal::CaptureStdout();
    status = process_script_compare("new.txt", "old.txt", count);
    printed = testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(status, 3);
  EXPECT_EQ(printed, "Error, cannot write file Difftemp.ini\r\n");
  EXPECT_EQ(count, 42);
  EXPECT_TRUE(fs::exists("new.ini") && fs::exists("old.ini"));
}

// ---- The same comparison, done the slow way: a line-by-line walk with rescans of the searched
// file through a 300-byte buffer, exactly as the rules describe it.

struct Fields {
  std::string key, default_value, current_value;
};

Fields reference_split(const char* line) {
  enum State { kOutside, kInKey, kAfterKey, kInDefault, kAfterDefault, kInCurrent } state = kOutside;
  Fields f;
  for (const char* p = line; *p; ++p) {
    char c = *p;
    if (c == '\r' || c == '\n' || c == '/' || c == '>') break;
    if (c == '}') { state = kAfterKey; continue; }
    if (c == ']') { state = kAfterDefault; continue; }
    std::string* field = state == kInKey ? &f.key : state == kInCurrent ? &f.current_value
                       : state == kInDefault ? &f.default_value : nullptr;
    if (field && field->size() < 63) *field += c;
    if (c == '{') state = kInKey;
    if (c == '<') state = kInCurrent;
    if (c == '[') state = kInDefault;
  }
  return f;
}

int reference_compare(const std::string& walked_name, const std::string& searched_name,
                      std::string& diff) {
  ExclusionTable excluded;
  if (load_exclusion_list(excluded) != 0) return 3;
  std::FILE* walked = std::fopen(walked_name.c_str(), "rb");
  std::FILE* searched = std::fopen(searched_name.c_str(), "rb");
  int count = 0;
  std::vector<std::pair<Fields, Fields>> pairs;  // walked record and partner, in walk order
  std::map<std::string, int> lines;               // walked lines of each key, excluded ones aside
  std::map<std::string, bool> differs;
  std::vector<bool> matched;
  std::size_t index = 0;
  char wline[300], sline[300];
  while (std::fgets(wline, sizeof wline, walked)) {
    Fields w = reference_split(wline);
    if (is_excluded(w.key, excluded)) continue;
    int ends = 0;
    while (ends < 2) {
      if (!std::fgets(sline, sizeof sline, searched)) {
        ++ends;
        std::rewind(searched);
        index = 0;
        continue;
      }
      std::size_t i = index++;
      if (matched.size() <= i) matched.resize(i + 1);
      if (matched[i]) continue;
      Fields s = reference_split(sline);
      if (s.key != w.key) continue;
      matched[i] = true;
      pairs.push_back({w, s});
      ++lines[w.key];
      if (s.current_value != w.current_value) differs[w.key] = true;
      break;
    }
    if (ends == 2) ++lines[w.key];
  }
  // A key on several walked lines with a difference on any pair: a line for each of its pairs.
  for (const auto& [w, s] : pairs) {
    if (s.current_value != w.current_value || (lines[w.key] > 1 && differs[w.key])) {
      diff += "{" + w.key + "},[" + w.default_value + "],<" + s.current_value + ">\r\n";
      ++count;
    }
  }
  std::fclose(walked);
  std::fclose(searched);
  return count;
}

std::string random_record_file(std::mt19937& rng) {
  static const char* const keys[] = {"A", "B", "C", "QuietBoot", "Wake on LAN", "WakeonLAN",
                                     "Boot[1]", "x{y", "K<1", "Q}x", "a/b", "", "Serial Port"};
  static const char* const values[] = {"00", "01", "0A", "?", "", "0102", "1]x"};
  auto pick = [&](auto& list) { return list[rng() % std::size(list)]; };
  std::string text;
  int lines = static_cast<int>(rng() % 40);
  for (int i = 0; i < lines; ++i) {
    switch (rng() % 20) {
      case 0: text += "\r\n"; break;
      case 1: text += "junk line\n"; break;
      case 2: text += record_line(std::string(rng() % 400, 'L'), "0", "1"); break;
      case 3: text += std::string("{A},[0],<0") + '\0' + "1>\r\n"; break;
      default:
        text += std::string("{") + pick(keys) + "},[" + pick(values) + "],<" + pick(values) + ">";
        text += rng() % 8 == 0 ? "\n" : "\r\n";
    }
  }
  if (rng() % 5 == 0) text += std::string("{") + pick(keys) + "},[0],<" + pick(values) + ">";
  return text;
}

TEST(RecordCompare, IndexedSearchEqualsTheLineByLineWalk) {
  ScratchDir dir;
  std::mt19937 rng(20261208);
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    write_file("Exclude.txt", rng() % 2 ? "// leave alone\r\nWakeonLAN\r\nB\r\n" : "");
    std::string walked = random_record_file(rng);
    std::string searched = rng() % 4 == 0 ? walked : random_record_file(rng);
    write_file("new.ini", walked);
    write_file("old.ini", searched);
    std::string expected;
    int expected_count = reference_compare("new.ini", "old.ini", expected);
    Outcome o = compare(walked, searched);
    ASSERT_EQ(o.status, 0);
    ASSERT_EQ(o.diff, expected);
    ASSERT_EQ(o.count, expected_count);
  }
}

TEST(RecordCompare, HundredThousandRecordsInReversedOrder) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  constexpr int kLines = 100000;
  std::string walked, searched;
  for (int i = 0; i < kLines; ++i) {
    walked += "{Question" + std::to_string(i) + "},[00],<00>\r\n";
    searched += "{Question" + std::to_string(kLines - 1 - i) + "},[00],<01>\r\n";
  }
  write_file("new.ini", walked);
  write_file("old.ini", searched);
  int count = 0;
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(process_script_compare("new.txt", "old.txt", count), 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("compare of %d reversed records: %.3f s\n", kLines, seconds);
  EXPECT_EQ(count, kLines);
  EXPECT_LT(seconds, 60.0);  // a rescanning search would take minutes; the bound leaves
                             // room for a sanitizer build on a loaded machine
}

}  // namespace
}  // namespace nvram

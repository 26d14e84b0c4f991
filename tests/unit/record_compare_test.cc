#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "script/exclusion.h"
#include "script/reader.h"
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

// A script of one question per record line "{key},[default],<current>": its Setup line, its BIOS
// line and its Value line, and the Token and Offset lines of a place "token\noffset" when given.
std::string script_of(const std::string& records, const std::vector<std::string>& places = {}) {
  std::string script;
  std::size_t n = 0;
  for (std::size_t at = 0, end; (end = records.find('\n', at)) != std::string::npos; at = end + 1, ++n) {
    const std::string line = records.substr(at, end - at);
    const std::size_t key_end = line.find("},[");
    const std::size_t default_end = line.find("],<", key_end);
    script += "Setup Question = " + line.substr(1, key_end - 1) + "\r\n";
    if (n < places.size() && !places[n].empty()) {
      const std::size_t lf = places[n].find('\n');
      script += "Token =" + places[n].substr(0, lf) + "\r\nOffset =" + places[n].substr(lf + 1) + "\r\n";
    }
    script += "BIOS Default =[" + line.substr(key_end + 3, default_end - key_end - 3) + "]\r\n";
    script += "Value =" + line.substr(default_end + 3, line.find('>') - default_end - 3) + "\r\n\r\n";
  }
  return script;
}

// Converts new.txt and old.txt and compares them as -u does. With `before`, it is called once both
// record files are written and before the comparison removes them.
template <class Before>
Outcome compare_scripts(const std::string& new_script, const std::string& old_script, Before before) {
  write_file("new.txt", new_script);
  write_file("old.txt", old_script);
  ScriptReading walked, searched;
  File walked_records, searched_records;
  EXPECT_EQ(process_script_convert("new.txt", walked, walked_records), 0);
  EXPECT_EQ(process_script_convert("old.txt", searched, searched_records), 0);
  before();
  Outcome o{0, -1, "", ""};
  std::vector<Difference> differences;
  std::vector<NotCarried> lost;
  testing::internal::CaptureStdout();
  o.status = process_script_compare("new.txt", walked, walked_records, "old.txt", searched,
                                    searched_records, differences, lost, o.count);
  o.printed = testing::internal::GetCapturedStdout();
  if (fs::is_regular_file("Difftemp.ini")) o.diff = read_file("Difftemp.ini");
  return o;
}

// The comparison of the scripts of two record files (script_of()).
Outcome compare(const std::string& walked, const std::string& searched) {
  return compare_scripts(script_of(walked), script_of(searched), [] {});
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
  for (const auto& [walked, searched] : {std::pair{records, records},
                                         std::pair{records, std::string("{A},[99],<01>\r\n")}}) {
    Outcome o = compare(walked, searched);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.count, 0);
    EXPECT_EQ(o.diff, "");
    EXPECT_FALSE(fs::exists("new.ini"));
    EXPECT_FALSE(fs::exists("old.ini"));
  }
  // Scripts that share no question are no match: nothing is compared or written.
  for (const auto& [walked, searched] : {std::pair{records, std::string()},
                                         std::pair{std::string("{C},[00],<01>\r\n"), records}}) {
    write_file("Difftemp.ini", "earlier");
    Outcome o = compare(walked, searched);
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.printed, "Error, no question of old.txt is in new.txt\r\n");
    EXPECT_EQ(o.diff, "earlier");
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
  // Keys compare with their letter case.
  EXPECT_EQ(compare("{QuietBoot},[0],<0>\r\n{quietboot},[0],<0>\r\n", "{QuietBoot},[0],<0>\r\n").diff,
            "");
}

// A key on several walked lines with a difference on any of its pairs gets a line for every copy,
// in walk order, so that the merge hands each copy its own partner's value; a copy without a
// partner keeps its own value. A repeated key whose pairs all agree gets none.
TEST(RecordCompare, RepeatedKeyWithADifferenceGetsALineForEveryPair) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  Outcome o = compare("{A},[0],<00>\r\n{B},[0],<1>\r\n{A},[0],<01>\r\n{B},[0],<1>\r\n{A},[0],<01>\r\n",
                      "{B},[9],<1>\r\n{A},[9],<00>\r\n{A},[9],<02>\r\n{B},[9],<1>\r\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.diff, "{A},[0],<00>\r\n{A},[0],<02>\r\n{A},[0],<01>\r\n");
  EXPECT_EQ(o.count, 3);
}

// Records left without a partner by key pair by place (Token, Offset, key skeleton), first with
// first, and a renamed pair counts as a pair of its new key. A walked key's copies stop at the
// first that finds no partner; an excluded key takes no part, on either side.
// Questions pair by identity (Token, Offset, key skeleton) first, in script order, whatever their
// keys; the rest pair by key, but never two questions that both have an identity. An excluded key
// takes no part, on either side.
TEST(RecordCompare, IdentityFirstThenKey) {
  ScratchDir dir;
  const std::string tcl = "1\n2", dram = "5\n6";
  auto partners = [](const std::string& old_records, const std::vector<std::string>& old_places,
                     const std::string& new_records, const std::vector<std::string>& new_places,
                     const ExclusionTable& excluded = {}) {
    write_file("old.txt", script_of(old_records, old_places));
    write_file("new.txt", script_of(new_records, new_places));
    ScriptReading olds, news;
    EXPECT_EQ(olds.read("old.txt", false), 0);
    EXPECT_EQ(news.read("new.txt", false), 0);
    const Pairing pairing = pair_questions(news, olds, excluded);
    std::vector<bool> line(news.size());
    for (const Difference& d : update_differences(news, olds, pairing)) line[d.question] = true;
    std::string got;
    for (std::size_t i = 0; i < news.size(); ++i) {
      const QuestionPair& p = pairing.walked[i];
      got += std::to_string(p.partner) + (p.by_identity ? "i" : "") + (line[i] ? "d " : " ");
    }
    return got;
  };
  const std::string olds = "{DRAMVoltage1.250V},[0],<7>\n{tCL40},[0],<1>\n{tCL40},[0],<3>\n";
  const std::vector<std::string> old_places = {dram, tcl, tcl};
  const std::string news = "{tCL38},[0],<1>\n{DRAMVoltage1.100V},[0],<7>\n{tCL38},[0],<2>\n";
  EXPECT_EQ(partners(olds, old_places, news, {tcl, dram, tcl}), "1id 0i 2id ");
  EXPECT_EQ(partners(olds, old_places, "{tCL38},[0],<1>\n{tCL38},[0],<1>\n{tCL38},[0],<3>\n", {tcl, "", tcl}),
            "1i -1 2i ");
  EXPECT_EQ(partners(olds, old_places, news, {tcl, dram, tcl}, ExclusionTable{{"tCL40"}, {}}), "-1 0i -1 ");
  EXPECT_EQ(partners(olds, old_places, news, {tcl, dram, tcl}, ExclusionTable{{"tCL38"}, {}}), "-1 0i -1 ");
  // Two identities that differ never pair by key; a question without one pairs with either.
  EXPECT_EQ(partners("{K},[0],<1>\n", {"8\n8"}, "{K},[0],<2>\n", {"9\n9"}), "-1 ");
  EXPECT_EQ(partners("{K},[0],<1>\n{K},[0],<3>\n", {"8\n8", ""}, "{K},[0],<2>\n{K},[0],<2>\n", {"9\n9", ""}),
            "1d 0d ");
}

TEST(RecordCompare, SearchPositionAfterSuccessAndAfterFailure) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  const std::string searched = "{A},[0],<A1>\r\n{B},[0],<B2>\r\n{A},[0],<C3>\r\n";
  // After pairing B the search goes on at line 2.
  EXPECT_EQ(compare("{B},[0],<B2>\r\n{A},[0],<D4>\r\n", searched).diff, "{A},[0],<C3>\r\n");
  // A failed search sends the next one back to the top.
  EXPECT_EQ(compare("{B},[0],<B2>\r\n{Z},[0],<D4>\r\n{A},[0],<D4>\r\n", searched).diff, "{A},[0],<A1>\r\n");
  // An excluded record leaves the position where it was.
  write_file("Exclude.txt", "Z\r\n");
  EXPECT_EQ(compare("{B},[0],<B2>\r\n{Z},[0],<D4>\r\n{A},[0],<D4>\r\n", searched).diff, "{A},[0],<C3>\r\n");
}

TEST(RecordCompare, FailuresLeaveEverythingInPlace) {
  ScratchDir dir;
  write_file("Difftemp.ini", "earlier\r\n");
  Outcome o = compare("{A},[0],<1>\r\n", "{A},[0],<2>\r\n");
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.printed, "can't open Exclude.txt");
  EXPECT_EQ(o.count, -1);
  EXPECT_EQ(o.diff, "earlier\r\n");
  EXPECT_TRUE(fs::exists("new.ini") && fs::exists("old.ini"));

  write_file("Exclude.txt", "");
  fs::remove("Difftemp.ini");
  fs::create_directory("Difftemp.ini");
  o = compare("{A},[0],<1>\r\n", "{A},[0],<2>\r\n");
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.printed, "Cannot open Difftemp.ini\r\n");
  EXPECT_EQ(o.count, -1);
  EXPECT_TRUE(fs::exists("new.ini") && fs::exists("old.ini"));
}

TEST(RecordCompare, FailedWriteKeepsTheRecordFiles) {
  ScratchDir dir;
  write_file("Exclude.txt", "");
  std::string walked, searched;
  for (int i = 0; i < 1000; ++i) {
    walked += "{Q" + std::to_string(i) + "},[0],<1>\r\n";
    searched += "{Q" + std::to_string(i) + "},[0],<2>\r\n";
  }
  std::optional<FileSizeLimit> limit;
  // Difftemp.ini runs into the limit; the record files are written before it is set.
  Outcome o = compare_scripts(script_of(walked), script_of(searched), [&] { limit.emplace(4096); });
  limit.reset();
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.printed, "Error, cannot write file Difftemp.ini\r\n");
  EXPECT_EQ(o.count, -1);
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
                      std::string& diff, int& paired) {
  ExclusionTable excluded;
  if (load_exclusion_list(excluded) != 0) return 3;
  std::FILE* walked = std::fopen(walked_name.c_str(), "rb");
  std::FILE* searched = std::fopen(searched_name.c_str(), "rb");
  int count = 0;
  std::vector<std::pair<Fields, std::optional<Fields>>> pairs;  // walked record and partner
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
    if (ends == 2) {
      ++lines[w.key];
      pairs.push_back({w, std::nullopt});
    }
  }
  // A key on several walked lines with a difference on any pair: a line for each of its records,
  // its partner's value or, without a partner, its own.
  for (const auto& [w, s] : pairs) {
    const std::string& value = s ? s->current_value : w.current_value;
    if ((s && value != w.current_value) || (lines[w.key] > 1 && differs[w.key])) {
      diff += "{" + w.key + "},[" + w.default_value + "],<" + value + ">\r\n";
      ++count;
    }
  }
  paired = static_cast<int>(std::count_if(pairs.begin(), pairs.end(), [](const auto& p) { return p.second.has_value(); }));
  std::fclose(walked);
  std::fclose(searched);
  return count;
}

std::string random_record_file(std::mt19937& rng) {
  static const char* const keys[] = {"A", "B", "C", "QuietBoot", "Wake on LAN", "WakeonLAN",
                                     "Boot[1]", "x{y", "K<1", "Q}x", "a/b", "", "Serial Port"};
  static const char* const values[] = {"00", "01", "0A", "?", "", "0102", "1x"};
  auto pick = [&](auto& list) { return list[rng() % std::size(list)]; };
  std::string text;
  int lines = static_cast<int>(rng() % 40);
  for (int i = 0; i < lines; ++i) {
    text += std::string("{") + pick(keys) + "},[" + pick(values) + "],<" + pick(values) + ">\n";
  }
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
    // The reference reads the record files that the conversions write.
    std::string expected;
    int expected_count = 0, paired = 0;
    Outcome o = compare_scripts(script_of(walked), script_of(searched), [&] {
      expected_count = reference_compare("new.ini", "old.ini", expected, paired);
    });
    if (o.status == 3) {  // scripts that share no question are refused
      ASSERT_EQ(paired, 0);
      continue;
    }
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
  auto start = std::chrono::steady_clock::now();
  Outcome o = compare(walked, searched);
  ASSERT_EQ(o.status, 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("conversion and compare of %d reversed records: %.3f s\n", kLines, seconds);
  EXPECT_EQ(o.count, kLines);
  EXPECT_LT(seconds, 60.0);  // a rescanning search would take minutes; the bound leaves
                             // room for a sanitizer build on a loaded machine
}

}  // namespace
}  // namespace nvram

// Carrying the settings of one setup script into another, the way -u does it: conversion,
// comparison and merge together, checked on what the merged script reads back as.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "nvram/commands.h"
#include "script/exclusion.h"
#include "script/merge.h"
#include "script/pairing.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/record_compare.h"
#include "test_dir.h"

namespace nvram {
namespace {

namespace fs = std::filesystem;

ScriptReading reading_of(const std::string& script) {
  ScriptReading reading;
  EXPECT_EQ(reading.read(script, false), 0);
  return reading;
}

// Runs the update's file steps on old.txt and new.txt and checks that every question of the new
// script that pairs with one of the old script holds the old value in the merged script, or is
// named by a "Not carried" line and keeps its own value. Returns the number of questions carried.
int check_carry(const std::string& old_script, const std::string& new_script) {
  write_file("old.txt", old_script);
  write_file("new.txt", new_script);
  write_file("Exclude.txt", "");
  const ScriptReading olds = reading_of("old.txt");
  const ScriptReading news = reading_of("new.txt");

  testing::internal::CaptureStdout();
  const int status = update_files("old.txt", "new.txt");
  const std::string printed = testing::internal::GetCapturedStdout();
  // A dumped script without a question is refused, not carried.
  EXPECT_EQ(status, olds.size() == 0 ? 3 : 0);
  if (status != 0) return 0;

  std::multiset<std::string> not_carried;
  for (std::size_t start = 0, end; (end = printed.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    not_carried.insert(printed.substr(start, end + 2 - start));
  }
  const ScriptReading merged = reading_of("merged.txt");
  EXPECT_EQ(merged.size(), news.size());
  if (merged.size() != news.size()) return 0;

  int carried = 0;
  const Pairing pairing = pair_questions(news, olds, ExclusionTable{});
  for (std::size_t i = 0; i < news.size(); ++i) {
    const QuestionPair& p = pairing.walked[i];
    const std::string now(merged.current_value(i)), key(merged.key(i));
    if (p.partner < 0) {
      EXPECT_EQ(now, news.current_value(i)) << key << " has no partner";
      continue;
    }
    const std::string wanted(olds.current_value(static_cast<std::size_t>(p.partner)));
    if (now == wanted) {
      carried += wanted != news.current_value(i);
      continue;
    }
    auto named = not_carried.find("Not carried: " + key + " = " + wanted + "\r\n");
    EXPECT_TRUE(named != not_carried.end())
        << "question " << i << " " << key << " holds " << now << " instead of " << wanted;
    if (named != not_carried.end()) not_carried.erase(named);
    EXPECT_EQ(now, news.current_value(i)) << key << " was changed";
  }
  return carried;
}

// A random script of questions whose texts repeat, with option blocks, bare, angled and text
// Value lines; a second script of the same questions with other values, other shapes and some
// questions left out.
struct ScriptPair {
  std::string older, newer;
};

ScriptPair random_scripts(std::mt19937& rng) {
  static const char* const names[] = {"Alpha", "Beta", "Gamma Mode", "Delta 1", "Eps"};
  static const char* const numbers[] = {"0", "00", "01", "02", "0A", "4500", "5000"};
  static const char* const texts[] = {"", "INT33D5", "\\_SB.PC00", "a b%c", "{x}/<y>",
                                      "long text that runs well past the sixty-three characters "
                                      "of a record field"};
  auto pick = [&](auto& list) { return std::string(list[rng() % std::size(list)]); };
  auto question = [&](const std::string& name, unsigned shape) {
    std::string q = "Setup Question\t= " + name + "\r\nHelp String = [01] is not an option\r\n";
    switch (shape % 4) {
      case 0: {
        unsigned star = rng() % 3;
        q += std::string("Options\t=") + (star == 0 ? "*" : "") + "[00]Off\r\n";
        q += std::string("\t") + (star == 1 ? "*" : "") + "[01]On\r\n";
        if (rng() % 2) q += std::string("\t") + (star == 2 ? "*" : "") + "[02]Auto\r\n";
        break;
      }
      case 1: q += "Value\t=" + pick(numbers) + " // bare\r\n"; break;
      case 2: q += "Value\t=<" + pick(numbers) + ">\r\n"; break;
      case 3: q += "Value\t=\"" + pick(texts) + "\"\r\n"; break;
    }
    return q + "\r\n";
  };
  ScriptPair p;
  const int questions = 1 + static_cast<int>(rng() % 12);
  for (int i = 0; i < questions; ++i) {
    const std::string name = pick(names);
    const unsigned shape = rng() % 4;
    p.newer += question(name, shape);
    if (rng() % 6 != 0) p.older += question(name, rng() % 5 == 0 ? rng() % 4 : shape);
  }
  return p;
}

TEST(Carry, RandomScriptsWithRepeatsTextsAndAngledValues) {
  ScratchDir dir;
  std::mt19937 rng(12122026);
  int carried = 0;
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ScriptPair p = random_scripts(rng);
    carried += check_carry(p.older, p.newer);
    if (HasFailure()) {
      std::printf("old:\n%s\nnew:\n%s\n", p.older.c_str(), p.newer.c_str());
      break;
    }
  }
  EXPECT_GT(carried, 300);  // the scripts do differ
}

// Two real exports of one board, an older and a newer release, carried into each other.
TEST(Carry, RealExportsOfOneBoardIntoEachOther) {
  const fs::path real = fs::path(NVRAM_SHARED_DIR) / "corpus" / "real";
  if (!fs::exists(real / "real01.txt") || !fs::exists(real / "real03.txt"))
    GTEST_SKIP() << "no real exported scripts at " << real;
  ScratchDir dir;
  const std::string older = read_file((real / "real03.txt").string());
  const std::string newer = read_file((real / "real01.txt").string());
  EXPECT_GT(check_carry(older, newer), 0);
  EXPECT_GT(check_carry(newer, older), 0);
}

}  // namespace
}  // namespace nvram

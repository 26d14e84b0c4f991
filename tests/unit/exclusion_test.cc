#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "script/exclusion.h"
#include "test_dir.h"

namespace nvram {
namespace {

ExclusionTable load(const std::string& bytes) {
  write_file("Exclude.txt", bytes);
  ExclusionTable table;
  EXPECT_EQ(load_exclusion_list(table), 0);
  return table;
}

TEST(ExclusionList, EntriesKeepVisibleCharactersOnly) {
  ScratchDir dir;
  ExclusionTable t = load(
      "// questions that may differ\r\n"
      "Wake On LAN\r\n"
      "Quiet Boot // keep\n"
      "  // note\n"
      "/\n"
      "\n"
      " \t \r\n"
      "caf\xE9\x7F\x01x\n");
  EXPECT_EQ(t.entries, (std::vector<std::string>{"WakeOnLAN", "QuietBoot//keep", "//note", "", "", "cafx"}));
  EXPECT_TRUE(is_excluded("WakeOnLAN", t));
  EXPECT_TRUE(is_excluded("Wake On LAN", t));
  EXPECT_FALSE(is_excluded("QuietBoot", t));
  EXPECT_FALSE(is_excluded("wakeonlan", t));
  EXPECT_TRUE(is_excluded("   ", t));  // an empty entry matches a key of spaces only
  EXPECT_FALSE(is_excluded("Wake\tOnLAN", t));  // only spaces are removed from the key
}

TEST(ExclusionList, OnlyTheFirstHundredLinesCount) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 150; ++i) {
    if (i % 10 == 0) {
      text += "// c\n";
    } else {
      text += 'Q';
      text += std::to_string(i);
      text += '\n';
    }
  }
  ExclusionTable t = load(text);
  EXPECT_EQ(t.entries.size(), 90u);
  EXPECT_TRUE(is_excluded("Q99", t));
  EXPECT_FALSE(is_excluded("Q101", t));
}

TEST(ExclusionList, LongLinesAreCutAndSplitIntoPieces) {
  ScratchDir dir;
  std::string seventy(70, 'a');
  std::string long_line(299, 'b');
  ExclusionTable t = load(seventy + "\n" + long_line + "/xyz\n");
  ASSERT_EQ(t.entries.size(), 2u);  // the second piece of the long line starts with '/'
  EXPECT_EQ(t.entries[0], std::string(64, 'a'));
  EXPECT_EQ(t.entries[1], std::string(64, 'b'));
  EXPECT_TRUE(is_excluded(std::string(64, 'a'), t));
  EXPECT_FALSE(is_excluded(seventy, t));
}

TEST(ExclusionList, EmptyFileExcludesNothingAndMissingFileFails) {
  ScratchDir dir;
  ExclusionTable t = load("");
  EXPECT_FALSE(is_excluded("", t));
  std::filesystem::remove("Exclude.txt");
  testing::internal::CaptureStdout();
  EXPECT_EQ(load_exclusion_list(t), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open Exclude.txt");

  // A file that opens but cannot be read (here a directory) is no empty list: the comparisons
  // would let every question through.
  std::filesystem::create_directory("Exclude.txt");
  testing::internal::CaptureStdout();
  EXPECT_EQ(load_exclusion_list(t), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot read file Exclude.txt\r\n");
  EXPECT_TRUE(t.entries.empty());
}

}  // namespace
}  // namespace nvram

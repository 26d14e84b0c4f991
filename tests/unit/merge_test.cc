#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "script/file.h"
#include "script/merge.h"
#include "script/record.h"
#include "test_dir.h"

namespace nvram {
namespace {

namespace fs = std::filesystem;

// Joins lines with CR LF after each.
std::string crlf(std::initializer_list<std::string> lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text;
}

// Merges the script with the difference file and returns the merged bytes; `printed` is what the
// merge must print (the values it could not carry).
std::string merge(const std::string& script, const std::string& differences,
                  const std::string& printed_expected = "") {
  write_file("setup.txt", script);
  write_file("Difftemp.ini", differences);
  testing::internal::CaptureStdout();
  int status = use_different_create_merged("setup.txt", "Difftemp.ini", "merged.txt");
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(printed, printed_expected);
  return read_file("merged.txt");
}

TEST(Merge, WorkedExample) {
  ScratchDir dir;
  const std::string nine(9, ' ');
  std::string script = crlf({"Setup Question = Quiet Boot",
                             "BIOS Default =[00]Disabled",
                             "Options =*[00]Disabled   // Move \"*\" to the desired Option",
                             nine + "[01]Enabled",
                             "",
                             "Setup Question = Boot Delay",
                             "Value =05   // Seconds",
                             "",
                             "Setup Question = Wake On LAN",
                             "Options =[00]Disabled",
                             nine + "*[01]Enabled",
                             "",
                             "Setup Question = Quiet Boot",
                             "Options =*[00]Disabled",
                             nine + "[01]Enabled",
                             ""});
  std::string diff = crlf({"{QuietBoot},[00],<01>", "{WakeOnLAN},[01],<00>", "{BootDelay},[05],<0A>"});
  std::string expected = crlf({"Setup Question = Quiet Boot",
                               "BIOS Default =[00]Disabled",
                               "Options = [00]Disabled   // Move \"*\" to the desired Option",
                               std::string(8, ' ') + "*[01]Enabled",
                               "",
                               "Setup Question = Boot Delay"}) +
                         "Value =0A\n" +
                         crlf({"",
                               "Setup Question = Wake On LAN",
                               "Options=*[00]Disabled",
                               std::string(10, ' ') + "[01]Enabled",
                               "",
                               "Setup Question = Quiet Boot",
                               "Options =*[00]Disabled",
                               nine + "[01]Enabled",
                               ""});
  EXPECT_EQ(merge(script, diff), expected);
  EXPECT_TRUE(fs::exists("Difftemp.ini"));  // the merge removes nothing
}

TEST(Merge, NothingToApplyCopiesTheScript) {
  ScratchDir dir;
  std::string script = crlf({"// header", "Setup Question = Quiet Boot", "Options =*[00]Disabled"}) +
                       "Value\n\n  \r\n" + std::string(700, 'z') + "\nlast";
  EXPECT_EQ(merge(script, ""), script);
  // A line that no Setup line takes is named.
  EXPECT_EQ(merge(script, "{Other},[0],<01>\r\n", "Not carried: Other = 01\r\n"), script);
  const std::string nul = std::string("Setup Question = A\0B\r\nValue =0\0\r\n\0\r\n", 30);
  EXPECT_EQ(merge(nul, ""), nul);  // NUL bytes and what follows them included
  EXPECT_EQ(merge("no questions\r\nOptions =*[00]x\r\n", "{},[0],<01>\r\n", "Not carried:  = 01\r\n"),
            "no questions\r\nOptions =*[00]x\r\n");
}

TEST(Merge, OptionLines) {
  ScratchDir dir;
  auto one = [](const std::string& value, const std::string& options,
                const std::string& printed = "") {
    return merge("Setup Question = Q\r\n" + options + "\r\n\r\n", "{Q},[0],<" + value + ">\r\n",
                 printed);
  };
  EXPECT_EQ(one("00", "Options =[00]Disabled"), "Setup Question = Q\r\nOptions=*[00]Disabled\r\n\r\n");
  EXPECT_EQ(one("00", "Options\t=[00]Disabled"), "Setup Question = Q\r\nOptions=*[00]Disabled\r\n\r\n");
  EXPECT_EQ(one("00", "Options =*[00]Disabled"), "Setup Question = Q\r\nOptions =*[00]Disabled\r\n\r\n");
  // No blank for the '=' to move over, and no marker position: a '*' is inserted.
  EXPECT_EQ(one("00", "Options=[00]Disabled"), "Setup Question = Q\r\nOptions=*[00]Disabled\r\n\r\n");
  EXPECT_EQ(one("01", "Options =[00]A\r\n[01]B"), "Setup Question = Q\r\nOptions =[00]A\r\n*[01]B\r\n\r\n");
  EXPECT_EQ(one("01", "Options =[00]A\r\n=[01]B"), "Setup Question = Q\r\nOptions =[00]A\r\n=*[01]B\r\n\r\n");
  // Only the marker position changes; a '*' away from it stays.
  EXPECT_EQ(one("01", "Options =*[00]A // *\r\n *[01]B\r\n*[02]C\r\n**[03]D"),
            "Setup Question = Q\r\nOptions = [00]A // *\r\n *[01]B\r\n [02]C\r\n* [03]D\r\n\r\n");
  // A value that names no option of the block leaves the block as it is: its selection stays.
  const std::string unnamed = "Options =*[00]A // *\r\n *[01]B\r\n*[02]C\r\n**[03]D";
  EXPECT_EQ(one("?", unnamed, "Not carried: Q = ?\r\n"),
            "Setup Question = Q\r\n" + unnamed + "\r\n\r\n");
  // The pattern may stand anywhere; the marker is still before the first '['.
  EXPECT_EQ(one("01", "Options =[00]A [01]B"), "Setup Question = Q\r\nOptions=*[00]A [01]B\r\n\r\n");
  // Lines without '[' pass unchanged, a line of one character among them: the block goes on.
  EXPECT_EQ(one("01", "Options =*[00]A\r\nnote\r\nx\r\n [01]B"),
            "Setup Question = Q\r\nOptions = [00]A\r\nnote\r\nx\r\n*[01]B\r\n\r\n");
  // A line of blanks ends the block: the option after it is no option of the question, which
  // therefore cannot take the value.
  EXPECT_EQ(one("01", "Options =*[00]A\r\n  \r\n [01]B", "Not carried: Q = 01\r\n"),
            "Setup Question = Q\r\nOptions =*[00]A\r\n  \r\n [01]B\r\n\r\n");
}

TEST(Merge, ValueLines) {
  ScratchDir dir;
  auto one = [](const std::string& lines) { return merge("Setup Question = D\r\n" + lines, "{D},[05],<0A>\r\n"); };
  EXPECT_EQ(one("Value =05   // Seconds\r\n\r\n"), "Setup Question = D\r\nValue =0A\n\r\n");
  EXPECT_EQ(one("Value\r\n\r\n"), "Setup Question = D\r\nValue\r\n0A\n\r\n");
  EXPECT_EQ(one("Value=1=2\n"), "Setup Question = D\r\nValue=0A\n");
  EXPECT_EQ(one("Value\r=x\r\n"), "Setup Question = D\r\nValue\r=x\r\n0A\n");
  // A question has one Value line: a second one, and Options after it, are no lines of its.
  EXPECT_EQ(one("Value =1\r\nHelp = x\r\nValue =2\r\nOptions =*[00]a\r\n [0A]b\r\n\r\n"),
            "Setup Question = D\r\nValue =0A\nHelp = x\r\nValue =2\r\nOptions =*[00]a\r\n [0A]b\r\n\r\n");
  // Blank lines before its value belong to the question.
  EXPECT_EQ(one("Width =1\r\n\r\n  \r\nValue =1\r\n\r\n"),
            "Setup Question = D\r\nWidth =1\r\n\r\n  \r\nValue =0A\n\r\n");
}

// A value goes into a Value line only in the line's own shape; anything else leaves the line whole
// and is reported.
TEST(Merge, ValuesTakeTheShapeOfTheirLine) {
  ScratchDir dir;
  auto one = [](const std::string& value_line, const std::string& value,
                const std::string& printed = "") {
    return merge("Setup Question = D\r\n" + value_line + "\r\n\r\n", "{D},[0],<" + value + ">\r\n",
                 printed);
  };
  const std::string q = "Setup Question = D\r\n";
  EXPECT_EQ(one("Value\t=<4500>", "5000"), q + "Value\t=<5000>\n\r\n");
  EXPECT_EQ(one("Value = <4500> // mV", "0a"), q + "Value =<0a>\n\r\n");
  EXPECT_EQ(one("Value =\"INT33D5\" // x", "\"a%25b%2F %2f\""), q + "Value =\"a%b/ %2f\"\n\r\n");
  EXPECT_EQ(one("Value =\"INT33D5\"", "\"\""), q + "Value =\"\"\n\r\n");
  const std::pair<std::string, std::string> left[] = {
      {"Value =\"INT33D5\"", "33D5"},  // a number into a text
      {"Value\t=<4500>", "\"4500\""},   // a text into a number
      {"Value =05", "\"05\""},
      {"Value =05", ""},
      {"Value =05", "?"},
      {"Value =\"x\"", "\"long text that runs well past the sixty-three charact#B86C032D"},
  };
  for (const auto& [line, value] : left) {
    EXPECT_EQ(one(line, value, "Not carried: D = " + value + "\r\n"), q + line + "\r\n\r\n");
  }
}

// Without a blank line between them, a Setup line after a Value line gives the question up, and
// one before the value is no Setup line: values go only into the questions the reader found.
TEST(Merge, QuestionsWithoutBlankLineAreTheReadersQuestions) {
  ScratchDir dir;
  std::string script = crlf({"Setup Question = A", "Value =1", "Setup Question = B", "Value =2", "",
                             "Setup Question = B", "Value =3", ""});
  EXPECT_EQ(merge(script, crlf({"{A},[0],<7>", "{B},[0],<8>"}), "Not carried: A = 7\r\n"),
            "Setup Question = A\r\nValue =1\r\nSetup Question = B\r\nValue =8\n\r\n"
            "Setup Question = B\r\nValue =3\r\n\r\n");
  script = crlf({"Setup Question = A", "Help = a", "Setup Question = K", "Value =5", "",
                 "Setup Question = K", "Value =5", ""});
  EXPECT_EQ(merge(script, crlf({"{K},[0],<7>"})),
            crlf({"Setup Question = A", "Help = a", "Setup Question = K", "Value =5", "",
                  "Setup Question = K"}) + "Value =7\n\r\n");
}

TEST(Merge, DifferenceLinesAreUsedOnceInFileOrder) {
  ScratchDir dir;
  std::string script = crlf({"Setup Question = A", "Value =0", "", "Setup Question = A", "Value =0", "",
                             "Setup Question = A", "Value =0", ""});
  EXPECT_EQ(merge(script, crlf({"{A},[0],<1>", "{B},[0],<x>", "{A},[0],<2>"}), "Not carried: B = x\r\n"),
            crlf({"Setup Question = A"}) + "Value =1\n" + crlf({"", "Setup Question = A"}) + "Value =2\n" +
                crlf({"", "Setup Question = A", "Value =0", ""}));
}

TEST(Merge, DifferenceFieldParsing) {
  ScratchDir dir;
  const std::string q = "Setup Question = ";
  // A last difference line without line end is never applied.
  EXPECT_EQ(merge(q + "A\r\nValue =0\r\n", "{A},[0],<1>"), q + "A\r\nValue =0\r\n");
  // An empty key matches a Setup line that ends after its '=', or has none; so does an empty line.
  EXPECT_EQ(merge(q + "\r\nValue =0\r\n", "{},[0],<1>\r\n"), q + "\r\nValue =1\n");
  EXPECT_EQ(merge("Setup Question\r\nValue =0\r\n", "[0],<2>\r\n"), "Setup Question\r\nValue =2\n");
  EXPECT_EQ(merge(q + "\r\nValue =0\r\n", "\r\n", "Not carried:  = \r\n"), q + "\r\nValue =0\r\n");
  // '/' completes the line: the key is cut there on both sides.
  EXPECT_EQ(merge(q + "a/b\r\nValue =0\r\n", "{a/b},[0],<1>\r\n", "Not carried: a = \r\n"),
            q + "a/b\r\nValue =0\r\n");
  EXPECT_EQ(merge(q + "A\r\nValue =0\r\n", "{A},[0],<1/2>\r\n"), q + "A\r\nValue =1\n");
  // A Setup line's key is compared as record lines write it: with its delimiters escaped.
  EXPECT_EQ(merge(q + "B[1]\r\nValue =0\r\n", "{B%5B1%5D},[0],<1>\r\n"), q + "B[1]\r\nValue =1\n");
  EXPECT_EQ(merge(q + "B{[\r\nValue =0\r\n", "{B{[},[0],<1>\r\n", "Not carried: B{[ = 1\r\n"),
            q + "B{[\r\nValue =0\r\n");
  // Fields keep their first 63 characters.
  std::string k(70, 'k'), v(70, 'a');
  EXPECT_EQ(merge(q + k + "\r\nValue =0\r\n", "{" + k + "x},[0],<" + v + ">\r\n"),
            q + k + "\r\nValue =" + std::string(63, 'a') + "\n");
}

TEST(Merge, LongLinesAndNulBytes) {
  ScratchDir dir;
  const std::string diff = "{Q},[0],<01>\r\n";
  // A long block line is one line with one marker position, however long.
  std::string first = "Options =[00]A" + std::string(285, ' ');
  std::string second = " *[01]B" + std::string(290, '.') + "[02]";
  std::string got = merge("Setup Question = Q\r\n" + first + second + "\r\n\r\n", diff);
  EXPECT_EQ(got, "Setup Question = Q\r\nOptions=*[00]A" + std::string(285, ' ') + " *[01]B" +
                     std::string(290, '.') + "[02]\r\n\r\n");
  // A long line's end is no line of its own: the block goes on past it.
  const std::string dashes = "[00]A" + std::string(284, '-');
  EXPECT_EQ(merge("Setup Question = Q\r\nOptions =*" + dashes + "x\r\n [01]B\r\n", diff),
            "Setup Question = Q\r\nOptions = " + dashes + "x\r\n*[01]B\r\n");
  // Nor does it end the question before its Value line (a long help line).
  const std::string help = "Help String\t= " + std::string(285, 'a') + "x\r\n";
  EXPECT_EQ(merge("Setup Question = Q\r\n" + help + "Value\t=05\r\n\r\n", diff),
            "Setup Question = Q\r\n" + help + "Value\t=01\n\r\n");
  // The tests stop at a NUL, but the whole piece is written; a last line without line end is
  // handled in the block.
  got = merge(std::string("Setup Question = Q\r\nOptions =*[00]A\0[01]\r\n [01]B", 48), diff);
  EXPECT_EQ(got, std::string("Setup Question = Q\r\nOptions = [00]A\0[01]\r\n*[01]B", 48));
}

TEST(Merge, OpenFailures) {
  ScratchDir dir;
  write_file("setup.txt", "Setup Question = A\r\n");
  write_file("merged.txt", "old contents");
  testing::internal::CaptureStdout();
  EXPECT_EQ(use_different_create_merged("setup.txt", "Difftemp.ini", "merged.txt"), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open file\n");
  EXPECT_TRUE(fs::exists("merged.txt"));
  EXPECT_EQ(read_file("merged.txt"), "");  // created or emptied before the inputs are tested

  write_file("Difftemp.ini", "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(use_different_create_merged("setup.txt", "Difftemp.ini", "no/such/dir/merged.txt"), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open file\n");

  // A device is no file that the merge creates: neither written nor replaced.
  if (fs::is_character_file("/dev/full")) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(use_different_create_merged("setup.txt", "Difftemp.ini", "/dev/full"), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open file\n");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
}

// An input that opens but cannot be read (here a directory) must not pass for an empty one: the
// merged script would be cut off, or lose every difference, and still be imported.
TEST(Merge, UnreadableInputsFail) {
  ScratchDir dir;
  write_file("setup.txt", "Setup Question = A\r\nValue =1\r\n");
  fs::create_directory("diffdir");
  testing::internal::CaptureStdout();
  EXPECT_EQ(use_different_create_merged("setup.txt", "diffdir", "merged.txt"), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot read file diffdir\r\n");

  write_file("Difftemp.ini", "{A},[1],<2>\r\n");
  fs::create_directory("scriptdir");
  testing::internal::CaptureStdout();
  EXPECT_EQ(use_different_create_merged("scriptdir", "Difftemp.ini", "merged.txt"), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot read file scriptdir\r\n");
}

TEST(Merge, HundredThousandQuestionsInReversedOrder) {
  ScratchDir dir;
  constexpr int kQuestions = 100000;
  std::string script, diff;
  for (int i = 0; i < kQuestions; ++i) {
    script += "Setup Question = Question " + std::to_string(i) +
              "\r\nOptions =*[00]Disabled\r\n         [01]Enabled\r\n\r\n";
    diff += "{Question" + std::to_string(kQuestions - 1 - i) + "},[00],<01>\r\n";
  }
  auto start = std::chrono::steady_clock::now();
  std::string merged = merge(script, diff);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("merge of %d reversed questions: %.3f s\n", kQuestions, seconds);
  EXPECT_EQ(merged.size(), script.size());
  EXPECT_NE(merged.find("Question 99999\r\nOptions = [00]Disabled\r\n        *[01]Enabled\r\n"),
            std::string::npos);
  EXPECT_LT(seconds, 60.0);  // a rescanning lookup would take minutes; the bound leaves
                             // room for a sanitizer build on a loaded machine
}

// The merge writes the script's own bytes from where they stand and its new lines through a
// buffer. In any mix, and over the batches in which they reach the file, the file holds them in
// order; a write cut short by a full disk is reported.
TEST(Merge, BytesWrittenInPlaceKeepTheirOrder) {
  ScratchDir dir;
  std::mt19937 random(7);
  std::string source(1 << 18, '\0');
  for (char& c : source) c = static_cast<char>('a' + random() % 26);
  std::string expected;
  {
    OutFile out("out.txt", create_anew("out.txt"));
    for (int i = 0; i < 4000; ++i) {
      const bool in_place = random() % 2;
      const std::size_t size = in_place && random() % 40 == 0 ? random() % 70000 : random() % 40;
      const std::string_view bytes(source.data() + random() % (source.size() - size), size);
      if (in_place) out.write_in_place(bytes);
      else out.write(bytes);
      expected += bytes;
    }
    ASSERT_TRUE(out.finish());
  }
  EXPECT_TRUE(read_file("out.txt") == expected);

  FileSizeLimit limit(4096);
  OutFile full("full.txt", create_anew("full.txt"));
  full.write("x");
  full.write_in_place(source);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(full.finish());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot write file full.txt\r\n");
}

}  // namespace
}  // namespace nvram

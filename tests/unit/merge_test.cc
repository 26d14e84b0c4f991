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
  // Lines without '[' and other lines of the block pass unchanged; two blanks do not end it.
  EXPECT_EQ(one("01", "Options =*[00]A\r\n  \r\nnote\r\n *[01]B"),
            "Setup Question = Q\r\nOptions = [00]A\r\n  \r\nnote\r\n *[01]B\r\n\r\n");
  // One byte of text with its line end is short and ends the block: the option after it is no
  // option of the block, which therefore cannot take the value.
  EXPECT_EQ(one("01", "Options =*[00]A\r\nx\r\n [01]B", "Not carried: Q = 01\r\n"),
            "Setup Question = Q\r\nOptions =*[00]A\r\nx\r\n [01]B\r\n\r\n");
}

TEST(Merge, ValueLines) {
  ScratchDir dir;
  auto one = [](const std::string& lines) { return merge("Setup Question = D\r\n" + lines, "{D},[05],<0A>\r\n"); };
  EXPECT_EQ(one("Value =05   // Seconds\r\n\r\n"), "Setup Question = D\r\nValue =0A\n\r\n");
  EXPECT_EQ(one("Value\r\n\r\n"), "Setup Question = D\r\nValue\r\n0A\n\r\n");
  EXPECT_EQ(one("Value=1=2\n"), "Setup Question = D\r\nValue=0A\n");
  EXPECT_EQ(one("Value\r=x\r\n"), "Setup Question = D\r\nValue\r=x\r\n0A\n");
  // Every Value line up to the short line is rewritten; Options after it opens a block.
  EXPECT_EQ(one("Value =1\r\nHelp = x\r\nValue =2\r\nOptions =*[00]a\r\n [0A]b\r\n\r\n"),
            "Setup Question = D\r\nValue =0A\nHelp = x\r\nValue =0A\nOptions = [00]a\r\n*[0A]b\r\n\r\n");
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

TEST(Merge, QuestionsWithoutBlankLineShareTheMatchedValue) {
  ScratchDir dir;
  std::string script = crlf({"Setup Question = A", "Value =1", "Setup Question = B", "Value =2", "",
                             "Setup Question = B", "Value =3", ""});
  EXPECT_EQ(merge(script, crlf({"{A},[0],<7>", "{B},[0],<8>"})),
            "Setup Question = A\r\nValue =7\nSetup Question = B\r\nValue =7\n\r\n"
            "Setup Question = B\r\nValue =8\n\r\n");
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

TEST(Merge, PiecesAndNulBytes) {
  ScratchDir dir;
  const std::string diff = "{Q},[0],<01>\r\n";
  // A long block line is handled piece by piece: each piece has its own marker position.
  std::string first = "Options =*[00]A" + std::string(284, ' ');  // exactly 299 bytes
  std::string second = " *[01]B" + std::string(290, '.') + "[02]";
  std::string got = merge("Setup Question = Q\r\n" + first + second + "\r\n\r\n", diff);
  EXPECT_EQ(got, "Setup Question = Q\r\nOptions = [00]A" + std::string(284, ' ') + " *[01]B" +
                     std::string(290, '.') + "[02]\r\n\r\n");
  // A final piece of at most 3 bytes is no short line: the block goes on past it.
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

// ---- The same merge, done the slow way: a line-by-line walk through 300-byte buffers that reads
// the difference file again from its start for every Setup line, exactly as the rules describe it.

class ReferenceMerge {
 public:
  ReferenceMerge(const char* script, const char* diff) {
    in_ = std::fopen(script, "rb");
    diff_ = std::fopen(diff, "rb");
  }
  ~ReferenceMerge() {
    std::fclose(in_);
    std::fclose(diff_);
  }

  std::string run() {
    std::string line;
    for (;;) {  // copy phase
      if (!piece(line)) return out_;
      out_ += line;
      if (std::strncmp(line.c_str(), "Setup", 5) != 0) continue;
      key_ = written_key(key_of(line.c_str()));
      if (!lookup(key_)) continue;
      for (;;) {  // rewrite phase
        if (!piece(line)) return out_;
        if (std::strncmp(line.c_str(), "Optio", 5) == 0) {
          std::vector<std::string> block{line};
          for (;;) {  // option block, held until its end
            bool more = piece(line);
            if (more && !is_short(line)) {
              block.push_back(line);
              continue;
            }
            bool takes = false;
            for (const std::string& l : block) {
              takes = takes || std::strstr(l.c_str(), ("[" + matched_ + "]").c_str()) != nullptr;
            }
            for (const std::string& l : block) takes ? option_line(l) : void(out_ += l);
            if (!more) return out_;
            out_ += line;
            break;
          }
          break;
        }
        if (std::strncmp(line.c_str(), "Value", 5) == 0) {
          value_line(line);
          continue;
        }
        out_ += line;
        if (is_short(line)) break;
      }
    }
  }

  // The pieces' tests read them as C strings, so they stop at its first NUL.
  bool is_short(const std::string& line) const { return starts_line_ && std::strlen(line.c_str()) <= 3; }

 private:
  // The next piece of the script: up to its line feed, at most 299 bytes, NUL bytes kept.
  bool piece(std::string& line) {
    starts_line_ = ends_line_;
    line.clear();
    int c;
    while (line.size() < 299 && (c = std::fgetc(in_)) != EOF) {
      line += static_cast<char>(c);
      if (c == '\n') break;
    }
    ends_line_ = !line.empty() && line.back() == '\n';
    return !line.empty();
  }

  static std::string key_of(const char* line) {
    std::string key;
    const char* eq = std::strchr(line, '=');
    if (!eq) return key;
    for (const char* p = eq + 1; *p && *p != '\r' && *p != '\n' && *p != '/'; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (c >= 33 && c <= 126 && key.size() < 63) key += *p;
    }
    return key;
  }

  bool lookup(const std::string& key) {
    std::rewind(diff_);
    char line[300];
    for (std::size_t pos = 0; std::fgets(line, sizeof line, diff_); ++pos) {
      std::string fields[3];
      std::string* field = nullptr;
      bool complete = false;
      for (const char* p = line; *p; ++p) {
        char c = *p;
        if (c == '\r' || c == '\n' || c == '/') {
          complete = true;
          break;
        }
        if (c == '}' || c == ']' || c == '>') {
          field = nullptr;
          continue;
        }
        if (field && field->size() < 63) *field += c;
        if (c == '{') field = &fields[0];
        if (c == '[') field = &fields[1];
        if (c == '<') field = &fields[2];
      }
      if (!complete || fields[0] != key) continue;
      if (used_.size() <= pos) used_.resize(pos + 1);
      if (used_[pos]) continue;
      used_[pos] = true;
      matched_ = fields[2];
      return true;
    }
    return false;
  }

  void option_line(const std::string& line) {
    std::string text = line;
    std::size_t b = std::string(line.c_str()).find('[');
    if (b != std::string::npos) {
      bool selected = std::strstr(line.c_str(), ("[" + matched_ + "]").c_str()) != nullptr;
      if (!selected) {
        if (b >= 1 && text[b - 1] == '*') text[b - 1] = ' ';
      } else if (b == 0) {
        text.insert(0, 1, '*');
      } else if (text[b - 1] == '=') {
        if (b >= 2 && (text[b - 2] == ' ' || text[b - 2] == '\t')) {
          text[b - 2] = '=';
          text[b - 1] = '*';
        } else {
          text.insert(b, 1, '*');
        }
      } else {
        text[b - 1] = '*';
      }
    }
    out_ += text;
  }

  // The value goes in bare, between '<' and '>' or as a text, by the first byte after the '='
  // that is not a blank or tab; a value of another kind leaves the line whole.
  void value_line(const std::string& line) {
    const char* text = line.c_str();
    std::size_t n = std::strcspn(text, "\r\n");
    const char* eq = static_cast<const char*>(std::memchr(text, '=', n));
    const char* first = eq ? eq + 1 + std::strspn(eq + 1, " \t") : nullptr;
    bool angled = first && first < text + n && *first == '<';
    bool quoted = first && first < text + n && *first == '"' &&
                  std::memchr(first + 1, '"', static_cast<std::size_t>(text + n - first - 1));
    bool number = !matched_.empty() &&
                  matched_.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
    bool is_text = matched_.size() >= 2 && matched_.front() == '"' && matched_.back() == '"';
    if (quoted ? !is_text : !number) {
      out_ += line;
      return;
    }
    out_ += eq ? std::string(text, eq + 1) : line;
    out_ += angled ? "<" + matched_ + ">\n" : quoted ? unescape_text_value(matched_) + "\n" : matched_ + "\n";
  }

  std::FILE* in_;
  std::FILE* diff_;
  std::vector<bool> used_;
  std::string key_;
  std::string matched_;
  std::string out_;
  bool starts_line_ = true, ends_line_ = true;
};

// The merged bytes alone; what the merge prints is checked against the model of the cross-check.
std::string merged_bytes(const std::string& script, const std::string& differences) {
  write_file("setup.txt", script);
  write_file("Difftemp.ini", differences);
  testing::internal::CaptureStdout();
  EXPECT_EQ(use_different_create_merged("setup.txt", "Difftemp.ini", "merged.txt"), 0);
  testing::internal::GetCapturedStdout();
  return read_file("merged.txt");
}

std::string random_script(std::mt19937& rng) {
  static const char* const questions[] = {"Quiet Boot", "Wake On LAN", "Boot Delay", "a/b", "Boot[1]",
                                          "B{[", "", "Serial\tPort", "x"};
  static const char* const others[] = {
      "BIOS Default =[00]Disabled", "Options =*[00]Disabled   // Move \"*\" to the desired Option",
      "Options =[01]Enabled", "Options=[00]Off", "Options\t=[0A]Ten", "Options =*[0A]x [01]y",
      "         [01]Enabled", "         *[00]Disabled", "[01]Enabled", "=[00]x", "*[0A]", " =[01]",
      "Value =05   // Seconds", "Value", "Value =", "Value=0A/x", "", "", "", " ", "x", "  ",
      "Token =12 // comment", "Setup Question", "  Setup Question = x", "Help String = [?]",
      "*[?]unknown", "\t*[]empty", "Value\t=<4500>", "Value =\"INT33D5\" // x", "Value =\"\"",
      "Value = \"a b\""};
  auto pick = [&](auto& list) { return std::string(list[rng() % std::size(list)]); };
  std::string text;
  int lines = static_cast<int>(rng() % 60);
  for (int i = 0; i < lines; ++i) {
    std::string line;
    switch (rng() % 12) {
      case 0: case 1: case 2: line = "Setup Question = " + pick(questions); break;
      case 3: line = "Options =*[00]" + std::string(rng() % 600, ' ') + "[01]" + std::string(rng() % 10, 'e'); break;
      case 4: line = pick(others) + std::string(1, '\0') + "hidden [01]"; break;
      default: line = pick(others);
    }
    text += line;
    unsigned end = rng() % 10;
    text += end == 0 ? "\n" : end == 1 ? "\r" : "\r\n";
  }
  if (rng() % 4 == 0) text += "Options =[01]last";
  return text;
}

std::string random_differences(std::mt19937& rng) {
  static const char* const keys[] = {"QuietBoot", "WakeOnLAN", "BootDelay", "a", "a/b", "Boot[1]",
                                     "B{[", "", "SerialPort", "x", "Missing"};
  static const char* const values[] = {"00", "01", "0A", "?", "", "1/2", "05", "\"x%25y\"", "\"\""};
  auto pick = [&](auto& list) { return std::string(list[rng() % std::size(list)]); };
  std::string text;
  int lines = static_cast<int>(rng() % 15);
  for (int i = 0; i < lines; ++i) {
    switch (rng() % 10) {
      case 0: text += "\r\n"; break;
      case 1: text += record_line(std::string(rng() % 400, 'k'), "0", "01"); break;
      default: text += record_line(pick(keys), pick(values), pick(values));
    }
  }
  if (rng() % 4 == 0) {
    std::string last = record_line(pick(keys), "0", "01");
    text.append(last, 0, last.size() - 2);  // no line end
  }
  return text;
}

TEST(Merge, IndexedLookupEqualsTheLineByLineWalk) {
  ScratchDir dir;
  std::mt19937 rng(8122026);
  for (int round = 0; round < 500; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string script = random_script(rng);
    std::string diff = random_differences(rng);
    write_file("setup.txt", script);
    write_file("Difftemp.ini", diff);
    ReferenceMerge reference("setup.txt", "Difftemp.ini");
    std::string expected = reference.run();
    ASSERT_EQ(merged_bytes(script, diff), expected);
  }
}

TEST(Merge, RealScriptsAgreeWithTheLineByLineWalk) {
  const fs::path corpus = fs::path(NVRAM_SHARED_DIR) / "corpus" / "real";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no real scripts at " << corpus;
  ScratchDir dir;
  const char* const values[] = {"00", "01", "03", "1", "0A"};
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() != ".txt") continue;
    SCOPED_TRACE(entry.path().string());
    std::string script = read_file(entry.path().string());
    EXPECT_EQ(merge(script, ""), script);
    // Every 50th question, listed backwards, with the values of its options and Value lines.
    std::vector<std::string> keys;
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("Setup", 0) == 0) keys.push_back(written_key(question_key(line)));
    }
    std::string diff;
    for (std::size_t i = keys.size(); i-- > 0;) {
      if (i % 50 == 0) diff += record_line(keys[i], "00", values[i % std::size(values)]);
    }
    write_file("setup.txt", script);
    write_file("Difftemp.ini", diff);
    ReferenceMerge reference("setup.txt", "Difftemp.ini");
    std::string expected = reference.run();
    std::string merged = merged_bytes(script, diff);
    EXPECT_NE(merged, script);
    EXPECT_TRUE(merged == expected);  // no character diff of two whole scripts on a failure
  }
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

}  // namespace
}  // namespace nvram

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "script/reader.h"
#include "test_dir.h"

namespace nvram {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  int count = -1;
  std::string records;  // the record file's bytes
  std::string printed;  // standard output
};

// Converts the named script, storing its record count in `count` on success.
int convert_named(const std::string& script_name, int& count) {
  ScriptReading reading;
  File records;
  const int status = process_script_convert(script_name, reading, records);
  if (status == 0) count = reading.closed_count();
  return status;
}

// Converts the named script; the record file is read from record_name.
Result convert_file(const std::string& script_name, const std::string& record_name) {
  Result r;
  testing::internal::CaptureStdout();
  r.status = convert_named(script_name, r.count);
  r.printed = testing::internal::GetCapturedStdout();
  r.records = read_file(record_name);
  return r;
}

// Writes the script as "setup.txt" and converts it.
Result convert(const std::string& script) {
  write_file("setup.txt", script);
  return convert_file("setup.txt", "setup.ini");
}

// Turns every "\n" into "\r\n".
std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const char kWorkedExample[] =
    "// exported settings\n"
    "\n"
    "Setup Question = Quiet Boot\n"
    "Token =18\n"
    "Offset =5A\n"
    "Width =01\n"
    "BIOS Default =[00]Disabled\n"
    "Options =*[00]Disabled // the starred option is selected\n"
    "         [01]Enabled\n"
    "\n"
    "Setup Question = Boot Timeout\n"
    "Token =1C\n"
    "Width =02\n"
    "BIOS Default =1\n"
    "Value =5 // seconds\n"
    "\n"
    "Setup Question = NumLock State\n"
    "BIOS Default =[01]On\n"
    "Options =[01]On // the starred option is selected\n"
    "         *[00]Off\n";

const char kWorkedRecords[] =
    "{QuietBoot},[00],<00>\r\n"
    "{BootTimeout},[1],<5>\r\n"
    "{NumLockState},[01],<00>\r\n";

TEST(ScriptConvert, WorkedExampleWithEitherLineEnd) {
  ScratchDir dir;
  for (const std::string& script : {std::string(kWorkedExample), crlf(kWorkedExample)}) {
    Result r = convert(script);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.count, 2);  // the third record was written at the end of the script
    EXPECT_EQ(r.records, kWorkedRecords);
    EXPECT_EQ(r.printed, "");
  }
}

TEST(ScriptConvert, FourRecordScript) {
  ScratchDir dir;
  const std::string script =
      "Setup Question\n"
      "Value =\n"
      "\n"
      "Setup Question = Wake on LAN/WLAN\n"
      "BIOS Default =\n"
      "Value =0x1F\n"
      "\n"
      "Setup Question = Fan Mode\n"
      "BIOS Default =[0A]Auto\n"
      "Options =[00]Off\n"
      "         *[01]On\n"
      "         *[02]Auto\n"
      "\n"
      "Setup Question = Beep Level\n"
      "BIOS Default =1 2 Enabled\n"
      "\n";
  Result r = convert(script);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.count, 4);
  EXPECT_EQ(r.records,
            "{},[?],<>\r\n"
            "{WakeonLAN},[?],<0>\r\n"
            "{FanMode},[0A],<02>\r\n"
            "{BeepLevel},[12Eabed],<?>\r\n");

  // Without its starred option-list lines the third question keeps its Options line's value.
  r = convert("Setup Question = Fan Mode\nBIOS Default =[0A]Auto\nOptions =[00]Off\n  [01]On\n\n");
  EXPECT_EQ(r.records, "{FanMode},[0A],<00>\r\n");
}

TEST(ScriptConvert, ScriptEnds) {
  ScratchDir dir;
  Result r = convert("");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.count, 0);
  EXPECT_TRUE(fs::exists("setup.ini"));
  EXPECT_EQ(r.records, "");

  // A last line without a line feed still gets its open record written, uncounted.
  r = convert("Setup Question = A\nValue =1\n\nSetup Question = B\nValue =2");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.records, "{A},[?],<1>\r\n{B},[?],<2>\r\n");

  // A record file left from an earlier run is emptied.
  r = convert("// nothing\n");
  EXPECT_EQ(r.records, "");
}

TEST(ScriptConvert, BlankLines) {
  ScratchDir dir;
  // Each of these is blank: a single character (the text ends at the NUL), a line that starts
  // with a carriage return, one without a visible character, one that starts with NUL. Before the
  // question's value it ends the question, unless the Value or Options line follows it.
  const std::string blanks[] = {std::string("x\0yz\n", 5), "\r x\n", " \t\x7F\xA0\xFF\n",
                                std::string("\0Value =1\n", 10), std::string(300, ' ') + "\r\n"};
  for (const std::string& blank : blanks) {
    Result r = convert("Setup Question = A\n" + blank + "Value =7\n\n");
    EXPECT_EQ(r.count, 1) << blank;
    EXPECT_EQ(r.records, "{A},[?],<7>\r\n") << blank;
    r = convert("Setup Question = A\n" + blank + "\nOptions =[01]\n *[02]\n\n");
    EXPECT_EQ(r.count, 1) << blank;
    EXPECT_EQ(r.records, "{A},[?],<02>\r\n") << blank;
    r = convert("Setup Question = A\n" + blank + "BIOS Default =1\nValue =7\n\n");
    EXPECT_EQ(r.count, 1) << blank;
    EXPECT_EQ(r.records, "{A},[?],<?>\r\n") << blank;
  }
  // The blank lines before a question's value are not counted as closing it, even at the end.
  Result ended = convert("Setup Question = A\n\n\n");
  EXPECT_EQ(ended.count, 1);
  EXPECT_EQ(ended.records, "{A},[?],<?>\r\n");
  // Blank lines between questions close an open record only once.
  Result r = convert("Setup Question = A\nValue =1\n\n\n \n");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.records, "{A},[?],<1>\r\n");
}

TEST(ScriptConvert, LineScans) {
  ScratchDir dir;
  struct Case {
    const char* lines;
    const char* record;
  } cases[] = {
      // A later '=' re-arms the bracket; only its first '[' starts the value afresh.
      {"BIOS Default =[01 =[02]\n", "{Q},[02],<?>\r\n"},
      {"BIOS Default =[01[02]\n", "{Q},[0102],<?>\r\n"},
      {"BIOS Def0 =7 / 8\n", "{Q},[7],<?>\r\n"},
      {"BIOS Default =x]\n", "{Q},[?],<?>\r\n"},
      {"BIOS Default =x", "{Q},[],<?>\r\n"},  // no stop character: nothing taken, no placeholder
      {"BIOS Default 01\n", "{Q},[?],<?>\r\n"},
      {"BIOS Default =[0A]\nBIOS Default =[0B]\n", "{Q},[0B],<?>\r\n"},
      {"Value = ab12g34\n", "{Q},[?],<ab12>\r\n"},
      {"Value =1/2\n", "{Q},[?],<1>\r\n"},
      {"Value\n", "{Q},[?],<>\r\n"},
      {"Options =*[1F]x // [22]\n", "{Q},[?],<1F>\r\n"},
      {"Options = no bracket\n", "{Q},[?],<>\r\n"},
      // Option-list lines: '*' must come before the '[', '/' does not stop, ']' does.
      {"Options =[00]\n [01]*\n", "{Q},[?],<00>\r\n"},
      {"Options =[00]\n * x [0/1]\n", "{Q},[?],<01>\r\n"},
      {"Options =[00]\n *[0A*[0B]\n", "{Q},[?],<0B>\r\n"},
      {"Options =[00]\n *[0A]*[0B]\n", "{Q},[?],<0A>\r\n"},
      {"Options =[00]\n *[]\n", "{Q},[?],<>\r\n"},
      // Kinds count only in their state: Value then BIOS leaves the default alone.
      {"Value =3\nBIOS Default =[01]\n", "{Q},[?],<3>\r\n"},
      {"Options =[00]\nValue =*[5]\n", "{Q},[?],<5>\r\n"},
      {"value =3\n Value =4\nVALUE =5\n", "{Q},[?],<?>\r\n"},
  };
  for (const Case& c : cases) {
    Result r = convert(std::string("Setup Question = Q\n") + c.lines);
    EXPECT_EQ(r.records, c.record) << c.lines;
  }
}

TEST(ScriptConvert, FieldLimit) {
  ScratchDir dir;
  const std::string d63(63, 'a'), d64(64, 'b'), d70(70, 'c');
  struct Case {
    std::string lines;
    std::string record;
  } cases[] = {
      // Keys and Options and Value lines keep 63 characters and go on as usual.
      {"Setup Question = " + d70 + "\nValue =1\n",
       std::string("{") + std::string(63, 'c') + "},[?],<1>\r\n"},
      {"Setup Question = Q\nOptions =[" + d70 + "]\n *[01]\n", "{Q},[?],<01>\r\n"},
      {"Setup Question = Q\nValue =" + d70 + "\n", "{Q},[?],<" + std::string(63, 'c') + ">\r\n"},
      // A BIOS line at the limit passes the rest of the question over.
      {"Setup Question = Q\nBIOS Default =[" + d64 + "]\nValue =1\n",
       "{Q},[" + std::string(63, 'b') + "],<?>\r\n"},
      // Exactly 63 followed by a stop character, or by the end of the line, is no limit.
      {"Setup Question = Q\nBIOS Default =[" + d63 + "]\nValue =1\n", "{Q},[" + d63 + "],<1>\r\n"},
      {"Setup Question = Q\nBIOS Default =" + d63 + "\r\nValue =1\n", "{Q},[" + d63 + "],<1>\r\n"},
      // Any character that does not stop the scan is checked, a blank too.
      {"Setup Question = Q\nBIOS Default =[" + d63 + " ]\nValue =1\n", "{Q},[" + d63 + "],<?>\r\n"},
      // The bracket empties the field, and the count starts again there.
      {"Setup Question = Q\nBIOS Default =" + std::string(60, '1') + "[0A]\nValue =1\n",
       "{Q},[0A],<1>\r\n"},
      // Option-list lines at the limit: later starred lines are passed over.
      {"Setup Question = Q\nOptions =[00]\n *[" + d64 + "]\n *[01]\n",
       "{Q},[?],<" + std::string(63, 'b') + ">\r\n"},
      {"Setup Question = Q\nOptions =[00]\n *[" + d63 + "*[01]\n", "{Q},[?],<" + d63 + ">\r\n"},
      {"Setup Question = Q\nOptions =[00]\n *[" + d63 + "]\n *[01]\n", "{Q},[?],<01>\r\n"},
  };
  for (const Case& c : cases) {
    Result r = convert(c.lines + "\n");
    EXPECT_EQ(r.count, 1) << c.lines;  // the record stays open until the blank line
    EXPECT_EQ(r.records, c.record) << c.lines;
  }

  // After a limit the state is between questions: a Setup line before the blank line gives the
  // open record up.
  Result r = convert("Setup Question = A\nBIOS Default =[" + d64 + "]\nSetup Question = B\n\n");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.records, "{B},[?],<?>\r\n");
}

TEST(ScriptConvert, LongLinesAreWholeLines) {
  ScratchDir dir;
  // However long a line, its end is no line of its own and no piece of it has a kind.
  for (std::size_t size : {298, 299, 300, 301, 643}) {
    const std::string help = "Help String = " + std::string(size - 16, 'h');
    Result r = convert("Setup Question = X\r\n" + help + "\r\nBIOS Default =[01]\r\nValue =5\r\n\r\n");
    EXPECT_EQ(r.records, "{X},[01],<5>\r\n") << size;
    r = convert("Setup Question = X\r\n" + help.substr(0, 293) + "Value =9" +
                std::string(size, ' ') + "\r\nValue =5\r\n\r\n");
    EXPECT_EQ(r.records, "{X},[?],<5>\r\n") << size;
  }
}

// A script kept in memory is read as the script read piece by piece from its file is: lines
// across the pieces' bounds, and a line longer than a piece, included.
TEST(ScriptReading, KeptAndStreamedReadingsAgree) {
  ScratchDir dir;
  std::string script;
  for (int i = 0; i < 6000; ++i) {
    if (i == 3000)
      script += "Setup Question = Long\r\nHelp String = " + std::string(300000, 'h') + "\r\n";
    script += "Setup Question = Q" + std::to_string(i) + "\r\nToken =" + std::to_string(i) +
              "\r\nOffset =1\r\nOptions =[00]A\r\n         *[0" + std::to_string(i % 10) +
              "]B\r\n\r\n";
  }
  write_file("s.txt", script);
  ScriptReading kept, streamed;
  ASSERT_EQ(kept.read("s.txt", true), 0);
  ASSERT_EQ(streamed.read("s.txt", false), 0);
  ASSERT_EQ(kept.size(), 6000u);
  ASSERT_EQ(streamed.size(), kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    ASSERT_EQ(kept.record_line(i), streamed.record_line(i)) << i;
    ASSERT_EQ(kept.identity(i), streamed.identity(i)) << i;
    ASSERT_EQ(kept[i].value_end, streamed[i].value_end) << i;
  }
}

TEST(ScriptConvert, QuestionsWithoutBlankLineBetween) {
  ScratchDir dir;
  // After option-list lines the second question is read as more options of the first.
  Result r = convert(
      "Setup Question = A\nOptions =[00]\n [01]\n"
      "Setup Question = B\nBIOS Default =[05]\nOptions =[03]\n *[04]\n\n");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.records, "{A},[?],<04>\r\n");
  // After a Value line the second Setup line gives the first record up.
  r = convert("Setup Question = A\nValue =1\nSetup Question = B\nValue =2\n\n");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.records, "{B},[?],<2>\r\n");
}

TEST(ScriptConvert, UnrecognisedSetupLinesPassTheQuestionOver) {
  ScratchDir dir;
  Result r = convert(
      "setup Question = A\nBIOS Default =[01]\nValue =1\n\n"
      " Setup Question = B\nValue =2\n\n"
      "Setup Question = C\nValue =3\n\n");
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.records, "{C},[?],<3>\r\n");
}

TEST(ScriptConvert, RecordFileNames) {
  ScratchDir dir;
  const std::string script = "Setup Question = A\nValue =1\n\n";
  const std::pair<const char*, const char*> names[] = {
      {"my.setup.txt", "my.ini"}, {"./s.txt", "./s.ini"}, {"plain", "plain.ini"}};
  for (const auto& [name, record] : names) {
    write_file(name, script);
    Result r = convert_file(name, record);
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.records, "{A},[?],<1>\r\n") << name;
    EXPECT_EQ(read_file(name), script) << name;
  }
}

TEST(ScriptConvert, OpenFailures) {
  ScratchDir dir;
  Result r;
  r.count = 77;
  testing::internal::CaptureStdout();
  r.status = convert_named("missing.txt", r.count);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot open file missing.txt\r\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.count, 77);
  EXPECT_FALSE(fs::exists("missing.ini"));

  // The record file cannot be created: here a directory has its name.
  fs::create_directory("setup.ini");
  write_file("setup.txt", "Setup Question = A\n\n");
  testing::internal::CaptureStdout();
  r.status = convert_named("setup.txt", r.count);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot open file setup.ini\r\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.count, 77);

  // The same in a directory that cannot be written (root writes anyway).
  if (::geteuid() != 0) {
    fs::create_directory("ro");
    write_file("ro/s.txt", "Setup Question = A\n\n");
    fs::permissions("ro", fs::perms::owner_read | fs::perms::owner_exec);
    testing::internal::CaptureStdout();
    r.status = convert_named("ro/s.txt", r.count);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot open file ro/s.ini\r\n");
    EXPECT_EQ(r.status, 3);
    fs::permissions("ro", fs::perms::owner_all);
  }
}

TEST(ScriptConvert, UnreadableScriptIsNoEmptyScript) {
  ScratchDir dir;
  fs::create_directory("dir.txt");  // opens, but every read fails
  int count = 77;
  testing::internal::CaptureStdout();
  EXPECT_EQ(convert_named("dir.txt", count), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot read file dir.txt\r\n");
  EXPECT_EQ(count, 77);
}

TEST(ScriptConvert, NeverEmptiesItsOwnScript) {
  ScratchDir dir;
  const std::string script = "Setup Question = A\nValue =1\n\n";
  write_file("x.ini", script);
  write_file("a.txt", script);
  fs::create_hard_link("a.txt", "a.ini");
  for (const char* name : {"x.ini", "a.txt"}) {
    int count = 5;
    testing::internal::CaptureStdout();
    EXPECT_EQ(convert_named(name, count), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("Error, file name conflict: ") + name + "\r\n");
    EXPECT_EQ(count, 5);
    EXPECT_EQ(read_file(name), script);
  }
}

TEST(ScriptConvert, FailedWriteIsReported) {
  ScratchDir dir;
  std::string script;
  for (int i = 0; i < 1000; ++i)
    script += "Setup Question = Q" + std::to_string(i) + "\nValue =1\n\n";
  write_file("setup.txt", script);

  int count = 9;
  int status;
  std::string printed;
  {
    FileSizeLimit limit(4096);
    testing::internal::CaptureStdout();
    status = convert_named("setup.txt", count);
    printed = testing::internal::GetCapturedStdout();
  }

  EXPECT_EQ(status, 3);
  EXPECT_EQ(printed, "Error, cannot write file setup.ini\r\n");
  EXPECT_EQ(count, 9);
}

TEST(ScriptConvert, HundredThousandQuestionsConvertQuickly) {
  ScratchDir dir;
  std::string script;
  script.reserve(100000 * 200);
  for (int i = 0; i < 100000; ++i) {
    std::string n = std::to_string(i);
    script += "Setup Question\t= Question " + n + "\r\nHelp String\t= Some help\r\nToken\t=" + n +
              "\t// Do NOT change this line\r\nOffset\t=1A\r\nWidth\t=01\r\n"
              "BIOS Default\t=[00]Disabled \r\nOptions\t=[00]Disabled\t// Move\r\n"
              "         *[01]Enabled\r\n\r\n";
  }
  write_file("big.txt", script);
  int count = 0;
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(convert_named("big.txt", count), 0);
  std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  const int ms = static_cast<int>(took.count());
  EXPECT_EQ(count, 100000);
  std::string records = read_file("big.ini");
  const std::string head = "{Question0},[00],<01>\r\n{Question1},[00],<01>\r\n";
  EXPECT_EQ(records.substr(0, head.size()), head);
  EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 100000);
  EXPECT_LT(ms, 20000);  // a generous bound: debug and sanitizer builds are slower, and the
                         // tests run four at a time
  RecordProperty("convert_ms", ms);
}

// A Value line whose value is a text between quotes records the text with its quotes, escaped
// where a record line cannot hold a byte, and cut to a hash past 63 characters.
TEST(ScriptConvert, TextValues) {
  ScratchDir dir;
  auto value_of = [](const std::string& value_line) {
    Result r = convert("Setup Question = T\r\n" + value_line + "\r\n\r\n");
    EXPECT_EQ(r.status, 0);
    return r.records;
  };
  EXPECT_EQ(value_of("Value =\"INT33D5\" // x"), "{T},[?],<\"INT33D5\">\r\n");
  EXPECT_EQ(value_of("Value\t=\"\""), "{T},[?],<\"\">\r\n");
  EXPECT_EQ(value_of("Value = \"a%{}[]<>/\tb \xC3\xA9\"x\""),
            "{T},[?],<\"a%25%7B%7D%5B%5D%3C%3E%2F%09b %C3%A9\">\r\n");
  // 74 bytes between the quotes: the first 54 characters, '#', and the hash of those bytes.
  EXPECT_EQ(value_of("Value =\"long text that runs well past the sixty-three characters of a "
                     "record field\""),
            "{T},[?],<\"long text that runs well past the sixty-three charact#B86C032D>\r\n");
  // Not texts: a '/' before the '=', no closing quote before the line end, a quote after a digit.
  EXPECT_EQ(value_of("Value/x =\"AB\""), "{T},[?],<>\r\n");
  EXPECT_EQ(value_of("Value =\"AB\r\"C\""), "{T},[?],<AB>\r\n");
  EXPECT_EQ(value_of("Value =1\"AB\""), "{T},[?],<1>\r\n");
}

TEST(ScriptConvert, RealExport) {
  const fs::path real = fs::path(NVRAM_SHARED_DIR) / "corpus/real/real01.txt";
  if (!fs::exists(real)) GTEST_SKIP() << "no real exported scripts at " << real;
  ScratchDir dir;
  fs::copy_file(real, "real01.txt");
  Result r = convert_file("real01.txt", "real01.ini");
  ASSERT_EQ(r.status, 0);
  // 5236 questions, each ended by a blank line but the last, which ends the file.
  EXPECT_EQ(r.count, 5235);

  std::istringstream in(r.records);
  std::string line;
  std::vector<std::string> lines;
  // Current values are hexadecimal digits or placeholders, or texts with their quotes.
  const std::regex shape(R"(\{[!-~]{0,63}\},\[[!-~]{0,63}\],<([!-~]{0,63}|"[ -~]{0,61}")>\r)");
  while (std::getline(in, line)) {
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
    lines.push_back(line.substr(0, line.size() - 1));
  }
  ASSERT_EQ(lines.size(), 5236u);
  EXPECT_EQ(lines[0], "{ResetNVRAM},[1],<1>");         // "BIOS Default\t=1 ", "Value\t=1\t// ..."
  EXPECT_EQ(lines[2], "{SystemLanguage},[?],<00>");    // no BIOS line, options indented by tabs
  EXPECT_EQ(lines[11], "{PUISEnable},[00],<00>");      // the starred option-list line wins
  EXPECT_EQ(lines[17], "{CSPL1Value},[4500],<4500>");  // "=<4500>" on both lines
  EXPECT_EQ(lines[2532], "{PCIeRPLocationforIMR},[?],<01>");  // a blank line before its Options
  EXPECT_EQ(lines[1743], "{CustomHID},[?],<\"\">");          // Value\t=""
  EXPECT_EQ(lines.back(), "{BootOption#1},[00],<00>");
}

// The questions of a reading are the record file's lines, each with its Setup line and its Value
// line or option block where the script has them.
TEST(ScriptReading, QuestionsAreTheRecordsWithTheirLines) {
  ScratchDir dir;
  const fs::path real = fs::path(NVRAM_SHARED_DIR) / "corpus/real/real01.txt";
  std::vector<std::string> scripts = {crlf(kWorkedExample), "Setup Question = A\r\nValue =1\r\n"
                                      "Setup Question = B\r\n\r\n" + std::string(700, 'x') + "\r\nSetup = C"};
  if (fs::exists(real)) scripts.push_back(read_file(real.string()));
  for (const std::string& script : scripts) {
    Result r = convert(script);
    ScriptReading reading;
    ASSERT_EQ(reading.read("setup.txt", false), 0);
    EXPECT_EQ(reading.closed_count(), r.count);
    std::string lines;
    for (std::size_t i = 0; i < reading.size(); ++i) {
      const Question& q = reading[i];
      lines += reading.record_line(i);
      ASSERT_LT(q.setup, script.size());
      EXPECT_EQ(script.compare(q.setup, 5, "Setup"), 0) << i;
      EXPECT_TRUE(q.setup == 0 || script[q.setup - 1] == '\n') << i;
      if (q.kind == ValueKind::kNone) continue;
      EXPECT_EQ(script.compare(q.value_begin, 5, q.kind == ValueKind::kOptions ? "Optio" : "Value"), 0);
      EXPECT_EQ(script[q.value_end - 1], '\n') << i;
    }
    EXPECT_EQ(lines, r.records);
  }
  testing::internal::CaptureStdout();
  ScriptReading reading;
  EXPECT_EQ(reading.read("missing.txt", false), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, cannot open file missing.txt\r\n");
}

}  // namespace
}  // namespace nvram

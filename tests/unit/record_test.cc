#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "script/line_source.h"
#include "script/record.h"

namespace nvram {
namespace {

TEST(RecordFileName, FollowsTheNameRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"setup.txt", "setup.ini"},         {"my.setup.txt", "my.ini"},
      {"./setup.txt", "./setup.ini"},     {"../cfg.v2/setup.txt", "../cfg.v2/setup.ini"},
      {"setup", "setup.ini"},             {".hidden", ".hidden.ini"},
      {".hidden.txt", ".hidden.ini"},     {"biostemp.sh", "biostemp.ini"},
      {"dir.d/", "dir.d/.ini"},           {"/abs/x.y.z", "/abs/x.ini"},
  };
  for (const auto& [script, record] : cases) EXPECT_EQ(record_file_name(script), record) << script;
}

TEST(QuestionKey, VisibleCharactersAfterTheFirstEquals) {
  EXPECT_EQ(question_key("Setup Question = Quiet Boot\r\n"), "QuietBoot");
  EXPECT_EQ(question_key("Setup Question\t= Wake on LAN/WLAN\r\n"), "WakeonLAN");
  EXPECT_EQ(question_key("Setup Question = a=b [1]\n"), "a=b[1]");
  EXPECT_EQ(question_key("Setup Question\r\n"), "");
  EXPECT_EQ(question_key("Setup Question = \xB5s\xA0x"), "sx");
  EXPECT_EQ(question_key("Setup Question = " + std::string(70, 'k')), std::string(63, 'k'));
}

// The key, its skeleton and the delimiter flag against the rule as written, on random lines of
// every length around the field limit, with blanks, controls, DEL, bytes above 0x7F, stops,
// delimiters and the characters a live reading changes.
TEST(QuestionKey, RandomLinesFollowTheRule) {
  const std::string bytes = std::string("ab Z\t9.+-/\r\n%{}[]<>=\x7f\x80\xff\x01#") + '\0';
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::string line = std::string(rng() % 20, 'S') + (rng() % 8 ? "=" : "");
    for (int n = static_cast<int>(rng() % 90); n > 0; --n) line += bytes[rng() % bytes.size()];
    std::string key, skeleton;
    bool delimiter = false;
    const std::size_t equals = line.find('=');
    for (std::size_t i = equals == std::string::npos ? line.size() : equals + 1; i < line.size();
         ++i) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      if (c == '\r' || c == '\n' || c == '/') break;
      if (c < 0x21 || c > 0x7E) continue;
      if (key.size() == kFieldMax) break;
      key += static_cast<char>(c);
      if (std::string_view("0123456789.+-").find(static_cast<char>(c)) == std::string_view::npos)
        skeleton += static_cast<char>(c);
      delimiter |= std::string_view("%{}[]<>").find(static_cast<char>(c)) != std::string_view::npos;
    }
    char got_key[kFieldMax], got_skeleton[kFieldMax];
    const KeyScan scan = scan_question_key(line, got_key, got_skeleton);
    ASSERT_EQ(std::string(got_key, scan.size), key) << line;
    ASSERT_EQ(std::string(got_skeleton, scan.skeleton_size), skeleton) << line;
    ASSERT_EQ(scan.delimiter, delimiter) << line;
  }
}

// Keys holding the record line's delimiters are escaped, and cut with a hash past 63 characters;
// others stay as they are, whatever their length.
TEST(WrittenKey, DelimitersEscapedLongKeysHashed) {
  EXPECT_EQ(written_key("D0->D3idletimeout(screenoff)"), "D0-%3ED3idletimeout(screenoff)");
  EXPECT_EQ(written_key("FirmwareHash[63:0]"), "FirmwareHash%5B63:0%5D");
  EXPECT_EQ(written_key("%{}"), "%25%7B%7D");
  EXPECT_EQ(written_key(std::string(64, 'k')), std::string(64, 'k'));
  std::string escaped;
  for (int i = 0; i < 18; ++i) escaped += "%3C";
  EXPECT_EQ(written_key(std::string(30, '<')), escaped + "#1D1DAC45");
  char field[kFieldMax];
  EXPECT_EQ(std::string(field, written_key(std::string(30, '<'), field)), escaped + "#1D1DAC45");
}

TEST(RecordLine, Format) {
  EXPECT_EQ(record_line("QuietBoot", "00", "01"), "{QuietBoot},[00],<01>\r\n");
  EXPECT_EQ(record_line("", "?", ""), "{},[?],<>\r\n");
}

std::vector<std::string> pieces_of(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  LineSource src(f);
  std::vector<std::string> out;
  std::string_view piece;
  while (src.next(piece)) out.emplace_back(piece);
  std::fclose(f);
  return out;
}

TEST(LineSource, DeliversPiecesOfAtMost299Bytes) {
  EXPECT_EQ(pieces_of("a\r\nb\n\nc"), (std::vector<std::string>{"a\r\n", "b\n", "\n", "c"}));
  std::string line(299, 'x');
  EXPECT_EQ(pieces_of(line + "\n"), (std::vector<std::string>{line, "\n"}));
  std::string long_line(400, 'y');
  EXPECT_EQ(pieces_of(long_line + "\r\nz"),
            (std::vector<std::string>{std::string(299, 'y'), std::string(101, 'y') + "\r\n", "z"}));
  EXPECT_EQ(pieces_of(""), std::vector<std::string>{});
}

TEST(LineSource, TextEndsAtTheFirstNul) {
  EXPECT_EQ(pieces_of(std::string("ab\0cd\nef\n", 9)), (std::vector<std::string>{"ab", "ef\n"}));
  // Pieces are cut by the raw bytes, NULs included.
  std::string raw(298, 'q');
  raw[0] = '\0';
  EXPECT_EQ(pieces_of(raw + "rs\n"), (std::vector<std::string>{"", "s\n"}));
}

TEST(LineSource, ManyPiecesAcrossBufferRefills) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "{Key" + std::to_string(i) + "},[00],<01>\r\n";
  std::vector<std::string> got = pieces_of(text);
  ASSERT_EQ(got.size(), 20000u);
  EXPECT_EQ(got[12345], "{Key12345},[00],<01>\r\n");
}

// Random bytes with frequent line ends, some NULs and long lines, across many refills of the read
// buffer: every piece, against a plain model of the piece rule.
TEST(LineSource, RandomBytesMatchThePieceRule) {
  std::mt19937 rng(7);
  std::string bytes;
  while (bytes.size() < 1000000) {
    for (unsigned n = rng() % 700; n > 0; --n) {
      bytes += rng() % 200 == 0 ? '\0' : static_cast<char>('a' + rng() % 26);
    }
    bytes += '\n';
  }
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  LineSource src(f);
  std::string_view piece;
  std::size_t at = 0;
  while (src.next(piece)) {
    std::string_view rest = std::string_view(bytes).substr(at, kMaxPiece);
    const std::size_t lf = rest.find('\n');
    const std::string_view whole = rest.substr(0, lf == std::string_view::npos ? rest.size() : lf + 1);
    ASSERT_EQ(piece, whole.substr(0, whole.find('\0'))) << "at " << at;
    at += whole.size();
  }
  std::fclose(f);
  EXPECT_EQ(at, bytes.size());
}

}  // namespace
}  // namespace nvram

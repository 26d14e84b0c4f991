// A slow, literal second reading of the setup-script reader and of the merge, run against the
// program on random scripts and on the real exported scripts. The model below is written straight
// from the rules of the script format, without sharing any code with the program, so that a fault
// in one shows up as a disagreement with the other.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "script/merge.h"
#include "script/reader.h"
#include "test_dir.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The model.

// The text as a 300-byte line buffer reads it: pieces of at most 299 bytes, each ending after its
// line feed if it has one, each cut at its first NUL.
std::vector<std::string> model_pieces(const std::string& bytes) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t start = i;
    std::size_t taken = 0;
    while (i < bytes.size() && taken < 299) {
      char c = bytes[i++];
      ++taken;
      if (c == '\n') break;
    }
    std::string piece = bytes.substr(start, i - start);
    std::size_t nul = piece.find('\0');
    if (nul != std::string::npos) piece.resize(nul);
    out.push_back(piece);
  }
  return out;
}

bool model_visible(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 33 && u <= 126;
}

bool model_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool model_begins(const std::string& line, const char* word) {
  return line.size() >= 5 && line.compare(0, 5, word) == 0;
}

constexpr int kLimit = 63;

// The question key of a Setup line: visible characters after the first '=', up to the first CR,
// LF or '/', at most 63.
std::string model_key(const std::string& line) {
  std::string key;
  bool after_equals = false;
  int put = 0;
  for (char c : line) {
    if (after_equals && (c == '\r' || c == '\n' || c == '/')) break;
    if (put >= kLimit) break;
    if (!after_equals) {
      if (c == '=') after_equals = true;
      continue;
    }
    if (model_visible(c)) {
      key += c;
      ++put;
    }
  }
  return key;
}

struct Converted {
  std::string records;
  int count = 0;
};

Converted model_convert(const std::string& bytes) {
  enum { kBetween, kInQuestion, kInList } state = kBetween;
  bool open = false;
  Converted result;
  std::string key, def, cur;
  auto write = [&] { result.records += "{" + key + "},[" + def + "],<" + cur + ">\r\n"; };

  for (const std::string& line : model_pieces(bytes)) {
    bool any_visible = false;
    for (char c : line) any_visible = any_visible || model_visible(c);
    bool blank = line.size() == 1 || (!line.empty() && (line[0] == '\r' || line[0] == '\n')) ||
                 !any_visible;
    if (blank) {
      state = kBetween;
      if (open) {
        write();
        ++result.count;
        open = false;
      }
      continue;
    }
    if (state == kBetween) {
      if (model_begins(line, "Setup")) {
        def = "?";
        cur = "?";
        key = model_key(line);
        open = true;
        state = kInQuestion;
      }
    } else if (state == kInQuestion) {
      if (model_begins(line, "Optio")) {
        cur.clear();
        bool after = false;
        int put = 0;
        for (char c : line) {
          if (c == '\r' || c == '\n' || c == ']' || c == '/') break;
          if (put >= kLimit) break;
          if (!after) {
            if (c == '[') after = true;
            continue;
          }
          if (model_hex(c)) {
            cur += c;
            ++put;
          }
        }
        state = kInList;
      } else if (model_begins(line, "Value")) {
        cur.clear();
        int phase = 0;  // 0 before '=', 1 looking for a digit, 2 taking digits
        int put = 0;
        for (char c : line) {
          if (c == '\r' || c == '\n' || c == '/') break;
          if (put >= kLimit) break;
          if (phase == 0) {
            if (c == '=') phase = 1;
          } else if (phase == 1) {
            if (model_hex(c)) {
              cur += c;
              ++put;
              phase = 2;
            }
          } else {
            if (!model_hex(c)) break;
            cur += c;
            ++put;
          }
        }
        state = kBetween;
      } else if (model_begins(line, "BIOS ")) {
        def.clear();
        bool equals = false;
        bool bracket = false;
        bool limit = false;
        int put = 0;
        for (char c : line) {
          if (c == '\r' || c == '\n' || c == ']' || c == '/') {
            if (def.empty()) def = "?";
            break;
          }
          if (put >= kLimit) {
            limit = true;
            break;
          }
          if (c == '=') {
            equals = true;
            bracket = false;
          } else if (!equals) {
          } else if (c == '[' && !bracket) {
            bracket = true;
            def.clear();
            put = 0;
          } else if (model_hex(c)) {
            def += c;
            ++put;
          }
        }
        if (limit) state = kBetween;
      }
    } else {
      bool armed = false;
      bool taking = false;
      bool limit = false;
      int put = 0;
      for (char c : line) {
        if (c == '\r' || c == '\n' || c == ']') break;
        if (put >= kLimit) {
          limit = true;
          break;
        }
        if (c == '*') {
          armed = true;
          taking = false;
        } else if (c == '[' && armed) {
          armed = false;
          taking = true;
          cur.clear();
          put = 0;
        } else if (taking && model_hex(c)) {
          cur += c;
          ++put;
        }
      }
      if (limit) state = kBetween;
    }
  }
  if (open) write();
  return result;
}

struct DiffLine {
  bool complete = false;
  std::string key;
  std::string current;
};

DiffLine model_parse(const std::string& line) {
  DiffLine d;
  std::string def;
  std::string* field = nullptr;
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/') {
      d.complete = true;
      break;
    }
    if (c == '}' || c == ']' || c == '>') {
      field = nullptr;
      continue;
    }
    if (field != nullptr && field->size() < static_cast<std::size_t>(kLimit)) *field += c;
    if (c == '{') field = &d.key;
    if (c == '<') field = &d.current;
    if (c == '[') field = &def;
  }
  return d;
}

std::string model_merge(const std::string& script, const std::string& difference) {
  std::vector<DiffLine> diff;
  for (const std::string& line : model_pieces(difference)) diff.push_back(model_parse(line));
  std::vector<bool> used(diff.size(), false);
  std::string out;
  std::string matched;
  enum { kCopy, kRewrite, kBlock } phase = kCopy;

  auto block_line = [&](std::string line) {
    if (line.size() <= 3) {
      out += line;
      phase = kCopy;
      return;
    }
    bool selected = line.find("[" + matched + "]") != std::string::npos;
    std::size_t b = line.find('[');
    if (b != std::string::npos) {
      if (selected) {
        if (b == 0) {
          line.insert(b, "*");
        } else if (line[b - 1] == '=') {
          if (b >= 2 && (line[b - 2] == ' ' || line[b - 2] == '\t')) {
            line[b - 2] = '=';
            line[b - 1] = '*';
          } else {
            line.insert(b, "*");
          }
        } else {
          line[b - 1] = '*';
        }
      } else if (b > 0 && line[b - 1] == '*') {
        line[b - 1] = ' ';
      }
    }
    out += line;
  };

  for (const std::string& line : model_pieces(script)) {
    if (phase == kCopy) {
      out += line;
      if (!model_begins(line, "Setup")) continue;
      std::string key = model_key(line);
      for (std::size_t i = 0; i < diff.size(); ++i) {
        if (!diff[i].complete || diff[i].key != key || used[i]) continue;
        used[i] = true;
        matched = diff[i].current;
        phase = kRewrite;
        break;
      }
    } else if (phase == kBlock) {
      block_line(line);
    } else if (model_begins(line, "Optio")) {
      phase = kBlock;
      block_line(line);
    } else if (model_begins(line, "Value")) {
      std::size_t end = line.find_first_of("\r\n");
      std::size_t eq = line.find('=');
      if (eq != std::string::npos && (end == std::string::npos || eq < end)) {
        out += line.substr(0, eq + 1) + matched + "\n";
      } else {
        out += line + matched + "\n";
      }
    } else {
      out += line;
      if (line.size() <= 3) phase = kCopy;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The program, driven through its files.

Converted program_convert(const std::string& bytes, int* status = nullptr) {
  write_file("s.txt", bytes);
  std::filesystem::remove("s.ini");
  Converted c;
  c.count = -1;
  int st = nvram::process_script_convert("s.txt", c.count);
  if (status != nullptr) *status = st;
  c.records = read_file("s.ini");
  return c;
}

std::string program_merge(const std::string& script, const std::string& difference,
                          int* status = nullptr) {
  write_file("s.txt", script);
  write_file("d.ini", difference);
  int st = nvram::use_different_create_merged("s.txt", "d.ini", "m.txt");
  if (status != nullptr) *status = st;
  return read_file("m.txt");
}

// Shows control bytes so that a failing case can be read and pasted back as a literal.
std::string shown(const std::string& s) {
  std::string out;
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n\"\n\"";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (u < 32 || u > 126) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x\"\"", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return "\"" + out + "\"";
}

bool convert_agrees(const std::string& script) {
  Converted m = model_convert(script);
  Converted p = program_convert(script);
  return m.records == p.records && m.count == p.count;
}

bool merge_agrees(const std::string& script, const std::string& diff) {
  return model_merge(script, diff) == program_merge(script, diff);
}

// Cuts a disagreeing case down: drops whole lines, then single bytes, while it still disagrees.
template <typename Fails>
std::string minimise(std::string text, Fails fails) {
  for (bool shrunk = true; shrunk;) {
    shrunk = false;
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('\n', start);
      end = end == std::string::npos ? text.size() : end + 1;
      std::string cut = text.substr(0, start) + text.substr(end);
      if (fails(cut)) {
        text = cut;
        shrunk = true;
      } else {
        start = end;
      }
    }
    for (std::size_t i = 0; i < text.size();) {
      std::string cut = text.substr(0, i) + text.substr(i + 1);
      if (fails(cut)) {
        text = cut;
        shrunk = true;
      } else {
        ++i;
      }
    }
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Random scripts.

class Gen {
 public:
  explicit Gen(std::uint32_t seed) : rng_(seed) {}

  int num(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(int percent) { return num(1, 100) <= percent; }
  template <typename T>
  const T& pick(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(num(0, static_cast<int>(v.size()) - 1))];
  }

  std::string hex_run(int n) {
    static const char kDigits[] = "0123456789ABCDEFabcdef";
    std::string s;
    for (int i = 0; i < n; ++i) s += kDigits[num(0, 21)];
    return s;
  }

  // Around the 63-character limit more often than not.
  int long_length() { return chance(60) ? num(61, 66) : num(0, 80); }

  std::string eol() {
    int r = num(1, 100);
    if (r <= 55) return "\r\n";
    if (r <= 80) return "\n";
    if (r <= 88) return "\r\r\n";
    if (r <= 93) return "\r";
    if (r <= 95) return " \r\n";
    if (r <= 98) return "\t\n";
    return "\n\r";
  }

  std::string sep() { return pick(std::vector<std::string>{" = ", "\t= ", " =", "\t=", "=", "  =  "}); }

  std::string name() {
    static const std::vector<std::string> kWords = {
        "Quiet", "Boot", "Wake", "on", "LAN", "Fan", "Mode", "[1]", "{x}", "<y>", "Port", "#2",
        "a/b", "C-State", "Level", "*", "Num", "Lock", "]", "[", "}", "{", ">", "<", "\t", "x=y"};
    std::string s;
    if (chance(8)) {
      for (int i = long_length(); i > 0; --i) s += static_cast<char>('A' + num(0, 25));
      if (chance(30)) s += " tail";
      return s;
    }
    int words = num(0, 4);
    for (int i = 0; i < words; ++i) s += (i ? " " : "") + pick(kWords);
    return s;
  }

  std::string value_text() {
    static const std::vector<std::string> kValues = {"00", "01", "02", "0A", "1", "5", "FF"};
    if (chance(10)) return hex_run(long_length());
    return pick(kValues);
  }

  std::string comment() {
    return pick(std::vector<std::string>{"", "", "", " // comment", "\t// Move \"*\" to the desired Option",
                                         " // x*[01]", "/", " ] tail", " // [00]"});
  }

  std::string keyword(const std::string& word) {
    if (chance(4)) return " " + word;
    if (chance(3)) {
      std::string lower = word;
      lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
      return lower;
    }
    return word;
  }

  std::string setup_line() {
    if (chance(6)) return keyword("Setup Question") + eol();
    if (chance(4)) return pick(std::vector<std::string>{"Setup/Q", "Setup Q\r", "Setup ]"}) + sep() + name() + eol();
    return keyword("Setup Question") + sep() + name() + comment() + eol();
  }

  std::string bios_line() {
    switch (num(0, 7)) {
      case 0: return keyword("BIOS Default") + sep() + "[" + value_text() + "]Disabled" + eol();
      case 1: return keyword("BIOS Default") + sep() + value_text() + " " + eol();
      case 2: return keyword("BIOS Default") + sep() + eol();
      case 3: return keyword("BIOS Default") + sep() + "1 2 Enabled" + eol();
      case 4: return keyword("BIOS Default") + sep() + hex_run(num(0, 70)) + "[" + hex_run(long_length()) + comment() + eol();
      case 5: return "BIOS Default" + sep() + "1=[2=3[4" + comment() + eol();
      case 6: return pick(std::vector<std::string>{"BIOS", "BIOS /", "BIOS ]", "BIOS \r"}) + sep() + "[01]" + eol();
      default: return keyword("BIOS Default") + sep() + "[" + value_text() + "]" + comment() + eol();
    }
  }

  std::string value_line() {
    switch (num(0, 5)) {
      case 0: return keyword("Value") + sep() + value_text() + comment() + eol();
      case 1: return keyword("Value") + eol();
      case 2: return keyword("Value") + sep() + "0x1F" + eol();
      case 3: return keyword("Value") + sep() + " zz" + hex_run(long_length()) + "g" + eol();
      case 4: return keyword("Value") + sep() + "<" + value_text() + ">" + comment() + eol();
      default: return pick(std::vector<std::string>{"Value\r", "Value/", "Value]"}) + "=5" + eol();
    }
  }

  std::string option_body(const std::string& value) {
    std::string s;
    if (chance(40)) s += "*";
    s += "[" + value + "]";
    s += pick(std::vector<std::string>{"Disabled", "Enabled", "Auto", "*Star", "[02]Two", "x*[03]"});
    return s + comment();
  }

  std::string options_block() {
    std::string word = chance(95) ? keyword("Options") : pick(std::vector<std::string>{"Options/", "Options]", "Options\r"});
    std::string s = word + sep() + option_body(value_text()) + eol();
    int n = num(0, 5);
    for (int i = 0; i < n; ++i) {
      std::string indent = pick(std::vector<std::string>{"         ", "\t\t", "        ", "", " ", "\t"});
      if (chance(10)) {
        s += indent + "*" + pick(std::vector<std::string>{"", "x", " "}) + option_body(value_text()) + eol();
      } else if (chance(5)) {
        s += "  " + eol();
      } else {
        s += indent + option_body(value_text()) + eol();
      }
    }
    return s;
  }

  std::string header_line() {
    return pick(std::vector<std::string>{"Help String" + sep() + "Some help" + eol(),
                                         "Token" + sep() + "1C\t// Do NOT change this line" + eol(),
                                         "Offset" + sep() + "5A" + eol(), "Width" + sep() + "01" + eol(),
                                         "// a comment" + eol(), "Map String" + sep() + "x" + eol()});
  }

  std::string blank_line() {
    int r = num(1, 100);
    if (r <= 60) return "\r\n";
    if (r <= 75) return "\n";
    if (r <= 82) return "   \r\n";
    if (r <= 88) return "\t\n";
    if (r <= 93) return "x\r\n";
    if (r <= 97) return "ab\n";
    return "\r\r\n";
  }

  std::string question() {
    std::string s = setup_line();
    int headers = num(0, 3);
    for (int i = 0; i < headers; ++i) {
      if (chance(30)) s += bios_line();
      else s += header_line();
    }
    int r = num(1, 100);
    if (r <= 50) s += options_block();
    else if (r <= 85) s += value_line();
    if (chance(15)) s += chance(50) ? value_line() : options_block();
    return s;
  }

  std::string long_line() {
    int len = chance(70) ? num(294, 302) : num(250, 700);
    std::string s = pick(std::vector<std::string>{"", "Options =", "         *[", "Setup Question = ", "BIOS Default =["});
    while (static_cast<int>(s.size()) < len) {
      s += static_cast<char>(pick(std::vector<char>{'0', 'A', ' ', '*', '[', 'x'}));
    }
    if (chance(30)) s += "]";
    return s + eol();
  }

  std::string script() {
    std::string s;
    if (chance(50)) s += "// Script File Name : nvram.txt\r\n// exported settings\r\n\r\n";
    int parts = num(0, 12);
    for (int i = 0; i < parts; ++i) {
      int r = num(1, 100);
      if (r <= 70) {
        std::string q = question();
        if (chance(7)) {  // a commented-out question
          std::string commented;
          std::size_t start = 0;
          while (start < q.size()) {
            std::size_t end = q.find('\n', start);
            end = end == std::string::npos ? q.size() : end + 1;
            commented += "// " + q.substr(start, end - start);
            start = end;
          }
          q = commented;
        }
        s += q;
      } else if (r <= 80) {
        s += long_line();
      } else if (r <= 90) {
        s += header_line();
      } else {
        s += bios_line();
      }
      if (chance(85)) s += blank_line();
    }
    if (chance(3)) {  // every line end a lone carriage return
      std::string cr;
      for (char c : s) {
        if (c != '\n') cr += c;
        else if (cr.empty() || cr.back() != '\r') cr += '\r';
      }
      s = cr;
    }
    mutate(s);
    return s;
  }

  void mutate(std::string& s) {
    if (s.empty()) return;
    int n = chance(25) ? num(1, 3) : 0;
    for (int i = 0; i < n; ++i) {
      std::size_t at = static_cast<std::size_t>(num(0, static_cast<int>(s.size()) - 1));
      switch (num(0, 4)) {
        case 0: s.insert(at, 1, '\0'); break;
        case 1: s.erase(at, 1); break;
        case 2: s.insert(at, 1, '\r'); break;
        case 3: s.insert(at, 1, static_cast<char>(num(0, 255))); break;
        default: s.insert(at, 1, '\n'); break;
      }
    }
    if (chance(10)) {  // no final line end
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    }
  }

  std::string difference(const std::string& script) {
    std::vector<std::string> keys;
    for (const std::string& line : model_pieces(script)) {
      if (model_begins(line, "Setup")) keys.push_back(model_key(line));
    }
    std::string s;
    int lines = num(0, 10);
    for (int i = 0; i < lines; ++i) {
      std::string key = !keys.empty() && chance(75) ? pick(keys) : name();
      std::string val = chance(80) ? value_text() : pick(std::vector<std::string>{"?", "", "0[1", "a<b"});
      std::string end = pick(std::vector<std::string>{"\r\n", "\r\n", "\r\n", "\n", "/x\r\n", ""});
      int r = num(1, 100);
      if (r <= 80) {
        s += "{" + key + "},[" + value_text() + "],<" + val + ">" + end;
      } else if (r <= 85) {
        s += "<" + val + ">{" + key + "}" + end;
      } else if (r <= 90) {
        s += "{" + key + "},[" + hex_run(long_length()) + "],<" + hex_run(long_length()) + ">" + end;
      } else if (r <= 93) {
        s += "junk line" + end;
      } else if (r <= 95) {  // a line longer than one piece, its tail a record of its own
        s += "{" + key + "},[" + hex_run(num(240, 300)) + "],<" + val + ">" + end;
      } else {
        s += "{" + key + "},[00],<" + val;  // cut short
      }
    }
    mutate(s);
    return s;
  }

 private:
  std::mt19937 rng_;
};

void report(const char* what, std::uint32_t seed, const std::string& a, const std::string& b) {
  ADD_FAILURE() << what << " disagrees, seed " << seed << "\nscript:\n" << shown(a)
                << (b.empty() ? "" : "\ndifference file:\n" + shown(b));
}

// ---------------------------------------------------------------------------------------------

TEST(CrossCheck, ModelReproducesTheWorkedExamples) {
  // Guards the model itself, so that a disagreement below points at the program.
  const std::string script =
      "// exported settings\n\nSetup Question = Quiet Boot\nToken =18\nOffset =5A\nWidth =01\n"
      "BIOS Default =[00]Disabled\nOptions =*[00]Disabled // the starred option is selected\n"
      "         [01]Enabled\n\nSetup Question = Boot Timeout\nToken =1C\nWidth =02\n"
      "BIOS Default =1\nValue =5 // seconds\n\nSetup Question = NumLock State\n"
      "BIOS Default =[01]On\nOptions =[01]On // the starred option is selected\n         *[00]Off\n";
  Converted c = model_convert(script);
  EXPECT_EQ(c.records, "{QuietBoot},[00],<00>\r\n{BootTimeout},[1],<5>\r\n{NumLockState},[01],<00>\r\n");
  EXPECT_EQ(c.count, 2);

  const std::string edge =
      "Setup Question\nValue =\n\nSetup Question = Wake on LAN/WLAN\nBIOS Default =\nValue =0x1F\n\n"
      "Setup Question = Fan Mode\nBIOS Default =[0A]Auto\nOptions =[00]Off\n         *[01]On\n"
      "         *[02]Auto\n\nSetup Question = Beep Level\nBIOS Default =1 2 Enabled\n\n";
  c = model_convert(edge);
  EXPECT_EQ(c.records,
            "{},[?],<>\r\n{WakeonLAN},[?],<0>\r\n{FanMode},[0A],<02>\r\n{BeepLevel},[12Eabed],<?>\r\n");
  EXPECT_EQ(c.count, 4);

  const std::string merge_in =
      "Setup Question = Quiet Boot\r\nBIOS Default =[00]Disabled\r\n"
      "Options =*[00]Disabled   // Move \"*\" to the desired Option\r\n         [01]Enabled\r\n\r\n"
      "Setup Question = Boot Delay\r\nValue =05   // Seconds\r\n\r\n"
      "Setup Question = Wake On LAN\r\nOptions =[00]Disabled\r\n         *[01]Enabled\r\n\r\n"
      "Setup Question = Quiet Boot\r\nOptions =*[00]Disabled\r\n         [01]Enabled\r\n\r\n";
  const std::string diff = "{QuietBoot},[00],<01>\r\n{WakeOnLAN},[01],<00>\r\n{BootDelay},[05],<0A>\r\n";
  EXPECT_EQ(model_merge(merge_in, diff),
            "Setup Question = Quiet Boot\r\nBIOS Default =[00]Disabled\r\n"
            "Options = [00]Disabled   // Move \"*\" to the desired Option\r\n        *[01]Enabled\r\n\r\n"
            "Setup Question = Boot Delay\r\nValue =0A\n\r\n"
            "Setup Question = Wake On LAN\r\nOptions=*[00]Disabled\r\n          [01]Enabled\r\n\r\n"
            "Setup Question = Quiet Boot\r\nOptions =*[00]Disabled\r\n         [01]Enabled\r\n\r\n");
}

// A CR, LF, ']' or '/' ahead of the '[' or '=' that a scan looks for stops the Options, Value and
// BIOS scans there; the question key is read only from the characters after the Setup line's '='.
TEST(CrossCheck, StopCharactersAheadOfTheMarker) {
  ScratchDir dir;
  const std::string script =
      "Setup Question = A\nOptions ]=*[01]On\n\n"
      "Setup/Question = B\nBIOS /=[01]\nValue/=5\n\n"
      "Setup Question = C\nOptions =\r[02]\n\n"
      "Setup Question = D\nOptions /[03]\n  *[04]\n";
  const char* records = "{A},[?],<>\r\n{B},[?],<>\r\n{C},[?],<>\r\n{D},[?],<04>\r\n";
  Converted c = program_convert(script);
  EXPECT_EQ(c.records, records);
  EXPECT_EQ(c.count, 3);
  EXPECT_EQ(model_convert(script).records, records);

  const std::string merged = program_merge("Setup/Q = B\r\nValue =1\r\n\r\n", "{B},[0],<7>\r\n");
  EXPECT_EQ(merged, "Setup/Q = B\r\nValue =7\n\r\n");
}

TEST(CrossCheck, RandomScriptsConvertAndMergeAsTheModelSays) {
  ScratchDir dir;
  // NVRAM_CROSSCHECK_CASES and NVRAM_CROSSCHECK_SEED run a longer or another series by hand.
  const char* cases_env = std::getenv("NVRAM_CROSSCHECK_CASES");
  const char* seed_env = std::getenv("NVRAM_CROSSCHECK_SEED");
  const int cases = cases_env != nullptr ? std::atoi(cases_env) : 1500;
  const auto first_seed = static_cast<std::uint32_t>(seed_env != nullptr ? std::atol(seed_env) : 1000);
  int convert_failures = 0;
  int merge_failures = 0;
  for (int i = 0; i < cases; ++i) {
    const auto seed = first_seed + static_cast<std::uint32_t>(i);
    Gen gen(seed);
    std::string script = gen.script();
    if (convert_failures < 3 && !convert_agrees(script)) {
      ++convert_failures;
      report("conversion", seed,
             minimise(script, [](const std::string& s) { return !convert_agrees(s); }), "");
    }
    std::string diff = gen.difference(script);
    if (merge_failures < 3 && !merge_agrees(script, diff)) {
      ++merge_failures;
      std::string small = minimise(script, [&](const std::string& s) { return !merge_agrees(s, diff); });
      diff = minimise(diff, [&](const std::string& d) { return !merge_agrees(small, d); });
      report("merge", seed, small, diff);
    }
  }
}

TEST(CrossCheck, RealScriptsConvertAndMergeAsTheModelSays) {
  const std::filesystem::path real = std::filesystem::path(NVRAM_SHARED_DIR) / "corpus" / "real";
  if (!std::filesystem::is_directory(real)) GTEST_SKIP() << "no real scripts at " << real;
  ScratchDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(real)) {
    if (entry.path().extension() != ".txt") continue;
    SCOPED_TRACE(entry.path().string());
    const std::string script = read_file(entry.path().string());
    Converted m = model_convert(script);
    Converted p = program_convert(script);
    EXPECT_EQ(m.count, p.count);
    EXPECT_TRUE(m.records == p.records);

    // A difference file that moves every question to another value: the odd records to "01",
    // the others to their default, and every seventh one to a value that names no option.
    std::string diff;
    int n = 0;
    for (std::size_t start = 0; start < m.records.size(); ++n) {
      std::size_t end = m.records.find('\n', start) + 1;
      std::string line = m.records.substr(start, end - start);
      start = end;
      std::string key = line.substr(1, line.find("},[") - 1);
      std::string value = n % 7 == 0 ? "?" : n % 2 ? "01" : "0";
      diff += "{" + key + "},[00],<" + value + ">\r\n";
    }
    EXPECT_TRUE(model_merge(script, diff) == program_merge(script, diff));
  }
}

}  // namespace

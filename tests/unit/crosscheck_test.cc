// A slow, literal second reading of the setup-script reader and of the merge, run against the
// program on random scripts and on the real exported scripts. The model below is written straight
// from the rules of the script format, without sharing any code with the program, so that a fault
// in one shows up as a disagreement with the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "nvram/commands.h"
#include "script/file.h"
#include "script/merge.h"
#include "script/reader.h"
#include "test_dir.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The model.

// A difference file, record file or exclusion list as a 300-byte line buffer reads it: pieces of at
// most 299 bytes, each ending after its line feed if it has one, each cut at its first NUL.
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

// The lines of a script, each whole up to and including its line feed, however long: `raw` as the
// merge passes it on (NULs and what follows them included), `text` what every test of a line
// looks at (class, key, markers, '=', blankness): the line up to its first NUL.
struct Line {
  std::string raw;
  std::string text;
};

std::vector<Line> model_lines(const std::string& bytes) {
  std::vector<Line> out;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find('\n', start);
    end = end == std::string::npos ? bytes.size() : end + 1;
    Line l;
    l.raw = bytes.substr(start, end - start);
    l.text = l.raw.substr(0, l.raw.find('\0'));
    out.push_back(l);
    start = end;
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

std::string model_hex8(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
  return buf;
}

std::uint32_t model_fnv1a(const std::string& bytes) {
  std::uint32_t h = 0x811C9DC5u;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x01000193u;
  }
  return h;
}

// A text as a record holds it: both quotes, every byte that a record line cannot carry as '%'
// and two upper-case digits, and a text too long for the 63-character field cut to 54
// characters, '#' and the FNV-1a hash of the raw text.
std::string model_recorded_text(const std::string& raw) {
  std::string v = "\"";
  for (char c : raw) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E || std::string_view("%{}[]<>/").find(c) != std::string_view::npos) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", u);
      v += buf;
    } else {
      v += c;
    }
  }
  v += '"';
  if (v.size() <= static_cast<std::size_t>(kLimit)) return v;
  return v.substr(0, 54) + "#" + model_hex8(model_fnv1a(raw));
}

// The raw text of a Value line that holds one: no '/' ahead of the first '=', then after blanks
// and tabs a '"' whose partner stands before the line's first CR or LF.
bool model_value_text(const std::string& line, std::string& raw) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos || line.find('/') < eq) return false;
  std::size_t open = line.find_first_not_of(" \t", eq + 1);
  if (open == std::string::npos || line[open] != '"') return false;
  std::size_t close = line.find('"', open + 1);
  if (close == std::string::npos || close > line.find_first_of("\r\n")) return false;
  raw = line.substr(open + 1, close - open - 1);
  return true;
}

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

// A key as a record line writes it: '%', '{', '}', '[', ']', '<' and '>' as '%' and two upper-case
// digits; a key that needed that and grew past 63 characters cut to 54, '#' and the FNV-1a hash of
// the key as read.
std::string model_written_key(const std::string& key) {
  std::string out;
  bool escaped = false;
  for (char c : key) {
    if (std::string("%{}[]<>").find(c) != std::string::npos) {
      out += "%" + model_hex8(static_cast<unsigned char>(c)).substr(6);
      escaped = true;
    } else {
      out += c;
    }
  }
  if (escaped && out.size() > 63) out = out.substr(0, 54) + "#" + model_hex8(model_fnv1a(key));
  return out;
}

// What stands after the first '=' of a Token or Offset line, up to a '/' or the line end, without
// blanks and tabs.
std::string model_place_text(const std::string& line) {
  std::string text;
  std::size_t eq = line.find('=');
  for (std::size_t i = eq == std::string::npos ? line.size() : eq + 1; i < line.size(); ++i) {
    if (line[i] == '/' || line[i] == '\r' || line[i] == '\n') break;
    if (line[i] != ' ' && line[i] != '\t') text += line[i];
  }
  return text;
}

// A question as the reader found it: its key as written, its current value, and the lines (first
// to last) of its Value line ('v') or of its option block ('o'); 'n' for neither. `form` is the
// kind of its Value line: 'b' bare, 'a' angled, 't' text; 'n' for none.
struct Asked {
  std::string key, cur;
  char kind = 'n';
  char form = 'n';
  std::size_t first = 0, last = 0;
};

// The kind of a Value line: the first byte after its first '=' (ahead of the line's first CR or
// LF) that is not a blank or tab: '<' angled ('a'), '"' with a closing '"' before the CR or LF a
// text ('t'), anything else, or no '=', bare ('b').
char model_value_form(const std::string& t) {
  std::size_t end = t.find_first_of("\r\n");
  std::size_t eq = t.find('=');
  if (eq == std::string::npos || eq > end) return 'b';
  std::size_t first = t.find_first_not_of(" \t", eq + 1);
  if (first != std::string::npos && t[first] == '<') return 'a';
  if (first != std::string::npos && t[first] == '"') {
    std::size_t close = t.find('"', first + 1);
    if (close != std::string::npos && (end == std::string::npos || close < end)) return 't';
  }
  return 'b';
}

bool model_blank(const std::string& line) {
  bool any_visible = false;
  for (char c : line) any_visible = any_visible || model_visible(c);
  return line.size() == 1 || (!line.empty() && (line[0] == '\r' || line[0] == '\n')) ||
         !any_visible;
}

struct Converted {
  std::string records;
  int count = 0;
  std::vector<std::string> places;  // per record: its identity (Token, Offset, skeleton); "" for none
  std::vector<Asked> questions;
  std::vector<Line> lines;
};

Converted model_convert(const std::string& bytes) {
  enum { kBetween, kInQuestion, kInList } state = kBetween;
  bool open = false;
  Converted result;
  std::string def, cur, raw_key;
  const std::string kNoLine = "\x01";  // no such line in the question yet
  std::string token = kNoLine, offset = kNoLine;
  Asked asked;
  auto write = [&] {
    result.records += "{" + model_written_key(raw_key) + "},[" + def + "],<" + cur + ">\r\n";
    asked.key = model_written_key(raw_key);
    asked.cur = cur;
    asked.form = asked.kind == 'v' ? model_value_form(result.lines[asked.first].text) : 'n';
    result.questions.push_back(asked);
    std::string skeleton;
    for (char c : raw_key) {
      if (!std::isdigit(static_cast<unsigned char>(c)) && std::string_view(".+-").find(c) == std::string_view::npos) {
        skeleton += c;
      }
    }
    const bool placed = token != kNoLine && offset != kNoLine;
    result.places.push_back(placed ? token + "\n" + offset + "\n" + skeleton : "");
  };

  const std::vector<Line>& lines = result.lines = model_lines(bytes);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i].text;
    if (open && token == kNoLine && line.rfind("Token", 0) == 0) token = model_place_text(line);
    if (open && offset == kNoLine && line.rfind("Offset", 0) == 0) offset = model_place_text(line);
    if (model_blank(line)) {
      if (state == kInQuestion) {  // blank lines that a Value or Options line follows go on with it
        std::size_t next = i + 1;
        while (next < lines.size() && model_blank(lines[next].text)) ++next;
        const std::string& after = next < lines.size() ? lines[next].text : "";
        if (model_begins(after, "Value") || model_begins(after, "Optio")) continue;
      }
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
        raw_key = model_key(line);
        token = offset = kNoLine;
        asked = Asked{};
        open = true;
        state = kInQuestion;
      }
    } else if (state == kInQuestion) {
      if (model_begins(line, "Optio") || model_begins(line, "Value")) {
        asked.kind = line[0] == 'O' ? 'o' : 'v';
        asked.first = asked.last = i;
      }
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
      } else if (std::string raw; model_begins(line, "Value") && model_value_text(line, raw)) {
        cur = model_recorded_text(raw);
        state = kBetween;
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
      asked.last = i;
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

bool model_number(const std::string& v) {
  if (v.empty()) return false;
  for (char c : v) {
    if (!model_hex(c)) return false;
  }
  return true;
}

bool model_is_text(const std::string& v) { return v.size() >= 2 && v.front() == '"' && v.back() == '"'; }

// A recorded text back to its bytes: each '%' with two upper-case hexadecimal digits becomes
// the byte they name.
std::string model_unescape(const std::string& v) {
  auto upper_hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '%' && i + 2 < v.size() && upper_hex(v[i + 1]) && upper_hex(v[i + 2])) {
      out += static_cast<char>(digit(v[i + 1]) * 16 + digit(v[i + 2]));
      i += 2;
    } else {
      out += v[i];
    }
  }
  return out;
}

struct Record {
  std::string key, def, cur;
};

Record model_split(const std::string& line) {
  Record r;
  std::string* field = nullptr;
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/' || c == '>') break;
    if (c == '}' || c == ']') {
      field = nullptr;
      continue;
    }
    if (field != nullptr && field->size() < static_cast<std::size_t>(kLimit)) *field += c;
    if (c == '{') field = &r.key;
    if (c == '<') field = &r.cur;
    if (c == '[') field = &r.def;
  }
  return r;
}

struct Merged {
  std::string bytes;
  std::string printed;
};

// Two values differ as settings when their texts differ, or when one Value line writes them bare
// (hexadecimal) and the other between angles (decimal) and, leading zeros aside, they are more
// than one digit from 0 to 9.
bool model_differ(const std::string& a, char a_form, const std::string& b, char b_form) {
  if (a != b) return true;
  if (!((a_form == 'a' && b_form == 'b') || (a_form == 'b' && b_form == 'a'))) return false;
  const std::string digits = a.substr(std::min(a.size(), a.find_first_not_of('0')));
  return !(digits.empty() || (digits.size() == 1 && digits[0] >= '0' && digits[0] <= '9'));
}

// The merge into a script as model_convert() read it. `from` gives, for each line of the
// difference file, the kind of the Value line its value comes from (none: any kind).
Merged model_merge(const Converted& read, const std::string& difference, const std::vector<char>& from = {}) {
  std::vector<DiffLine> diff;
  for (const std::string& line : model_pieces(difference)) diff.push_back(model_parse(line));
  // The n-th line of a key goes to the n-th question of that key, as the reader found them.
  std::map<std::string, std::vector<std::size_t>> questions_of;
  for (std::size_t q = 0; q < read.questions.size(); ++q) {
    questions_of[read.questions[q].key].push_back(q);
  }
  std::map<std::string, std::size_t> lines_of;
  std::vector<bool> used(diff.size(), false);
  std::vector<std::size_t> line_of(read.questions.size(), diff.size());
  for (std::size_t d = 0; d < diff.size(); ++d) {
    if (!diff[d].complete) continue;
    const std::size_t n = lines_of[diff[d].key]++;
    if (n >= questions_of[diff[d].key].size()) continue;
    line_of[questions_of[diff[d].key][n]] = d;
    used[d] = true;
  }
  Merged out;
  std::string matched;
  bool written = false;  // into the question being rewritten

  // One line of an option block that is rewritten: only its marker position changes (and the
  // byte before it in the equals shift), or a '*' goes in ahead of the '['.
  auto block_line = [&](const Line& p) {
    std::string line = p.raw;
    std::size_t b = p.text.find('[');
    if (b == std::string::npos) return line;
    if (p.text.find("[" + matched + "]") != std::string::npos) {
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
    return line;
  };

  // A number goes between a bare and an angled line only when the line it comes from (`from`) is
  // of the kind of the line it goes into.
  auto value_line = [&](const Line& p, char from) {
    const std::string& t = p.text;
    std::size_t eq = t.find('=');
    if (eq != std::string::npos && eq > t.find_first_of("\r\n")) eq = std::string::npos;
    const char kind = model_value_form(t);
    if ((from == 'a' || from == 'b') && kind != 't' && from != kind) return p.raw;
    if ((model_number(matched) && kind != 't') || (model_is_text(matched) && kind == 't')) written = true;
    if (model_number(matched) && kind == 'b') {
      if (eq == std::string::npos) return p.raw + matched + "\n";
      return p.raw.substr(0, eq + 1) + matched + "\n";
    }
    if (model_number(matched) && kind == 'a') return p.raw.substr(0, eq + 1) + "<" + matched + ">\n";
    if (model_is_text(matched) && kind == 't') return p.raw.substr(0, eq + 1) + model_unescape(matched) + "\n";
    return p.raw;
  };

  // Each question rewrites its own Value line, or its option block when one of the block's lines
  // offers the value; the rest is copied. A question that takes nothing is named unless it already
  // holds the value, then every line that no question took.
  const std::vector<Line>& lines = read.lines;
  std::map<std::size_t, std::string> merged;  // the lines rewritten
  for (std::size_t q = 0; q < read.questions.size(); ++q) {
    if (line_of[q] == diff.size()) continue;
    const Asked& a = read.questions[q];
    matched = diff[line_of[q]].current;
    written = false;
    if (a.kind == 'v') merged[a.first] = value_line(lines[a.first], line_of[q] < from.size() ? from[line_of[q]] : 'n');
    for (std::size_t j = a.first; a.kind == 'o' && j <= a.last; ++j) {
      written = written || lines[j].text.find("[" + matched + "]") != std::string::npos;
    }
    for (std::size_t j = a.first; a.kind == 'o' && written && j <= a.last; ++j) {
      merged[j] = block_line(lines[j]);
    }
    const char came_from = line_of[q] < from.size() ? from[line_of[q]] : 'n';
    if (!written && model_differ(matched, came_from, a.cur, a.form)) {
      out.printed += "Not carried: " + a.key + " = " + matched + "\r\n";
    }
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out.bytes += merged.count(i) ? merged[i] : lines[i].raw;
  }
  for (std::size_t d = 0; d < diff.size(); ++d) {
    if (!diff[d].complete || used[d]) continue;
    out.printed += "Not carried: " + diff[d].key + " = " + diff[d].current + "\r\n";
  }
  return out;
}

Merged model_merge(const std::string& script, const std::string& difference) {
  return model_merge(model_convert(script), difference);
}

// The exclusion list: the first 100 lines, comments (a '/' first) aside, each line's visible
// characters, at most 64. A key is excluded when, without its blanks, it equals an entry as a key
// is written, or an entry as it stands.
std::vector<std::string> model_exclusions(const std::string& bytes) {
  std::vector<std::string> entries;
  std::vector<std::string> lines = model_pieces(bytes);
  for (std::size_t i = 0; i < lines.size() && i < 100; ++i) {
    if (!lines[i].empty() && lines[i][0] == '/') continue;
    std::string e;
    for (char c : lines[i]) {
      if (model_visible(c) && e.size() < 64) e += c;
    }
    entries.push_back(e);
  }
  return entries;
}

bool model_excluded(const std::string& key, const std::vector<std::string>& entries) {
  std::string k;
  for (char c : key) {
    if (c != ' ') k += c;
  }
  for (const std::string& e : entries) {
    if (model_written_key(e) == k || e == k) return true;
  }
  return false;
}

// The records of one side of a comparison, each with its identity ("" for none) and the kind of
// its Value line.
struct Side {
  std::vector<Record> records;
  std::vector<std::string> ids;
  std::vector<char> forms;
  std::string id(std::size_t i) const { return i < ids.size() ? ids[i] : ""; }
  char form(std::size_t i) const { return i < forms.size() ? forms[i] : 'n'; }
};

Side model_side(const std::string& records, const std::vector<std::string>& ids = {},
                const std::vector<Asked>& questions = {}) {
  Side s;
  for (const std::string& l : model_pieces(records)) s.records.push_back(model_split(l));
  s.ids = ids;
  for (const Asked& a : questions) s.forms.push_back(a.form);
  return s;
}

// The partner of each walked record among the searched ones (-1: none). Excluded records take no
// part. First, records of equal identity pair, in order, first with first. Then each walked
// record left, in order, looks for the searched record of its key from the one after the last
// partner found this way, to the end and once round from the top, passing over records already
// paired; one that finds none sends the next search to the top. Two records that both have an
// identity never pair this way, and a walked record with one searches only when the searched
// side holds a record without one.
std::vector<int> model_pair(const Side& mine, const Side& theirs, const std::vector<std::string>& entries) {
  std::vector<int> partner(mine.records.size(), -1);
  std::vector<bool> flag(theirs.records.size(), false);
  std::map<std::string, std::vector<std::size_t>> of_identity;
  bool plain = false;  // the searched side holds a record without identity
  for (std::size_t i = 0; i < theirs.records.size(); ++i) {
    plain = plain || theirs.id(i).empty();
    if (!theirs.id(i).empty() && !model_excluded(theirs.records[i].key, entries)) {
      of_identity[theirs.id(i)].push_back(i);
    }
  }
  std::map<std::string, std::size_t> taken;
  for (std::size_t w = 0; w < mine.records.size(); ++w) {
    const std::string id = mine.id(w);
    if (id.empty() || model_excluded(mine.records[w].key, entries)) continue;
    std::size_t& n = taken[id];
    if (n == of_identity[id].size()) continue;
    partner[w] = static_cast<int>(of_identity[id][n++]);
    flag[static_cast<std::size_t>(partner[w])] = true;
  }
  std::size_t pos = 0;
  for (std::size_t w = 0; w < mine.records.size(); ++w) {
    if (partner[w] >= 0 || model_excluded(mine.records[w].key, entries)) continue;
    const bool identified = !mine.id(w).empty();
    if (identified && !plain) continue;
    std::size_t i = pos;
    for (int ends = 0;;) {
      if (i == theirs.records.size()) {
        if (++ends == 2) {
          pos = 0;
          break;
        }
        i = 0;
        continue;
      }
      if (!flag[i] && theirs.records[i].key == mine.records[w].key && !(identified && !theirs.id(i).empty())) {
        flag[i] = true;
        partner[w] = static_cast<int>(i);
        pos = i + 1;
        break;
      }
      ++i;
    }
  }
  return partner;
}

struct Compared {
  std::string difference;
  int count = 0;
  std::vector<char> from;  // per difference line: the kind of the Value line its value comes from
  std::string lost;        // the dumped settings that no question of the new script takes
};

// The comparison of the walked (new) and searched (dumped) records. A walked record paired with
// a searched one of another current value gives a difference line with the walked key and
// default and the searched value. A key on several walked lines gives a line for every one of
// them, in walk order, as soon as one of its pairs differs: a paired one its partner's value, an
// unpaired one its own.
//
// A searched record left unpaired, whose identity no walked record has, whose key is not excluded
// and whose default and current value (neither empty nor "?") differ, is a setting that is lost.
Compared model_compare(const Side& mine, const Side& theirs, const std::string& exclude) {
  const std::vector<std::string> entries = model_exclusions(exclude);
  const std::vector<int> partner = model_pair(mine, theirs, entries);
  std::map<std::string, int> lines_of;
  std::map<std::string, bool> differs;
  for (std::size_t w = 0; w < mine.records.size(); ++w) {
    const Record& r = mine.records[w];
    ++lines_of[r.key];
    const auto p = static_cast<std::size_t>(partner[w]);
    if (partner[w] >= 0 && model_differ(theirs.records[p].cur, theirs.form(p), r.cur, mine.form(w))) {
      differs[r.key] = true;
    }
  }
  Compared out;
  for (std::size_t w = 0; w < mine.records.size(); ++w) {
    const Record& r = mine.records[w];
    const auto p = static_cast<std::size_t>(partner[w]);
    const std::string& value = partner[w] >= 0 ? theirs.records[p].cur : r.cur;
    const bool write = lines_of[r.key] > 1 ? differs[r.key]
                                           : partner[w] >= 0 && model_differ(value, theirs.form(p), r.cur, mine.form(w));
    if (!write) continue;
    out.difference += "{" + r.key + "},[" + r.def + "],<" + value + ">\r\n";
    out.from.push_back(partner[w] >= 0 ? theirs.form(p) : mine.form(w));
    ++out.count;
  }
  std::map<std::string, bool> walked_identity;
  for (std::size_t w = 0; w < mine.records.size(); ++w) walked_identity[mine.id(w)] = true;
  std::vector<bool> paired(theirs.records.size(), false);
  for (int p : partner) {
    if (p >= 0) paired[static_cast<std::size_t>(p)] = true;
  }
  for (std::size_t i = 0; i < theirs.records.size(); ++i) {
    const Record& r = theirs.records[i];
    if (paired[i] || theirs.id(i).empty() || walked_identity[theirs.id(i)] || model_excluded(r.key, entries)) continue;
    if (r.def.empty() || r.def == "?" || r.cur.empty() || r.cur == "?" || r.def == r.cur) continue;
    out.lost += "Not carried: " + r.key + " = " + r.cur + "\r\n";
  }
  return out;
}

Compared model_compare(const std::string& walked, const std::string& searched, const std::string& exclude) {
  return model_compare(model_side(walked), model_side(searched), exclude);
}

// ---------------------------------------------------------------------------------------------
// The program, driven through its files.

Converted program_convert(const std::string& bytes, int* status = nullptr) {
  write_file("s.txt", bytes);
  std::filesystem::remove("s.ini");
  Converted c;
  nvram::ScriptReading reading;
  nvram::File records;
  int st = nvram::process_script_convert("s.txt", reading, records);
  if (status != nullptr) *status = st;
  c.count = reading.closed_count();
  c.records = read_file("s.ini");
  return c;
}

Merged program_merge(const std::string& script, const std::string& difference, int* status = nullptr) {
  write_file("s.txt", script);
  write_file("d.ini", difference);
  testing::internal::CaptureStdout();
  int st = nvram::use_different_create_merged("s.txt", "d.ini", "m.txt");
  Merged m;
  m.printed = testing::internal::GetCapturedStdout();
  if (status != nullptr) *status = st;
  m.bytes = read_file("m.txt");
  return m;
}

// The whole of an update's file work: both conversions, the comparison and the merge.
struct Update {
  Compared compared;
  Merged merged;
  bool operator==(const Update& o) const {
    return compared.difference == o.compared.difference && compared.count == o.compared.count &&
           merged.bytes == o.merged.bytes && merged.printed == o.merged.printed;
  }
};

Update model_update(const std::string& dumped, const std::string& fresh, const std::string& exclude) {
  Update u;
  const Converted f = model_convert(fresh), d = model_convert(dumped);
  if (f.questions.empty() || d.questions.empty()) {  // a script without a question is an error
    u.compared.count = -1;
    const std::string name = f.questions.empty() ? "new.txt" : "old.txt";
    u.merged.printed = "Error, no setup question in " + name + "\r\n";
    return u;
  }
  const Side mine = model_side(f.records, f.places, f.questions), theirs = model_side(d.records, d.places, d.questions);
  const std::vector<int> shared = model_pair(mine, theirs, {});
  if (std::all_of(shared.begin(), shared.end(), [](int p) { return p < 0; })) {  // nothing shared
    u.compared.count = -1;
    u.merged.printed = "Error, no question of old.txt is in new.txt\r\n";
    return u;
  }
  u.compared = model_compare(mine, theirs, exclude);
  u.merged = model_merge(f, u.compared.difference, u.compared.from);
  u.merged.printed += u.compared.lost;
  return u;
}

Update program_update(const std::string& dumped, const std::string& fresh, const std::string& exclude) {
  write_file("old.txt", dumped);
  write_file("new.txt", fresh);
  write_file("Exclude.txt", exclude);
  std::filesystem::remove("Difftemp.ini");
  std::filesystem::remove("merged.txt");
  Update u;
  testing::internal::CaptureStdout();
  const int status = nvram::update_files("old.txt", "new.txt");
  u.merged.printed = testing::internal::GetCapturedStdout();
  u.compared.difference = read_file("Difftemp.ini");
  const std::string& lines = u.compared.difference;
  u.compared.count =
      status != 0 ? -1 : static_cast<int>(std::count(lines.begin(), lines.end(), '\n'));
  u.merged.bytes = read_file("merged.txt");
  return u;
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
  Merged m = model_merge(script, diff);
  Merged p = program_merge(script, diff);
  return m.bytes == p.bytes && m.printed == p.printed;
}

// Cuts a disagreeing case down: drops whole lines, then single bytes, while it still disagrees.
template <typename Fails>
std::string minimise(std::string text, Fails fails, bool bytes = true) {
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
    for (std::size_t i = 0; bytes && i < text.size();) {
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

  // The bytes of a text value: empty, the shapes of real exports, bytes that a record escapes,
  // and texts around and beyond the length that needs the hash.
  std::string text_raw() {
    static const std::string kOdd = std::string("%{}[]<>/ \t,\x01\x1f\x7f\x80\xb5\xff*=;") + '\0' + "\r";
    switch (num(0, 5)) {
      case 0: return "";
      case 1: return pick(std::vector<std::string>{"INT33D5", "\\_SB.PC00.XHCI.RHUB.HS00.CRGB", "A12N08B", "56B6", "a b"});
      case 2: {
        std::string t;
        for (int i = num(1, 12); i > 0; --i) t += chance(50) ? kOdd[static_cast<std::size_t>(num(0, static_cast<int>(kOdd.size()) - 1))] : static_cast<char>('a' + num(0, 25));
        return t;
      }
      case 3: {
        std::string t;
        for (int i = num(55, 130); i > 0; --i) t += chance(90) ? static_cast<char>('A' + num(0, 25)) : '/';
        return t;
      }
      default: {
        std::string t;  // 59 to 63 characters once escaped and quoted
        for (int i = num(57, 61); i > 0; --i) t += static_cast<char>('0' + num(0, 9));
        if (chance(50)) t[static_cast<std::size_t>(num(0, 20))] = '%';
        return t;
      }
    }
  }

  std::string value_line() {
    if (chance(30)) {
      switch (num(0, 4)) {
        case 0: return keyword("Value") + sep() + "\"" + text_raw() + "\"" + comment() + eol();
        case 1: return keyword("Value") + sep() + "\"" + text_raw() + eol();  // no closing quote
        case 2: return "Value/" + sep() + "\"" + text_raw() + "\"" + eol();
        case 3: return keyword("Value") + sep() + "<" + std::to_string(num(0, 70000)) + ">" + eol();
        default: return keyword("Value") + sep() + "\"\"\"" + eol();
      }
    }
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

  // A help line of 298 to 305 bytes; some hold 298 or 299 bytes of text and then only blanks or a
  // line end.
  std::string long_help_line() {
    std::string s = "Help String" + sep() + "Long help";
    const auto text = static_cast<std::size_t>(chance(50) ? num(298, 299) : num(290, 303));
    while (s.size() < text) s += chance(80) ? 'x' : ' ';
    if (text < 298 || text > 299) return s + eol();
    return s + pick(std::vector<std::string>{"\r\n", "\n", "   \r\n", " \t\n", "  \r\r\n"});
  }

  std::string header_line() {
    return pick(std::vector<std::string>{"Help String" + sep() + "Some help" + eol(),
                                         long_help_line(),
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
    if (r <= 90) return "x\r\n";
    if (r <= 92) return "ab\n";
    if (r <= 94) return pick(std::vector<std::string>{"    \r\n", " \t \x7f\xa0\r\n"});
    if (r <= 96) return std::string(1, '\0') + "Setup Question = Hidden\r\n";  // no text: blank
    if (r <= 98) return "x" + std::string(1, '\0') + "[01]\r\n";  // one character of text
    return "\r\r\n";
  }

  std::string question() {
    std::string s = setup_line();
    int headers = num(0, 3);
    for (int i = 0; i < headers; ++i) {
      if (chance(30)) s += bios_line();
      else s += header_line();
    }
    if (chance(5)) s += setup_line();  // passed over: the question goes on
    for (int i = chance(15) ? num(1, 2) : 0; i > 0; --i) s += blank_line();
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

  // A dumped script and the new release's script of one machine: questions whose names repeat,
  // most named by Token and Offset lines (some of one identity, most of their own), values of
  // every shape (options, bare and angled numbers, texts), some changed, dropped, added, moved,
  // renamed by a live reading or of another shape in the dumped one, settings that only the dumped
  // one holds, now and then two scripts that share nothing, and an exclusion list.
  struct UpdateCase {
    std::string dumped, fresh, exclude;
  };

  UpdateCase update_case() {
    struct Q {
      std::string name;
      char kind;  // 'o' options, 'b' bare number, 'a' angled number, 't' text
      std::vector<std::string> codes;
      std::string value;
      std::string token, offset;  // "" for no such line
      bool bios = false;          // a BIOS Default line, of the first code
    };
    static const std::vector<std::string> kNames = {
        "Quiet Boot", "ASPM", "Hot Plug", " USB Port", "ACPI Path Name", "Custom HID", "tCL 40", "tRTP 19",
        "Round Trip Latency", "D0->D3 idle (on)", "Firmware Hash [63:0]", "DRAM Voltage 1.250V",
        "Vcore +0.050V Offset", "Rtt Wr (CHA/D0)", "a%5B{x}"};
    std::vector<std::string> names;  // few, so that keys repeat
    for (int i = num(2, 8); i > 0; --i) names.push_back(pick(kNames));
    int next_token = num(0, 40);
    // How many questions of each script have a Token line, in percent.
    const int placed = pick(std::vector<int>{100, 100, 95, 80, 0});
    const int dumped_placed = chance(70) ? 100 : pick(std::vector<int>{95, 80, 0});
    auto fresh_value = [&](const Q& q) {
      switch (q.kind) {
        case 'o': return chance(90) ? pick(q.codes) : std::string("7D");
        case 'b': return hex_run(num(1, 4));
        case 'a': return std::to_string(num(0, 70000));
        default: return text_raw();
      }
    };
    auto make = [&] {
      Q q;
      q.name = chance(85) ? pick(names) : name();
      q.kind = pick(std::vector<char>{'o', 'o', 'o', 'b', 'a', 't'});
      for (int i = num(1, 4); i > 0; --i) q.codes.push_back(pick(std::vector<std::string>{"00", "01", "02", "0A", "1F", "0001"}));
      q.value = fresh_value(q);
      q.token = "2B" + model_hex8(static_cast<std::uint32_t>(chance(15) ? num(0, next_token) : ++next_token)).substr(6);
      q.offset = chance(97) ? pick(std::vector<std::string>{"0D", "0D\t// x", "5", "1 A"}) : "";
      q.bios = chance(70);
      return q;
    };
    auto render = [&](const Q& q, const std::string& end) {
      std::string s = "Setup Question\t= " + q.name + end;
      std::string token = q.token;
      if (token.size() > 2 && chance(10)) token.insert(2, " ");
      if (!token.empty()) s += "Token\t=" + token + "\t// Do NOT change this line" + end;
      const bool late = chance(10);  // the Offset line after the value, still in the question
      if (!q.offset.empty() && !late) s += "Offset\t=" + q.offset + end;
      if (q.bios) s += "BIOS Default\t=[" + q.codes[0] + "]Auto " + end;
      if (chance(8)) s += "Width\t=01" + end + end;  // a blank line ahead of the value
      if (q.kind == 'o') {
        for (std::size_t i = 0; i < q.codes.size(); ++i) {
          std::string star = q.codes[i] == q.value ? "*" : "";
          s += (i == 0 ? "Options\t=" + star + "[" + q.codes[i] + "]One\t// Move \"*\" to the desired Option"
                       : "         " + star + "[" + q.codes[i] + "]Other") + end;
        }
      } else if (q.kind == 'b') {
        s += "Value\t=" + q.value + (chance(50) ? "\t// Enabled = 1, Disabled = 0" : "") + end;
      } else if (q.kind == 'a') {
        s += "Value\t=<" + q.value + ">" + end;
      } else {
        s += "Value\t=\"" + q.value + "\"" + end;
      }
      if (!q.offset.empty() && late) s += "Offset\t=" + q.offset + end;
      return s + end;
    };
    std::vector<Q> fresh;
    for (int i = num(0, 14); i > 0; --i) fresh.push_back(make());
    std::vector<Q> dumped;
    auto put_dumped = [&](Q d) {
      if (!chance(dumped_placed)) d.token = "";
      dumped.push_back(d);
    };
    std::vector<Q> kept;  // the new script's questions, less those it drops
    const bool share_nothing = chance(3);
    for (const Q& f : fresh) {
      if (share_nothing) {
        Q d = make();
        d.name = "Other " + d.name;
        d.token = d.token.empty() ? "" : "7E" + d.token;
        put_dumped(d);
        kept.push_back(f);
        if (!chance(placed)) kept.back().token = "";
        continue;
      }
      const bool keep = !chance(8);  // or a question that the new release drops
      if (keep) kept.push_back(f);
      if (keep && !chance(placed)) kept.back().token = "";
      if (chance(8)) continue;
      Q d = f;
      if ((d.kind == 'a' || d.kind == 'b') && chance(15)) {  // a number of the other form
        d.kind = d.kind == 'a' ? 'b' : 'a';
        if (chance(50)) d.value = fresh_value(d);
      } else if (chance(5)) {
        d.kind = pick(std::vector<char>{'o', 'b', 'a', 't'});
      }
      if (chance(40) || (d.kind != f.kind && d.kind != 'a' && d.kind != 'b')) d.value = fresh_value(d);
      if (chance(25)) {  // a live reading in the text changed
        for (char& ch : d.name) {
          if (std::isdigit(static_cast<unsigned char>(ch))) ch = static_cast<char>('0' + num(0, 9));
        }
        if (chance(30)) d.name += pick(std::vector<std::string>{" 1.1V", ".", "9", "V", "+", " -5", "+-.0"});
        if (keep && chance(50)) std::swap(kept.back().name, d.name);  // the new release's reading
      }
      if (chance(6)) d.token = chance(50) ? "" : d.token + "0";  // the question is another one now
      if (chance(3)) d.offset = "";
      if (d.kind == 'o' && chance(15)) {  // an option that the new release no longer offers
        d.codes.push_back("7E");
        d.value = "7E";
      }
      if (chance(10)) d.bios = true;
      put_dumped(d);
      if (chance(6)) put_dumped(make());
    }
    for (std::size_t i = 1; i < dumped.size(); ++i) {
      if (chance(8)) std::swap(dumped[i - 1], dumped[i]);
    }
    UpdateCase c;
    std::string end = chance(80) ? "\r\n" : "\n";
    c.fresh = "// Script File Name : new.txt" + end + "HIICrc32= 5EED0A13" + end + end;
    for (const Q& q : kept) c.fresh += chance(4) && !share_nothing ? question() + "\r\n" : render(q, end);
    c.dumped = "// Script File Name : old.txt" + end + end;
    for (const Q& q : dumped) c.dumped += render(q, end);
    if (chance(30)) mutate(c.fresh);
    if (chance(30)) mutate(c.dumped);
    c.exclude = "// questions the update leaves alone\r\n";
    for (int i = chance(30) ? num(1, 2) : 0; i > 0; --i) {
      std::string entry = chance(50) || dumped.empty() ? pick(kNames) : pick(dumped).name;
      if (chance(40)) {  // the key as written, as messages print it
        std::string key;
        for (char ch : entry) {
          if (model_visible(ch)) key += ch;
        }
        entry = model_written_key(key.substr(0, key.find('/')));
      }
      c.exclude += entry + "\r\n";
    }
    return c;
  }

  std::string difference(const std::string& script) {
    std::vector<std::string> keys;
    for (const std::string& line : model_pieces(script)) {
      if (model_begins(line, "Setup")) keys.push_back(model_written_key(model_key(line)));
    }
    std::string s;
    int lines = num(0, 10);
    for (int i = 0; i < lines; ++i) {
      std::string key = !keys.empty() && chance(75) ? pick(keys) : name();
      std::string val = chance(65)   ? value_text()
                        : chance(60) ? model_recorded_text(text_raw())
                                     : pick(std::vector<std::string>{"?", "", "0[1", "a<b", "\"", "\"%2F%zz%4\"", "\"ab"});
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
  EXPECT_EQ(model_merge(merge_in, diff).bytes,
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

  const std::string merged = program_merge("Setup/Q = B\r\nValue =1\r\n\r\n", "{B},[0],<7>\r\n").bytes;
  EXPECT_EQ(merged, "Setup/Q = B\r\nValue =7\n\r\n");
}

// Blank lines ahead of a question's options or value belong to it, a 301-byte help line is one
// line, and a Setup line inside a question or a second Value line is no line of its own for the
// reader or the merge.
TEST(CrossCheck, OneReadingOfEachQuestion) {
  ScratchDir dir;
  using namespace std::string_literals;
  const std::string help = "Help String = " + std::string(285, 'x') + "\r\n";
  const std::string script =
      "Setup Question = Fan\r\nWidth =01\r\n\r\n \r\nOptions =*[00]Off\r\n         [01]On\r\n\r\n"
      "Setup Question = Help\r\n" + help + "Setup Question = Inner\r\nValue =5\r\nValue =6\r\n\r\n"
      "Setup Question = Nul\r\n\0junk\r\nValue =4\r\n"s;
  const char* records = "{Fan},[?],<00>\r\n{Help},[?],<5>\r\n{Nul},[?],<4>\r\n";
  EXPECT_EQ(model_convert(script).records, records);
  EXPECT_EQ(model_convert(script).count, 2);
  Converted c = program_convert(script);
  EXPECT_EQ(c.records, records);
  EXPECT_EQ(c.count, 2);

  const std::string diff =
      "{Fan},[0],<01>\r\n{Help},[0],<7>\r\n{Inner},[0],<1>\r\n{Nul},[0],<4>\r\n{Nul},[0],<2>\r\n";
  const std::string merged =
      "Setup Question = Fan\r\nWidth =01\r\n\r\n \r\nOptions = [00]Off\r\n        *[01]On\r\n\r\n"
      "Setup Question = Help\r\n" + help + "Setup Question = Inner\r\nValue =7\nValue =6\r\n\r\n"
      "Setup Question = Nul\r\n\0junk\r\nValue =4\n"s;
  const char* printed = "Not carried: Inner = 1\r\nNot carried: Nul = 2\r\n";
  Merged m = model_merge(script, diff);
  EXPECT_EQ(m.bytes, merged);
  EXPECT_EQ(m.printed, printed);
  m = program_merge(script, diff);
  EXPECT_EQ(m.bytes, merged);
  EXPECT_EQ(m.printed, printed);
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

// The model against the rulings' own examples, so that a disagreement below points at the program.
TEST(CrossCheck, ModelFollowsTheUpdateRulesExamples) {
  // Texts are recorded whole, escaped, and hashed past 63 characters.
  EXPECT_EQ(model_convert("Setup Question = Custom HID\nValue =\"INT33D5\" // x\n\n").records,
            "{CustomHID},[?],<\"INT33D5\">\r\n");
  EXPECT_EQ(model_convert("Setup Question = E\nValue\t=\"\"\r\n").records, "{E},[?],<\"\">\r\n");
  EXPECT_EQ(model_convert("Setup Question = P\nValue =\"a%b/c{d} e\xb5\"\n").records,
            "{P},[?],<\"a%25b%2Fc%7Bd%7D e%B5\">\r\n");
  EXPECT_EQ(model_convert("Setup Question = U\nValue =\"abc\r\"\n").records, "{U},[?],<abc>\r\n");
  EXPECT_EQ(model_hex8(model_fnv1a("a")), "E40C292C");
  EXPECT_EQ(model_hex8(model_fnv1a("foobar")), "BF9CF968");
  const std::string long_text(70, 'x');
  EXPECT_EQ(model_recorded_text(long_text), "\"" + std::string(53, 'x') + "#" + model_hex8(model_fnv1a(long_text)));

  // A key on two walked lines, its second copy differing: both copies get a line.
  const std::string walked = "{A},[0],<01>\r\n{B},[0],<05>\r\n{A},[0],<00>\r\n{C},[0],<1>\r\n";
  const std::string searched = "{A},[0],<01>\r\n{A},[0],<01>\r\n{B},[0],<05>\r\n{C},[0],<2>\r\n";
  Compared c = model_compare(walked, searched, "");
  EXPECT_EQ(c.difference, "{A},[0],<01>\r\n{A},[0],<01>\r\n{C},[0],<2>\r\n");
  EXPECT_EQ(c.count, 3);
  EXPECT_EQ(model_compare(walked, walked, "").difference, "");
  EXPECT_EQ(model_compare(walked, searched, "A\r\n").difference, "{C},[0],<2>\r\n");

  // Values are written where they fit, in the line's shape; the rest is reported. NULs pass.
  using namespace std::string_literals;
  const std::string script =
      "Setup Question = D\r\nValue =05 // Seconds\r\n\r\nSetup Question = L\r\nValue\t=<4500>\r\n\r\n"
      "Setup Question = T\r\nValue\t=\"\"\r\n\r\nSetup Question = N\r\nValue\t=\"x\"\r\n\r\n"
      "Setup Question = O\r\nOptions =*[00]Off\r\n         [01]On\r\n\r\n"
      "Setup Question = Z\r\nOptions=[00]Off\x00*[01]\r\n[01]On\r\n"s;
  const std::string diff =
      "{D},[0],<0A>\r\n{L},[0],<5000>\r\n{T},[0],<\"INT%2F33D5\">\r\n{N},[0],<7>\r\n{O},[0],<02>\r\n{Z},[0],<01>\r\n";
  Merged m = model_merge(script, diff);
  EXPECT_EQ(m.bytes,
            "Setup Question = D\r\nValue =0A\n\r\nSetup Question = L\r\nValue\t=<5000>\n\r\n"
            "Setup Question = T\r\nValue\t=\"INT/33D5\"\n\r\nSetup Question = N\r\nValue\t=\"x\"\r\n\r\n"
            "Setup Question = O\r\nOptions =*[00]Off\r\n         [01]On\r\n\r\n"
            "Setup Question = Z\r\nOptions=[00]Off\x00*[01]\r\n*[01]On\r\n"s);
  EXPECT_EQ(m.printed, "Not carried: N = 7\r\nNot carried: O = 02\r\n");
}

// Questions pair by Token, Offset and key skeleton before they pair by key; a walked question
// with an identity searches by key only when the searched script holds questions without one
// (excluded ones too), and a failed search sends the next one to the top. Both the model and the
// program, so that a disagreement below points at the one that moved.
TEST(CrossCheck, UpdatesPairQuestionsByTokenAndOffset) {
  ScratchDir dir;
  auto expect_update = [](const std::string& dumped, const std::string& fresh, const std::string& exclude,
                          const std::string& difference, const std::string& merged, const std::string& printed) {
    for (const Update& u : {model_update(dumped, fresh, exclude), program_update(dumped, fresh, exclude)}) {
      EXPECT_EQ(u.compared.difference, difference);
      EXPECT_EQ(u.merged.bytes, merged);
      EXPECT_EQ(u.merged.printed, printed);
    }
  };
  const std::string options_a = "Options =*[00]A\r\n         [01]B\r\n\r\n";
  const std::string options_b = "Options =[00]A\r\n         *[01]B\r\n\r\n";
  // A live reading moved "tRTP" onto the next question, a number changed form, a setting has no
  // question left to go into, and an exclusion names a key as written.
  const std::string dumped =
      "Setup Question = tRTP 20\r\nToken =2B38 // Do NOT change this line\r\nOffset =0D\r\n" + options_b +
      "Setup Question = tRTP 19\r\nToken =2B39\r\nOffset =0D\r\n" + options_a +
      "Setup Question = Power Limit\r\nToken =3A\r\nOffset =01\r\nValue =<110>\r\n\r\n"
      "Setup Question = Fan Speed\r\nToken =3B\r\nOffset =01\r\nBIOS Default =[05]\r\nValue =07\r\n\r\n"
      "Setup Question = D0->D3 idle\r\nToken =3C\r\nOffset =01\r\nValue =<300>\r\n\r\n";
  const std::string fresh_tail =
      "Setup Question = tRTP 18\r\nToken =2B39\r\nOffset =0D\r\n" + options_a +
      "Setup Question = Power Limit\r\nToken =3A\r\nOffset =01\r\nValue =6E\r\n\r\n"
      "Setup Question = D0->D3 idle\r\nToken =3C\r\nOffset =01\r\nValue =<200>\r\n\r\n";
  const std::string rtp = "Setup Question = tRTP 19\r\nToken =2B 38\r\nOffset =0D\r\n";
  expect_update(dumped, rtp + options_a + fresh_tail, "D0-%3ED3idle\r\n",
                "{tRTP19},[?],<01>\r\n{PowerLimit},[?],<110>\r\n",
                rtp + "Options = [00]A\r\n        *[01]B\r\n\r\n" + fresh_tail,
                "Not carried: PowerLimit = 110\r\nNot carried: FanSpeed = 07\r\n");

  // Z has an identity that no dumped question has: it searches by key only while the dumped
  // script holds a question without identity, and then its failed search sends K's search back to
  // the top.
  const std::string keyed =
      "Setup Question = K\r\nToken =01\r\nOffset =00\r\nValue =1\r\n\r\n"
      "Setup Question = L\r\nToken =02\r\nOffset =00\r\nValue =2\r\n\r\n"
      "Setup Question = K\r\nToken =03\r\nOffset =00\r\nValue =3\r\n\r\n";
  const std::string walked =
      "Setup Question = L\r\nValue =0\r\n\r\n"
      "Setup Question = Z\r\nToken =09\r\nOffset =00\r\nValue =0\r\n\r\n"
      "Setup Question = K\r\nValue =0\r\n\r\n";
  const std::string carried =
      "Setup Question = L\r\nValue =2\n\r\n"
      "Setup Question = Z\r\nToken =09\r\nOffset =00\r\nValue =0\r\n\r\n"
      "Setup Question = K\r\nValue =";
  expect_update(keyed, walked, "", "{L},[?],<2>\r\n{K},[?],<3>\r\n", carried + "3\n\r\n", "");
  expect_update(keyed + "Setup Question = E\r\nValue =5\r\n\r\n", walked, "E\r\n",
                "{L},[?],<2>\r\n{K},[?],<1>\r\n", carried + "1\n\r\n", "");

  // Two questions that both have an identity never pair by key: nothing is shared.
  expect_update("Setup Question = A\r\nToken =1\r\nOffset =2\r\nValue =1\r\n",
                "Setup Question = A\r\nToken =9\r\nOffset =2\r\nValue =5\r\n", "", "", "",
                "Error, no question of old.txt is in new.txt\r\n");
}

TEST(CrossCheck, RandomUpdatesCompareAndMergeAsTheModelSays) {
  ScratchDir dir;
  const char* cases_env = std::getenv("NVRAM_CROSSCHECK_CASES");
  const char* seed_env = std::getenv("NVRAM_CROSSCHECK_SEED");
  const int cases = cases_env != nullptr ? std::atoi(cases_env) / 3 : 500;
  const auto first_seed = static_cast<std::uint32_t>(seed_env != nullptr ? std::atol(seed_env) : 5000);
  int failures = 0;
  for (int i = 0; i < cases && failures < 3; ++i) {
    const auto seed = first_seed + static_cast<std::uint32_t>(i);
    Gen gen(seed);
    Gen::UpdateCase c = gen.update_case();
    auto fails = [&](const std::string& dumped, const std::string& fresh) {
      return !(model_update(dumped, fresh, c.exclude) == program_update(dumped, fresh, c.exclude));
    };
    if (!fails(c.dumped, c.fresh)) continue;
    ++failures;
    std::string fresh = minimise(c.fresh, [&](const std::string& f) { return fails(c.dumped, f); }, false);
    std::string dumped = minimise(c.dumped, [&](const std::string& d) { return fails(d, fresh); }, false);
    Update m = model_update(dumped, fresh, c.exclude);
    Update p = program_update(dumped, fresh, c.exclude);
    ADD_FAILURE() << "update disagrees, seed " << seed << "\ndumped script:\n" << shown(dumped)
                  << "\nnew script:\n" << shown(fresh) << "\nExclude.txt:\n" << shown(c.exclude)
                  << "\nmodel Difftemp.ini (" << m.compared.count << "):\n" << shown(m.compared.difference)
                  << "\nprogram Difftemp.ini (" << p.compared.count << "):\n" << shown(p.compared.difference)
                  << "\nmodel merged:\n" << shown(m.merged.bytes) << "\nprogram merged:\n" << shown(p.merged.bytes)
                  << "\nmodel printed:\n" << shown(m.merged.printed) << "\nprogram printed:\n" << shown(p.merged.printed);
  }
}

// Where two long outputs part, with some bytes of each around it.
std::string parting(const std::string& what, const std::string& model, const std::string& program) {
  if (model == program) return "";
  std::size_t at = 0;
  while (at < model.size() && at < program.size() && model[at] == program[at]) ++at;
  std::size_t from = at < 80 ? 0 : at - 80;
  return what + " parts at byte " + std::to_string(at) + "\nmodel:\n" + shown(model.substr(from, 200)) +
         "\nprogram:\n" + shown(program.substr(from, 200)) + "\n";
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
    EXPECT_EQ(parting("records", m.records, p.records), "");

    // A difference file that moves every question to another value: the odd records to "01",
    // the others to their default, every seventh one to a value that names no option, and
    // every fifth to a text.
    std::string diff;
    int n = 0;
    for (std::size_t start = 0; start < m.records.size(); ++n) {
      std::size_t end = m.records.find('\n', start) + 1;
      std::string line = m.records.substr(start, end - start);
      start = end;
      std::string key = line.substr(1, line.find("},[") - 1);
      std::string value = n % 7 == 0 ? "?" : n % 5 == 0 ? "\"INT%2F33D5\"" : n % 2 ? "01" : "0";
      diff += "{" + key + "},[00],<" + value + ">\r\n";
    }
    Merged mm = model_merge(m, diff);
    Merged pm = program_merge(script, diff);
    EXPECT_EQ(parting("merged script", mm.bytes, pm.bytes), "");
    EXPECT_EQ(parting("printed", mm.printed, pm.printed), "");
  }
}

// The real pair of one board's releases carried both ways, the older one with a text and an
// angled number changed by hand.
TEST(CrossCheck, RealUpdatesCompareAndMergeAsTheModelSays) {
  const std::filesystem::path real = std::filesystem::path(NVRAM_SHARED_DIR) / "corpus" / "real";
  if (!std::filesystem::is_directory(real)) GTEST_SKIP() << "no real scripts at " << real;
  ScratchDir dir;
  std::string older = read_file((real / "real03.txt").string());
  const std::string newer = read_file((real / "real01.txt").string());
  std::size_t hid = older.find("Value\t=\"\"", older.find("= Custom HID\r\n"));
  std::size_t pl1 = older.find("Value\t=<4500>");
  ASSERT_NE(hid, std::string::npos);
  ASSERT_NE(pl1, std::string::npos);
  older.replace(pl1, 13, "Value\t=<5000>");
  older.replace(hid, 9, "Value\t=\"INT33D5\"");
  for (int way = 0; way < 2; ++way) {
    const std::string& dumped = way == 0 ? older : newer;
    const std::string& fresh = way == 0 ? newer : older;
    Update m = model_update(dumped, fresh, "// none\r\n");
    Update p = program_update(dumped, fresh, "// none\r\n");
    EXPECT_EQ(m.compared.count, p.compared.count) << "way " << way;
    EXPECT_EQ(parting("Difftemp.ini", m.compared.difference, p.compared.difference), "") << "way " << way;
    EXPECT_EQ(parting("merged.txt", m.merged.bytes, p.merged.bytes), "") << "way " << way;
    EXPECT_EQ(parting("printed", m.merged.printed, p.merged.printed), "") << "way " << way;
  }
}

}  // namespace

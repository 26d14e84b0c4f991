#include "script/record.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "script/byte_scan.h"

namespace nvram {

std::size_t record_line(std::string_view key, std::string_view default_value,
                        std::string_view current_value, char (&out)[kRecordLineMax]) {
  char* at = out;
  auto put = [&at](std::string_view s) {
    std::memcpy(at, s.data(), s.size());
    at += s.size();
  };
  put("{");
  put(key.substr(0, kFieldMax));
  put("},[");
  put(default_value.substr(0, kFieldMax));
  put("],<");
  put(current_value.substr(0, kFieldMax));
  put(">\r\n");
  return static_cast<std::size_t>(at - out);
}

std::string record_line(std::string_view key, std::string_view default_value,
                        std::string_view current_value) {
  char line[kRecordLineMax];
  return std::string(line, record_line(key, default_value, current_value, line));
}

namespace {

// What a byte of a Setup line is to its key, as bits: it goes into the key (a visible
// character), into the skeleton too (a visible character that is no part of a live reading: not a
// decimal digit, '.', '+' or '-'), it is a delimiter that record lines escape, or it stops the key
// (CR, LF, '/').
enum : unsigned { kInKey = 1, kInSkeleton = 2, kKeyDelimiter = 4, kKeyStop = 8 };
constexpr auto kKeyByte = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned c = 0x21; c <= 0x7E; ++c) table[c] = kInKey | kInSkeleton;  // is_visible()
  for (unsigned char c : std::string_view("%{}[]<>")) table[c] |= kKeyDelimiter;
  for (unsigned char c : std::string_view("0123456789.+-")) table[c] = kInKey;
  for (unsigned char c : std::string_view("\r\n/")) table[c] = kKeyStop;
  return table;
}();

// '%', '{', '}', '[', ']', '<' and '>'.
bool is_key_delimiter(char c) { return kKeyByte[static_cast<unsigned char>(c)] & kKeyDelimiter; }

}  // namespace

KeyScan scan_question_key(std::string_view setup_line, char (&key)[kFieldMax],
                          char (&skeleton)[kFieldMax]) {
  KeyScan scan;
  const char* p = setup_line.data();
  const std::size_t n = setup_line.size();
  std::size_t i = first_of<'='>(setup_line, 0);
  if (i == n) return scan;
  ++i;
  std::size_t size = 0, kept = 0;
  unsigned seen = 0;
  if (n - i <= kFieldMax) {
    // No more bytes left than a field holds: each is written, and counted only where it belongs,
    // without a branch on what it is (blanks between the words come and go unpredictably).
    for (; i < n; ++i) {
      const char c = p[i];
      const unsigned kind = kKeyByte[static_cast<unsigned char>(c)];
      if (kind & kKeyStop) break;
      key[size] = c;
      skeleton[kept] = c;
      size += kind & kInKey;
      kept += (kind / kInSkeleton) & 1;
      seen |= kind;
    }
  } else {
    for (; i < n; ++i) {
      const char c = p[i];
      const unsigned kind = kKeyByte[static_cast<unsigned char>(c)];
      if (kind & kKeyStop) break;
      if (!(kind & kInKey)) continue;
      if (size == kFieldMax) break;
      key[size++] = c;
      skeleton[kept] = c;  // never more than the key's own characters
      kept += (kind / kInSkeleton) & 1;
      seen |= kind;
    }
  }
  scan.size = size;
  scan.skeleton_size = kept;
  scan.delimiter = (seen & kKeyDelimiter) != 0;
  return scan;
}

std::size_t question_key(std::string_view setup_line, char (&key)[kFieldMax]) {
  char skeleton[kFieldMax];
  return scan_question_key(setup_line, key, skeleton).size;
}

std::string question_key(std::string_view setup_line) {
  char key[kFieldMax];
  return std::string(key, question_key(setup_line, key));
}

namespace {

bool needs_escape(unsigned char c) {
  switch (c) {
    case '%': case '{': case '}': case '[': case ']': case '<': case '>': case '/':
      return true;
    default:
      return c < 0x20 || c > 0x7E;
  }
}

constexpr char kUpperHex[] = "0123456789ABCDEF";

// A digit of an escape: escapes are only ever written with upper-case digits, so "%2f" is no
// escape and stays as it stands.
int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The 32-bit FNV-1a hash.
std::uint32_t fnv1a(std::string_view bytes) {
  std::uint32_t h = 0x811C9DC5u;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x01000193u;
  }
  return h;
}

// Where a text too long for its field is cut: what is kept of it, then '#' and the hash.
constexpr std::size_t kTextKept = 54;

void append_escape(std::string& out, unsigned char c) {
  out += '%';
  out += kUpperHex[c >> 4];
  out += kUpperHex[c & 0xF];
}

// Cuts an escaped value or key longer than a field to its first 54 characters, '#' and the hash
// of the raw bytes it was made from.
void cut_to_field(std::string& escaped, std::string_view raw) {
  if (escaped.size() <= kFieldMax) return;
  escaped.resize(kTextKept);
  escaped += '#';
  const std::uint32_t h = fnv1a(raw);
  for (int shift = 28; shift >= 0; shift -= 4) escaped += kUpperHex[(h >> shift) & 0xF];
}

}  // namespace

std::string written_key(std::string_view key) {
  if (std::none_of(key.begin(), key.end(), is_key_delimiter)) return std::string(key);
  std::string out;
  out.reserve(key.size());
  for (char c : key) {
    if (is_key_delimiter(c)) append_escape(out, static_cast<unsigned char>(c));
    else out += c;
  }
  cut_to_field(out, key);
  return out;
}

std::size_t written_key(std::string_view key, char (&out)[kFieldMax]) {
  std::size_t size = 0;
  for (char c : key) {
    if (is_key_delimiter(c)) {  // rare: take the general way
      const std::string written = written_key(key);
      written.copy(out, kFieldMax);
      return std::min(written.size(), kFieldMax);
    }
    if (size < kFieldMax) out[size++] = c;
  }
  return size;
}

std::string record_text_value(std::string_view raw) {
  std::string value;
  value.reserve(raw.size() + 2);
  value += '"';
  for (char ch : raw) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (needs_escape(c)) append_escape(value, c);
    else value += ch;
  }
  value += '"';
  cut_to_field(value, raw);
  return value;
}

std::string unescape_text_value(std::string_view recorded) {
  std::string text;
  text.reserve(recorded.size());
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    if (recorded[i] == '%' && i + 2 < recorded.size() &&
        hex_value(static_cast<unsigned char>(recorded[i + 1])) >= 0 &&
        hex_value(static_cast<unsigned char>(recorded[i + 2])) >= 0) {
      text += static_cast<char>(hex_value(static_cast<unsigned char>(recorded[i + 1])) * 16 +
                                hex_value(static_cast<unsigned char>(recorded[i + 2])));
      i += 2;
    } else {
      text += recorded[i];
    }
  }
  return text;
}

ValueLine read_value_line(std::string_view line) {
  ValueLine v;
  const char* p = line.data();
  const std::size_t size = line.size();
  std::size_t equals = 0;
  while (equals < size && p[equals] != '=' && p[equals] != '\r' && p[equals] != '\n')
    v.slash |= p[equals++] == '/';
  if (equals == size || p[equals] != '=') return v;
  v.equals = equals;
  std::size_t at = equals + 1;
  while (at < size && (p[at] == ' ' || p[at] == '\t')) ++at;
  if (at < size && p[at] == '<') {
    v.kind = ValueKind::kAngled;
  } else if (at < size && p[at] == '"') {
    std::size_t close = at + 1;
    while (close < size && p[close] != '"' && p[close] != '\r' && p[close] != '\n') ++close;
    if (close < size && p[close] == '"') {
      v.kind = ValueKind::kText;
      v.open = at;
      v.close = close;
    }
  }
  return v;
}

std::string record_file_name(std::string_view script_name) {
  std::size_t slash = script_name.rfind('/');
  std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
  std::size_t dot = script_name.find('.', base + 1);
  std::string name(script_name.substr(0, dot == std::string_view::npos ? script_name.size() : dot));
  name += ".ini";
  return name;
}

}  // namespace nvram

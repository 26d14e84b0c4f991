#include "script/record.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "script/byte_scan.h"

namespace nvram {

namespace {

// "{key},[default],<current>\r\n" at `out`; with `whole`, each field's block is copied whole.
template <bool whole>
std::size_t put_record_line(FieldBlock key, FieldBlock default_value, FieldBlock current_value,
                            char* out) {
  char* at = out;
  auto put = [&at](FieldBlock f, const char(&after)[4]) {
    std::memcpy(at, f.block, whole ? kFieldMax : f.size);
    at += f.size;
    std::memcpy(at, after, 3);
    at += 3;
  };
  *at++ = '{';
  put(key, "},[");
  put(default_value, "],<");
  put(current_value, ">\r\n");
  return static_cast<std::size_t>(at - out);
}

FieldBlock cut(std::string_view s) { return {s.data(), std::min(s.size(), kFieldMax)}; }

}  // namespace

std::size_t record_line(std::string_view key, std::string_view default_value,
                        std::string_view current_value, char (&out)[kRecordLineMax]) {
  return put_record_line<false>(cut(key), cut(default_value), cut(current_value), out);
}

std::size_t record_line(FieldBlock key, FieldBlock default_value, FieldBlock current_value,
                        char* out) {
  return put_record_line<true>(key, default_value, current_value, out);
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

#ifdef __SSE2__
// The number of set bits, added up in place: the baseline x86-64 processor has no instruction for
// it, and the library call costs twice as much.
std::size_t bit_count(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<std::size_t>((x * 0x0101010101010101u) >> 56);
}

// The key and skeleton of a Setup line whose bytes after the '=' fit a field, found sixteen bytes
// at a time: the bytes are classified into masks, one bit a byte, and the runs of kept bytes
// (the words between the blanks) are moved whole. `from` is the first byte after the '='; the
// line holds at least sixteen bytes and at most kFieldMax after `from`.
KeyScan scan_short_key(std::string_view line, std::size_t from, char (&key)[kFieldMax],
                       char (&skeleton)[kFieldMax]) {
  const char* p = line.data();
  const std::size_t n = line.size();
  const std::size_t count = n - from;  // at most kFieldMax, so a bit of a 64-bit mask each
  // The bytes from `from` on, at stage + 16; each block is loaded whole from the line, the last
  // one from the line's last sixteen bytes, which may go back before `from` (into the front pad).
  alignas(16) char stage[16 + 64 + 16] = {};
  std::uint64_t stop = 0, visible = 0, live = 0, delimiter = 0;
  for (std::size_t at = 0; at < count; at += 16) {
    std::size_t load = from + at;
    if (load + 16 > n) load = n - 16;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + load));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(stage + 16 + load - from), v);
    auto eq = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    auto gt = [&v](char c) { return _mm_cmpgt_epi8(v, _mm_set1_epi8(c)); };
    auto bits = [&](__m128i m) {
      return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m)) >>
                                        (from + at - load))
             << at;
    };
    stop |= bits(eq('\r') | eq('\n') | eq('/'));
    visible |= bits(visible_bytes(v));
    // What a live reading changes: the decimal digits, '.', '-' ('/' stops the key) and '+'.
    live |= bits(_mm_and_si128(gt(0x2C), _mm_cmplt_epi8(v, _mm_set1_epi8(0x3A))) | eq('+'));
    // '%', '<' and '>', '[' and ']', '{' and '}' (the last two pairs one bit of case apart).
    const __m128i folded = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xDF)));
    delimiter |= bits(
        eq('%') | _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(2)), _mm_set1_epi8('>')) |
        _mm_cmpeq_epi8(folded, _mm_set1_epi8('[')) | _mm_cmpeq_epi8(folded, _mm_set1_epi8(']')));
  }
  const std::uint64_t end = std::uint64_t{1} << count;
  const std::uint64_t first_stop = (stop | end) & -(stop | end);
  const std::uint64_t in_key = visible & (first_stop - 1);
  // Each run of set bits is moved in blocks of sixteen bytes, into room past the field.
  auto gather = [&stage](std::uint64_t mask, char* out) {
    std::size_t size = 0;
    for (; mask != 0; mask &= mask + (mask & -mask)) {  // drops the lowest run
      const unsigned first = static_cast<unsigned>(__builtin_ctzll(mask));
      const unsigned run = static_cast<unsigned>(__builtin_ctzll(~(mask >> first)));
      std::memcpy(out + size, stage + 16 + first, 16);
      for (unsigned i = 16; i < run; i += 16)
        std::memcpy(out + size + i, stage + 16 + first + i, 16);
      size += run;
    }
    return size;
  };
  char out[kFieldMax + 16] = {};
  KeyScan scan;
  scan.size = gather(in_key, out);
  std::memcpy(key, out, kFieldMax);
  // Most keys hold nothing that a live reading changes, or hold it only at their end ("Fan 1"):
  // their skeleton is the key, or its start.
  const std::uint64_t changed = in_key & live, kept = in_key & ~live;
  if (kept < (changed & -changed) || changed == 0) {
    scan.skeleton_size = scan.size - bit_count(changed);
  } else {
    scan.skeleton_size = gather(kept, out);
  }
  std::memcpy(skeleton, out, kFieldMax);
  scan.delimiter = (delimiter & in_key) != 0;
  return scan;
}
#endif

}  // namespace

KeyScan scan_question_key(std::string_view setup_line, char (&key)[kFieldMax],
                          char (&skeleton)[kFieldMax]) {
  KeyScan scan;
  const char* p = setup_line.data();
  const std::size_t n = setup_line.size();
  std::size_t i = first_of<'='>(setup_line, 0);
  if (i == n) return scan;
  ++i;
#ifdef __SSE2__
  if (n >= 16 && n - i <= kFieldMax) return scan_short_key(setup_line, i, key, skeleton);
#endif
  std::size_t size = 0, kept = 0;
  unsigned seen = 0;
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

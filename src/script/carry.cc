#include "script/carry.h"

namespace nvram {

bool value_fits(std::string_view value, ValueKind kind) {
  if (kind == ValueKind::kText) {
    return value.size() >= 2 && value.front() == '"' && value.back() == '"';
  }
  if (value.empty()) return false;
  for (char c : value) {
    if (!is_hex_digit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

namespace {

bool is_number_line(ValueKind kind) { return kind == ValueKind::kBare || kind == ValueKind::kAngled; }

// Whether a line of the block holds `pattern` in its text, before its first NUL. The block is
// searched whole, and a line only where the pattern stands in it.
bool block_holds(std::string_view block, std::string_view pattern) {
  constexpr auto npos = std::string_view::npos;
  // No line's text holds a NUL, nor a line feed before its end.
  if (pattern.find_first_of(std::string_view("\n\0", 2)) != npos) return false;
  for (std::size_t from = 0;;) {
    const std::size_t at = block.find(pattern, from);
    if (at == npos) return false;
    const std::size_t feed = at == 0 ? npos : block.rfind('\n', at - 1);
    const std::size_t start = feed == npos ? 0 : feed + 1;
    if (block.substr(start, at - start).find('\0') == npos) return true;
    // A NUL ends the text of this line before the pattern: on with the next line.
    const std::size_t next = block.find('\n', at);
    if (next == npos) return false;
    from = next + 1;
  }
}

}  // namespace

bool values_differ(std::string_view a, ValueKind a_kind, std::string_view b, ValueKind b_kind) {
  // Values are a few characters: compared byte by byte, without a call.
  if (a.size() != b.size()) return true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return true;
  }
  if (!is_number_line(a_kind) || !is_number_line(b_kind) || a_kind == b_kind) return false;
  // The same digits in both forms: one number only when, past its leading zeros, one digit from
  // 0 to 9 is left.
  const std::size_t first = a.find_first_not_of('0');
  if (first == std::string_view::npos) return false;
  return first + 1 != a.size() || a[first] < '0' || a[first] > '9';
}

Carry carry_into(const ScriptReading& reading, std::size_t question, std::string_view value,
                 ValueKind from) {
  Carry c;
  c.kind = reading[question].kind;
  switch (c.kind) {
    case ValueKind::kNone:
      c.refusal = Refusal::kNothingToTake;
      break;
    case ValueKind::kOptions: {
      std::string pattern;
      pattern.reserve(value.size() + 2);
      pattern.append(1, '[').append(value).append(1, ']');
      if (!block_holds(value_region(reading, question), pattern)) c.refusal = Refusal::kOptionBlock;
      break;
    }
    case ValueKind::kBare:
    case ValueKind::kAngled:
    case ValueKind::kText:
      if (!value_fits(value, c.kind)) c.refusal = Refusal::kValueLine;
      else if (is_number_line(c.kind) && is_number_line(from) && from != c.kind)
        c.refusal = Refusal::kNumberForm;
      break;
  }
  return c;
}

}  // namespace nvram

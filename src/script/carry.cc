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

}  // namespace

bool values_differ(std::string_view a, ValueKind a_kind, std::string_view b, ValueKind b_kind) {
  if (a != b) return true;
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
      bool takes = false;
      for_each_line(value_region(reading, question), [&](std::string_view text, std::string_view) {
        takes = takes || text.find(pattern) != std::string_view::npos;
      });
      if (!takes) c.refusal = Refusal::kOptionBlock;
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

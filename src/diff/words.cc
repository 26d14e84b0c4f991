#include "diff/words.h"

#include "script/carry.h"
#include "script/record.h"

namespace nvram::diff {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }

// One line from `pos`, without its line end; `pos` moves past the line feed.
std::string_view next_line(std::string_view script, std::size_t& pos) {
  std::size_t end = script.find('\n', pos);
  std::size_t next = end == std::string_view::npos ? script.size() : end + 1;
  std::string_view line = script.substr(pos, next - pos);
  pos = next;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

bool begins(std::string_view line, std::string_view word) { return line.substr(0, word.size()) == word; }

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  return trim_right(s);
}

// Drops a "//" comment and the blanks before it.
std::string_view drop_comment(std::string_view s) {
  std::size_t c = s.find("//");
  if (c == std::string_view::npos) return s;
  return trim_right(s.substr(0, c));
}

// What follows the line's first '=', or nothing.
std::string_view after_equals(std::string_view line) {
  std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
}

// "*[01]Enabled\t// Move ..." gives code 01 and text Enabled.
void take_option(std::string_view line, QuestionWords& q) {
  std::size_t open = line.find('[');
  if (open == std::string_view::npos) return;
  std::size_t close = line.find(']', open);
  if (close == std::string_view::npos) return;
  q.options.push_back({std::string(line.substr(open + 1, close - open - 1)),
                       std::string(drop_comment(trim_right(line.substr(close + 1))))});
}

void take_value(std::string_view line, QuestionWords& q) {
  std::string_view v = trim(after_equals(line));
  if (!v.empty() && v.front() == '"') {
    std::size_t close = v.find('"', 1);
    if (close != std::string_view::npos) {
      q.kind = Kind::kText;
      q.written = std::string(v.substr(0, close + 1));
      return;
    }
  }
  q.kind = Kind::kNumber;
  v = drop_comment(v);
  if (v.size() >= 2 && v.front() == '<') {
    std::size_t close = v.find('>');
    if (close != std::string_view::npos) v = v.substr(1, close - 1);
  }
  q.written = std::string(trim(v));
}

// The first run of hexadecimal digits.
std::string_view digit_run(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && !is_hex_digit(static_cast<unsigned char>(s[b]))) ++b;
  std::size_t e = b;
  while (e < s.size() && is_hex_digit(static_cast<unsigned char>(s[e]))) ++e;
  return s.substr(b, e - b);
}

}  // namespace

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::kOption: return "option";
    case Kind::kNumber: return "number";
    case Kind::kText: return "text";
    case Kind::kNone: break;
  }
  return "none";
}

QuestionWords question_words(const ScriptReading& reading, std::size_t index) {
  QuestionWords q;
  const Question& at = reading[index];
  std::size_t pos = at.setup;
  std::string_view setup = next_line(reading.bytes(), pos);
  std::string_view text = after_equals(setup.substr(0, setup.find('\0')));
  if (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  q.text = std::string(drop_comment(text));
  q.token = reading.token(index);
  q.offset = reading.offset(index);
  // Each line of the Value line or option block, without its line end, up to its first NUL.
  auto lines = [&](auto&& take) {
    for_each_line(value_region(reading, index), [&](std::string_view, std::string_view whole) {
      std::size_t end = 0;
      const std::string_view line = next_line(whole, end);
      take(line.substr(0, line.find('\0')));
    });
  };
  switch (at.kind) {
    case ValueKind::kNone:
      break;
    case ValueKind::kOptions:
      q.kind = Kind::kOption;
      lines([&q](std::string_view line) {
        if (!begins(line, "/")) take_option(line, q);
      });
      break;
    default:
      lines([&q](std::string_view line) { take_value(line, q); });
      break;
  }
  return q;
}

std::string stamp_version(std::string_view script) {
  static constexpr std::string_view kStamp = "// BIOS_VERSION = ";
  std::size_t pos = 0;
  while (pos < script.size()) {
    std::string_view line = next_line(script, pos);
    if (begins(line, "Setup")) break;
    if (begins(line, kStamp)) return std::string(trim(line.substr(kStamp.size())));
  }
  return {};
}

const std::string* option_text(const QuestionWords& q, std::string_view code) {
  for (const OptionWords& o : q.options) {
    if (o.code == code) return &o.text;
  }
  return nullptr;
}

std::string shown_value(const QuestionWords& q, std::string_view value) {
  if (value == "?") return "?";
  switch (q.kind) {
    case Kind::kOption: {
      const std::string* text = option_text(q, value);
      std::string shown = text ? *text + " " : std::string();
      return shown + "[" + std::string(value) + "]";
    }
    case Kind::kNumber:
      if (!value.empty() && digit_run(q.written) == value) return q.written;
      break;
    case Kind::kText:
      if (!value.empty() && value.front() == '"') return q.written;
      break;
    case Kind::kNone:
      break;
  }
  return std::string(value);
}

namespace {

bool is_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    if (n == 0 || c < 0xC2 || c > 0xF4 || i + n >= bytes.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

}  // namespace

std::string to_utf8(std::string_view bytes) {
  const bool valid = is_utf8(bytes);
  if (valid) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 16);
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace nvram::diff

// The setup-script reader on arbitrary scripts under arbitrary names.
// Input: the script's file name, "\n%%\n", the script.
#include <cctype>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "script/reader.h"
#include "script/record.h"

namespace {

bool all_hex_digits(std::string_view s) {
  for (char c : s) {
    if (!nvram::is_hex_digit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The bytes between the quotes of a recorded text: printable, no record-line bracket or '/', and
// every '%' the start of two upper-case hexadecimal digits (or, in a text cut to its hash, of
// what is left of them at the cut).
bool is_escaped_text(std::string_view s, bool cut) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c > 0x7E || c == '"' || std::string_view("{}[]<>/").find(static_cast<char>(c)) !=
                                                   std::string_view::npos)
      return false;
    if (c != '%') continue;
    for (std::size_t j = i + 1; j <= i + 2; ++j) {
      if (j == s.size() && cut) return true;
      if (j >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[j])) ||
          std::islower(static_cast<unsigned char>(s[j])))
        return false;
    }
  }
  return true;
}

// A text value: the text with its quotes, escaped; or, past 63 characters, its first 54, '#' and
// eight upper-case hexadecimal digits.
bool is_text_field(std::string_view s) {
  if (s.size() > nvram::kFieldMax || s.size() < 2 || s.front() != '"') return false;
  if (s.back() == '"') return is_escaped_text(s.substr(1, s.size() - 2), false);
  if (s.size() != nvram::kFieldMax || s[54] != '#') return false;
  for (char c : s.substr(55)) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) || std::islower(static_cast<unsigned char>(c)))
      return false;
  }
  return is_escaped_text(s.substr(1, 53), true);
}

// A value field: "?" or hexadecimal digits (possibly none), at most 63.
bool is_value_field(std::string_view s) {
  return s == "?" || (s.size() <= nvram::kFieldMax && all_hex_digits(s));
}

// A key field: visible characters other than '/', at most 63.
bool is_key_field(std::string_view s) {
  if (s.size() > nvram::kFieldMax) return false;
  for (char c : s) {
    if (!nvram::is_visible(static_cast<unsigned char>(c)) || c == '/') return false;
  }
  return true;
}

// "{key},[default],<current>\r\n". The two values hold no bracket, so the separators are found
// from the right; the key may hold any visible character but '/', the separators included.
void check_record_line(std::string_view line) {
  FUZZ_CHECK(line.size() >= 10 && line.front() == '{');
  FUZZ_CHECK(line.substr(line.size() - 3) == ">\r\n");
  std::string_view body = line.substr(1, line.size() - 4);
  std::size_t current_at = body.rfind("],<");
  FUZZ_CHECK(current_at != std::string_view::npos);
  std::string_view current = body.substr(current_at + 3);
  FUZZ_CHECK(is_value_field(current) || is_text_field(current));
  body = body.substr(0, current_at);
  std::size_t default_at = body.rfind("},[");
  FUZZ_CHECK(default_at != std::string_view::npos);
  FUZZ_CHECK(is_value_field(body.substr(default_at + 3)));
  FUZZ_CHECK(is_key_field(body.substr(0, default_at)));
}

// Any name without '/' or NUL stays in the scratch directory.
std::string file_name(std::string name) {
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.size() > 200) name.resize(200);
  if (name.empty() || name == "." || name == "..") name = "setup.txt";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDir scratch;
  std::vector<std::string> parts = fuzz::split_input(data, size, 2);
  const std::string name = file_name(parts[0]);
  const std::string& script = parts[1];
  fuzz::write_file(name, script);

  const std::string record_name = nvram::record_file_name(name);
  FUZZ_CHECK(record_name.size() > 4 && record_name.substr(record_name.size() - 4) == ".ini");
  nvram::ScriptReading reading;
  nvram::File written;
  int status = nvram::process_script_convert(name, reading, written);
  FUZZ_CHECK(fuzz::read_file(name) == script);  // the script is never touched
  if (record_name == name) {
    FUZZ_CHECK(status == 3);  // the record file would be the script itself
    return 0;
  }
  FUZZ_CHECK(status == 0);
  const int count = reading.closed_count();

  std::size_t setup_lines = 0;
  for (std::size_t at = 0; at < script.size(); at = script.find('\n', at) + 1) {
    setup_lines += script.compare(at, 5, "Setup") == 0;
    if (script.find('\n', at) == std::string::npos) break;
  }

  bool exists = false;
  std::string records = fuzz::read_file(record_name, &exists);
  FUZZ_CHECK(exists);
  std::vector<std::string_view> lines = fuzz::lines_of(records);
  // Every closed record is counted; one more may be written at the end of the script.
  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(lines.size() == static_cast<std::size_t>(count) ||
             lines.size() == static_cast<std::size_t>(count) + 1);
  FUZZ_CHECK(lines.size() <= setup_lines);
  for (std::string_view line : lines) check_record_line(line);

  // The questions are the record file's lines, each begins at a Setup line of the script, and its
  // Value line or option block lies after it, in order.
  FUZZ_CHECK(reading.size() == lines.size());
  std::uint64_t last = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    FUZZ_CHECK(reading.record_line(i) == lines[i]);
    const nvram::Question& q = reading[i];
    FUZZ_CHECK(q.setup < script.size() && script.compare(q.setup, 5, "Setup") == 0);
    FUZZ_CHECK(q.setup == 0 || script[q.setup - 1] == '\n');
    FUZZ_CHECK(q.setup >= last);
    if (q.kind == nvram::ValueKind::kNone) continue;
    FUZZ_CHECK(q.setup < q.value_begin && q.value_begin < q.value_end && q.value_end <= script.size());
    FUZZ_CHECK(script.compare(q.value_begin, 5, q.kind == nvram::ValueKind::kOptions ? "Optio" : "Value") == 0);
    last = q.value_end;
  }
  return 0;
}

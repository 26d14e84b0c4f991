// The setup-script reader on arbitrary scripts under arbitrary names.
// Input: the script's file name, "\n%%\n", the script.
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
  FUZZ_CHECK(is_value_field(body.substr(current_at + 3)));
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
  int count = -1;
  int status = nvram::process_script_convert(name, count);
  FUZZ_CHECK(fuzz::read_file(name) == script);  // the script is never touched
  if (record_name == name) {
    FUZZ_CHECK(status == 3 && count == -1);  // the record file would be the script itself
    return 0;
  }
  FUZZ_CHECK(status == 0);

  std::vector<std::string> pieces = fuzz::line_pieces(script);
  std::size_t setup_lines = 0;
  for (const std::string& piece : pieces) setup_lines += piece.compare(0, 5, "Setup") == 0;

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
  return 0;
}

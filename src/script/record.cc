#include "script/record.h"

namespace nvram {

std::string record_line(std::string_view key, std::string_view default_value,
                        std::string_view current_value) {
  std::string line;
  line.reserve(key.size() + default_value.size() + current_value.size() + 10);
  line += '{';
  line += key;
  line += "},[";
  line += default_value;
  line += "],<";
  line += current_value;
  line += ">\r\n";
  return line;
}

std::string question_key(std::string_view setup_line) {
  std::string key;
  std::size_t eq = setup_line.find('=');
  if (eq == std::string_view::npos) return key;
  for (std::size_t i = eq + 1; i < setup_line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(setup_line[i]);
    if (c == '\r' || c == '\n' || c == '/') break;
    if (!is_visible(c)) continue;
    if (key.size() == kFieldMax) break;
    key += static_cast<char>(c);
  }
  return key;
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

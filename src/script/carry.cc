#include "script/carry.h"

#include <utility>

#include "script/record.h"

namespace nvram {

bool option_block_takes(const std::string& value, const OptionBlock& block) {
  std::string pattern;
  pattern.reserve(value.size() + 2);
  pattern.append(1, '[').append(value).append(1, ']');
  for (const std::string& line : block.lines) {
    if (line.find(pattern) != std::string::npos) return true;
  }
  return false;
}

namespace {

void index_difference_line(std::string_view line, Differences& differences) {
  std::string key, default_value, current_value;
  std::string* field = nullptr;
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/') {
      differences.add(key, std::move(current_value));
      return;
    }
    if (c == '}' || c == ']' || c == '>') {
      field = nullptr;
      continue;
    }
    if (field && field->size() < kFieldMax) *field += c;
    if (c == '{') field = &key;
    else if (c == '[') field = &default_value;
    else if (c == '<') field = &current_value;
  }
}

}  // namespace

ValueLineShape value_line_shape(std::string_view line) {
  const std::string_view text = line_text(line);
  std::size_t at = text.find('=');
  if (at == std::string_view::npos) return ValueLineShape::kBare;
  at = text.find_first_not_of(" \t", at + 1);
  if (at == std::string_view::npos) return ValueLineShape::kBare;
  if (text[at] == '<') return ValueLineShape::kAngled;
  if (text[at] == '"' && text.find('"', at + 1) != std::string_view::npos) {
    return ValueLineShape::kText;
  }
  return ValueLineShape::kBare;
}

bool value_fits(std::string_view value, ValueLineShape shape) {
  if (shape == ValueLineShape::kText) {
    return value.size() >= 2 && value.front() == '"' && value.back() == '"';
  }
  if (value.empty()) return false;
  for (char c : value) {
    if (!is_hex_digit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

void Differences::add(std::string_view key, std::string value, bool held) {
  const std::uint32_t id = keys_.add(key);
  if (id == by_key_.size()) by_key_.emplace_back();
  std::vector<std::uint32_t>& of_key = by_key_[id].lines;
  lines_.push_back(Line{id, static_cast<std::uint32_t>(of_key.size()), std::move(value), held});
  of_key.push_back(static_cast<std::uint32_t>(lines_.size() - 1));
}

std::size_t Differences::take(std::string_view key) {
  const std::uint32_t id = keys_.find(key);
  if (id == KeyTable::kMissing) return kNone;
  KeyLines& k = by_key_[id];
  if (k.taken == k.lines.size()) return kNone;
  return k.lines[k.taken++];
}

void Differences::mark_held(const std::vector<std::string>& record_keys,
                            const std::vector<std::string>& record_values) {
  std::vector<std::size_t> seen(by_key_.size(), 0);  // records of each key met so far
  for (std::size_t r = 0; r < record_keys.size() && r < record_values.size(); ++r) {
    const std::uint32_t id = keys_.find(record_keys[r]);
    if (id == KeyTable::kMissing) continue;
    const std::size_t n = seen[id]++;
    if (n >= by_key_[id].lines.size()) continue;
    Line& line = lines_[by_key_[id].lines[n]];
    line.held = line.value == record_values[r];
  }
}

bool read_differences(std::FILE* in, Differences& differences) {
  LineSource lines(in);
  std::string_view piece;
  while (lines.next(piece)) index_difference_line(piece, differences);
  return std::ferror(in) == 0;
}

}  // namespace nvram

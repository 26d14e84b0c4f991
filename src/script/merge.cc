#include "script/merge.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "script/file.h"
#include "script/key_table.h"
#include "script/line_source.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {
namespace {

// The difference lines of each question key, in file order. A key's lines are applied in order,
// so the used ones are always the first `used` of them.
struct KeyValues {
  std::vector<std::string> values;
  std::size_t used = 0;
};

struct DifferenceIndex {
  KeyTable keys;
  std::vector<KeyValues> values;  // by key number

  void add(std::string_view key, std::string value) {
    const std::uint32_t id = keys.add(key);
    if (id == values.size()) values.emplace_back();
    values[id].values.push_back(std::move(value));
  }
};

// Takes a difference line apart: CR, LF or '/' completes the line; '}', ']' and '>' close the open
// field; any other byte is stored in the open field (if any, and while it holds fewer than 63) and
// then '{', '[' and '<' open the key, the default value and the current value. A line that is
// never completed (a last line without line end, the first pieces of an overlong line) takes no
// part. The default value plays no part in the merge and is not kept.
void index_difference_line(std::string_view line, DifferenceIndex& index) {
  std::string key, default_value, current_value;
  std::string* field = nullptr;
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/') {
      index.add(key, std::move(current_value));
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

void load_differences(std::FILE* in, DifferenceIndex& index) {
  LineSource lines(in);
  std::string_view piece;
  while (lines.next(piece)) index_difference_line(piece, index);
}

// The value of the first unused difference line of the key, now used; nullptr when none is left.
const std::string* apply_difference(std::string_view key, DifferenceIndex& index) {
  const std::uint32_t id = index.keys.find(key);
  if (id == KeyTable::kMissing) return nullptr;
  KeyValues& kv = index.values[id];
  if (kv.used == kv.values.size()) return nullptr;
  return &kv.values[kv.used++];
}

// An empty line, or one byte of text, with its line end.
bool is_short(std::string_view line) { return line.size() <= 3; }

// One line of an option block, given as its text up to its first NUL (which the tests read) and
// as the whole piece (which is written). The marker position is the byte before the first '['. In
// the line that holds "[value]" it becomes '*' (an '=' there first moves left over the blank or
// tab before it); where that cannot be done in place, a '*' is inserted before the '['. In every
// other line a '*' at the marker position becomes a blank. Nothing else of the piece changes.
void write_option_line(std::string_view line, std::string_view whole, const std::string& value,
                       OutFile& out) {
  std::size_t bracket = line.find('[');
  if (bracket == std::string_view::npos) {
    out.write(whole);
    return;
  }
  std::string pattern = "[" + value + "]";
  bool selected = line.find(pattern) != std::string_view::npos;
  std::string text(whole);
  if (!selected) {
    if (bracket > 0 && text[bracket - 1] == '*') text[bracket - 1] = ' ';
    out.write(text);
    return;
  }
  if (bracket > 0 && text[bracket - 1] != '=') {
    text[bracket - 1] = '*';
  } else if (bracket > 1 && (text[bracket - 2] == ' ' || text[bracket - 2] == '\t')) {
    text[bracket - 2] = '=';
    text[bracket - 1] = '*';
  } else {
    text.insert(bracket, 1, '*');  // no marker position, or no blank for the '=' to move over
  }
  out.write(text);
}

void print_not_carried(const std::string& key, const std::string& value) {
  std::printf("Not carried: %s = %s\r\n", key.c_str(), value.c_str());
}

// A Value line takes the value in its own shape: everything up to its first '=' (looked for
// before the line end) is kept, then the number bare or between '<' and '>', or the text with its
// escapes undone, and a line feed. A bare line without such an '=' keeps the whole line and the
// value follows on a line of its own. A value that does not fit the line leaves it whole and
// returns false.
bool write_value_line(std::string_view line, std::string_view whole, const std::string& value,
                      OutFile& out) {
  const ValueLineShape shape = value_line_shape(line);
  if (!value_fits(value, shape)) {
    out.write(whole);
    return false;
  }
  std::size_t equals = line_text(line).find('=');
  out.write(equals == std::string_view::npos ? whole : line.substr(0, equals + 1));
  switch (shape) {
    case ValueLineShape::kBare:
      out.write(value);
      break;
    case ValueLineShape::kAngled:
      out.write("<");
      out.write(value);
      out.write(">");
      break;
    case ValueLineShape::kText:
      out.write(unescape_text_value(value));
      break;
  }
  out.write("\n");
  return true;
}

// An option block held back until its end, so that it is rewritten only when one of its lines
// can take the value.
struct OptionBlock {
  std::vector<std::string> lines;   // each up to its first NUL
  std::vector<std::string> pieces;  // whole

  void add(std::string_view line, std::string_view whole) {
    lines.emplace_back(line);
    pieces.emplace_back(whole);
  }
  bool empty() const { return pieces.empty(); }
};

// Writes the block, rewritten when it can take the value and unchanged otherwise, and empties it.
void write_option_block(OptionBlock& block, const std::string& key, const std::string& value,
                        OutFile& out) {
  const bool takes = option_block_takes(value, block.lines);
  for (std::size_t i = 0; i < block.pieces.size(); ++i) {
    if (takes) write_option_line(block.lines[i], block.pieces[i], value, out);
    else out.write(block.pieces[i]);
  }
  if (!takes) print_not_carried(key, value);
  block.lines.clear();
  block.pieces.clear();
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

bool option_block_takes(std::string_view value, const std::vector<std::string>& block_lines) {
  std::string pattern;
  pattern.reserve(value.size() + 2);
  pattern.append(1, '[').append(value).append(1, ']');
  for (const std::string& line : block_lines) {
    if (!is_short(line) && line.find(pattern) != std::string::npos) return true;
  }
  return false;
}

int use_different_create_merged(const std::string& script, const std::string& difference_file,
                                const std::string& output) {
  File in(script, "rb");
  File differences(difference_file, "rb");
  OutFile out(output, "wb");
  if (!in || !differences || !out) {
    std::fputs("can't open file\n", stdout);
    return kMissingFile;
  }

  DifferenceIndex index;
  load_differences(differences.get(), index);
  if (std::ferror(differences.get())) {
    print_cannot_read(difference_file);
    return kMissingFile;
  }

  enum class Phase { kCopy, kRewrite, kOptionBlock };
  Phase phase = Phase::kCopy;
  std::string matched_key;
  std::string matched;
  OptionBlock block;
  LineSource lines(in.get());
  std::string_view line;  // up to its first NUL: what the tests read
  while (lines.next(line)) {
    const std::string_view whole = lines.whole();  // what is written
    switch (phase) {
      case Phase::kCopy:
        out.write(whole);
        if (starts_with(line, "Setup")) {
          char key[kFieldMax];
          const std::string_view key_view(key, written_question_key(line, key));
          if (const std::string* value = apply_difference(key_view, index)) {
            matched_key = key_view;
            matched = *value;
            phase = Phase::kRewrite;
          }
        }
        break;
      case Phase::kRewrite:
        if (starts_with(line, "Optio")) {
          block.add(line, whole);
          phase = Phase::kOptionBlock;
        } else if (starts_with(line, "Value")) {
          if (!write_value_line(line, whole, matched, out)) print_not_carried(matched_key, matched);
        } else {
          out.write(whole);
          if (is_short(line)) phase = Phase::kCopy;
        }
        break;
      case Phase::kOptionBlock:
        if (is_short(line)) {
          write_option_block(block, matched_key, matched, out);
          out.write(whole);
          phase = Phase::kCopy;
        } else {
          block.add(line, whole);
        }
        break;
    }
  }
  if (!block.empty()) write_option_block(block, matched_key, matched, out);
  // A script cut short by a read error must not pass for the whole merged script.
  const bool read_failed = std::ferror(in.get()) != 0;
  if (!out.finish()) return kMissingFile;
  if (read_failed) {
    print_cannot_read(script);
    return kMissingFile;
  }
  return kOk;
}

}  // namespace nvram

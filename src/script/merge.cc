#include "script/merge.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "script/carry.h"
#include "script/file.h"
#include "script/key_table.h"
#include "script/line_source.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {
namespace {

// One line of an option block, given as its text up to its first NUL (which the tests read) and
// as the whole line (which is written). The marker position is the byte before the first '['. In
// the line that holds "[value]" it becomes '*' (an '=' there first moves left over the blank or
// tab before it); where that cannot be done in place, a '*' is inserted before the '['. In every
// other line a '*' at the marker position becomes a blank. Nothing else of the line changes.
void write_option_line(std::string_view line, std::string_view whole, std::string_view pattern,
                       OutFile& out) {
  const std::size_t bracket = line.find('[');
  if (bracket == std::string_view::npos) {
    out.write_in_place(whole);
    return;
  }
  const bool selected = line.find(pattern) != std::string_view::npos;
  const char before = bracket > 0 ? whole[bracket - 1] : '\0';
  // The line with `text` in place of its bytes [from, bracket); the rest stays where it is.
  auto replace = [&](std::size_t from, std::string_view text) {
    out.write_in_place(whole.substr(0, from));
    out.write(text);
    out.write_in_place(whole.substr(bracket));
  };
  if (selected == (before == '*')) {
    out.write_in_place(whole);  // the marker stands as it should
  } else if (!selected) {
    replace(bracket - 1, " ");
  } else if (bracket > 0 && before != '=') {
    replace(bracket - 1, "*");
  } else if (bracket > 1 && (whole[bracket - 2] == ' ' || whole[bracket - 2] == '\t')) {
    replace(bracket - 2, "=*");
  } else {
    replace(bracket, "*");  // no marker position, or no blank for the '=' to move over
  }
}

// A Value line takes the value in its own kind: everything up to its first '=' (looked for
// before the line end) is kept, then the number bare or between '<' and '>', or the text with its
// escapes undone, and a line feed. A bare line without such an '=' keeps the whole line and the
// value follows on a line of its own.
void write_value_line(std::string_view line, std::string_view whole, ValueKind kind,
                      const std::string& value, OutFile& out) {
  const std::size_t equals = read_value_line(line).equals;
  out.write_in_place(equals == std::string_view::npos ? whole : line.substr(0, equals + 1));
  switch (kind) {
    case ValueKind::kAngled:
      out.write("<");
      out.write(value);
      out.write(">");
      break;
    case ValueKind::kText:
      out.write(unescape_text_value(value));
      break;
    default:
      out.write(value);
      break;
  }
  out.write("\n");
}

// Writes the merged script and returns the differences refused, in script order. `differences`
// are in script order.
std::vector<std::size_t> write_merged(const ScriptReading& reading,
                                      const std::vector<Difference>& differences, OutFile& out) {
  std::vector<std::size_t> refused;
  const std::string_view bytes = reading.bytes();
  std::size_t copied = 0;  // bytes of the script written so far
  std::string pattern;
  for (std::size_t i = 0; i < differences.size(); ++i) {
    const Difference& d = differences[i];
    const Carry carry = carry_into(reading, d.question, d.value, d.from);
    if (!carry.carried()) {
      refused.push_back(i);
      continue;
    }
    const Question& q = reading[d.question];
    out.write_in_place(bytes.substr(copied, q.value_begin - copied));
    const std::string_view region = value_region(reading, d.question);
    if (carry.kind == ValueKind::kOptions) {
      pattern.assign(1, '[').append(d.value).append(1, ']');
      for_each_line(region, [&](std::string_view text, std::string_view whole) {
        write_option_line(text, whole, pattern, out);
      });
    } else {
      write_value_line(region.substr(0, region.find('\0')), region, carry.kind, d.value, out);
    }
    copied = q.value_end;
  }
  out.write_in_place(bytes.substr(copied));
  return refused;
}

void print_not_carried(std::string_view key, std::string_view value) {
  std::printf("Not carried: %.*s = %.*s\r\n", static_cast<int>(key.size()), key.data(),
              static_cast<int>(value.size()), value.data());
}

// Merges and names the refused differences; the lines of a difference file that no question
// took (`untaken`, by key and value) are named after them.
int merge(const ScriptReading& reading, std::vector<Difference> differences, OutFile& out,
          const std::vector<NotCarried>& untaken) {
  // An update hands them over in script order already.
  auto earlier = [](const Difference& a, const Difference& b) { return a.question < b.question; };
  if (!std::is_sorted(differences.begin(), differences.end(), earlier))
    std::stable_sort(differences.begin(), differences.end(), earlier);
  const std::vector<std::size_t> refused = write_merged(reading, differences, out);
  if (!out.finish()) return kMissingFile;
  for (std::size_t i : refused) {
    const Difference& d = differences[i];
    // A question that already holds the value loses nothing.
    if (!values_differ(d.value, d.from, reading.current_value(d.question), reading[d.question].kind))
      continue;
    print_not_carried(reading.key(d.question), d.value);
  }
  for (const NotCarried& n : untaken) print_not_carried(n.key, n.value);
  return kOk;
}

// Takes a line of a difference file apart by the merge's field rule; false for a line never
// completed.
bool split_difference_line(std::string_view line, std::string& key, std::string& value) {
  std::string default_value;
  key.clear();
  value.clear();
  std::string* field = nullptr;
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/') return true;
    if (c == '}' || c == ']' || c == '>') {
      field = nullptr;
      continue;
    }
    if (field && field->size() < kFieldMax) *field += c;
    if (c == '{') field = &key;
    else if (c == '[') field = &default_value;
    else if (c == '<') field = &value;
  }
  return false;
}

}  // namespace

int use_different_create_merged(const ScriptReading& reading, std::vector<Difference> differences,
                                const std::string& output, const std::vector<NotCarried>& lost) {
  OutFile out(output, create_anew(output));
  if (!out) {
    std::fputs("can't open file\n", stdout);
    return kMissingFile;
  }
  return merge(reading, std::move(differences), out, lost);
}

int use_different_create_merged(const std::string& script, const std::string& difference_file,
                                const std::string& output) {
  FileBytes script_bytes;
  const FileBytes::Result script_read = script_bytes.read(script);
  File difference_lines(difference_file, "rb");
  OutFile out(output, create_anew(output));
  if (script_read == FileBytes::kCannotOpen || !difference_lines || !out) {
    std::fputs("can't open file\n", stdout);
    return kMissingFile;
  }
  if (script_read == FileBytes::kCannotRead) {
    print_cannot_read(script);
    return kMissingFile;
  }

  // The n-th line of a key goes to the n-th question of that key.
  ScriptReading reading;
  reading.read_bytes(std::move(script_bytes));
  KeyTable keys;
  std::vector<std::vector<std::size_t>> questions_of;  // by key number
  for (std::size_t i = 0; i < reading.size(); ++i) {
    const std::uint32_t id = keys.add(reading.key(i), reading[i].key_hash);
    if (id == questions_of.size()) questions_of.emplace_back();
    questions_of[id].push_back(i);
  }
  std::vector<std::size_t> taken(questions_of.size(), 0);
  std::vector<Difference> differences;
  std::vector<NotCarried> untaken;
  LineSource lines(difference_lines.get());
  std::string_view piece;
  std::string key, value;
  while (lines.next(piece)) {
    if (!split_difference_line(piece, key, value)) continue;
    const std::uint32_t id = keys.find(key);
    if (id != KeyTable::kMissing && taken[id] < questions_of[id].size()) {
      differences.push_back(Difference{questions_of[id][taken[id]++], value});
    } else {
      untaken.push_back(NotCarried{key, value});
    }
  }
  if (std::ferror(difference_lines.get())) {
    print_cannot_read(difference_file);
    return kMissingFile;
  }
  return merge(reading, std::move(differences), out, untaken);
}

}  // namespace nvram

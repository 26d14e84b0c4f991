#include "script/merge.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "script/carry.h"
#include "script/file.h"
#include "script/line_source.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/record_compare.h"
#include "script/status.h"

namespace nvram {
namespace {

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

// A Value line takes the value in its own shape: everything up to its first '=' (looked for
// before the line end) is kept, then the number bare or between '<' and '>', or the text with its
// escapes undone, and a line feed. A bare line without such an '=' keeps the whole line and the
// value follows on a line of its own. A value that does not fit the line leaves it whole and
// is written whole.
void write_value_line(std::string_view line, std::string_view whole, const std::string& value,
                      bool fits, OutFile& out) {
  if (!fits) {
    out.write(whole);
    return;
  }
  const ValueLineShape shape = value_line_shape(line);
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
}

// The merge's side of the carry walk: writes every piece, rewritten where the walk says a value is
// taken, and keeps the refusals in order for "Not carried".
class MergeWriter : public CarryVisitor {
 public:
  explicit MergeWriter(OutFile& out) : out_(out) {}

  void pass(std::string_view whole) { out_.write(whole); }
  void value_line(std::string_view line, std::string_view whole, const std::string& value,
                  bool fits) {
    write_value_line(line, whole, value, fits, out_);
  }
  void option_block(const OptionBlock& block, const std::string& value, bool takes) {
    for (std::size_t i = 0; i < block.pieces.size(); ++i) {
      if (takes) write_option_line(block.lines[i], block.pieces[i], value, out_);
      else out_.write(block.pieces[i]);
    }
  }
  void refused(const Carry& carry, Refusal) { refused_.push_back(carry.line); }

  // The difference line of each refusal, in the order met.
  const std::vector<std::size_t>& refusals() const { return refused_; }

 private:
  OutFile& out_;
  std::vector<std::size_t> refused_;
};

// Names every refused difference line, "Not carried: %s = %s\r\n", unless the question that
// the line was made for already holds its value. Which question that is, is read from the script's
// records, once, and only when something was refused.
void name_refusals(std::FILE* script, const std::vector<std::size_t>& refusals,
                   Differences& differences) {
  if (refusals.empty()) return;
  std::vector<ScriptRecord> records;
  if (std::fseek(script, 0, SEEK_SET) == 0 && scan_script_records(script, records)) {
    std::vector<std::string> keys, values;
    keys.reserve(records.size());
    values.reserve(records.size());
    for (const ScriptRecord& r : records) {
      RecordFields fields = split_record(r.line);
      keys.push_back(std::move(fields.key));
      values.push_back(std::move(fields.current_value));
    }
    differences.mark_held(keys, values);
  }
  for (std::size_t line : refusals) {
    if (differences.held(line)) continue;
    const std::string key(differences.key(line));
    std::printf("Not carried: %s = %s\r\n", key.c_str(), differences.value(line).c_str());
  }
}

}  // namespace

int use_different_create_merged(const std::string& script, const std::string& difference_file,
                                const std::string& output) {
  File in(script, "rb");
  File difference_lines(difference_file, "rb");
  OutFile out(output, create_anew(output));
  if (!in || !difference_lines || !out) {
    std::fputs("can't open file\n", stdout);
    return kMissingFile;
  }

  Differences differences;
  if (!read_differences(difference_lines.get(), differences)) {
    print_cannot_read(difference_file);
    return kMissingFile;
  }
  MergeWriter writer(out);
  LineSource lines(in.get());
  walk_carry(lines, differences, writer);
  // A script cut short by a read error must not pass for the whole merged script.
  const bool read_failed = std::ferror(in.get()) != 0;
  if (!out.finish()) return kMissingFile;
  if (read_failed) {
    print_cannot_read(script);
    return kMissingFile;
  }
  name_refusals(in.get(), writer.refusals(), differences);
  return kOk;
}

}  // namespace nvram


#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "script/key_table.h"
#include "script/line_source.h"
#include "script/record.h"

// How the settings of a difference file reach the questions of a setup script: the one walk that
// both the merge (which writes merged.txt from it) and nvram-diff (which reports from it) follow.
namespace nvram {

// The shape of a Value line's value, read from the first byte after the line's first '=' (looked
// for before its first CR or LF) that is not a blank or tab: '<' an angled number
// ("Value\t=<4500>"), '"' with a second '"' before the line end a text ("Value =\"INT33D5\""),
// anything else, or no '=', a bare value ("Value =05 // Seconds").
enum class ValueLineShape { kBare, kAngled, kText };
ValueLineShape value_line_shape(std::string_view value_line);

// Whether a Value line of that shape can take the value: a number (one or more hexadecimal
// digits) into a bare or angled line, a text (a value that begins and ends with '"') into a text
// line. Everything else (an empty value, "?", a text cut to its hash, a text into a number or a
// number into a text) does not fit.
bool value_fits(std::string_view value, ValueLineShape shape);

// The lines of a difference file, each a question key and the value to carry, handed out to the
// Setup lines of that key in file order, each line at most once.
class Differences {
 public:
  static constexpr std::size_t kNone = SIZE_MAX;

  // Adds the next line. `held`: the question that the line was made for already holds the value
  // (a copy of a repeated question listed with its own value), so leaving it is no loss.
  void add(std::string_view key, std::string value, bool held = false);

  std::size_t size() const { return lines_.size(); }
  std::string_view key(std::size_t line) const { return keys_.key(lines_[line].key); }
  const std::string& value(std::size_t line) const { return lines_[line].value; }
  bool held(std::size_t line) const { return lines_[line].held; }

  // The first line of the key not handed out yet, now handed out; kNone when none is left.
  std::size_t take(std::string_view key);
  bool taken(std::size_t line) const { return lines_[line].nth < by_key_[lines_[line].key].taken; }

  // Marks the lines whose question already holds their value. The n-th line of a key was made for
  // the n-th question of that key in the script's records; `record_keys` and `record_values` are
  // those records' keys and current values, in script order.
  void mark_held(const std::vector<std::string>& record_keys,
                 const std::vector<std::string>& record_values);

 private:
  struct Line {
    std::uint32_t key;
    std::uint32_t nth;  // the how-manieth line of its key, from 0
    std::string value;
    bool held;
  };
  struct KeyLines {
    std::vector<std::uint32_t> lines;
    std::size_t taken = 0;
  };
  KeyTable keys_;
  std::vector<KeyLines> by_key_;  // by key number
  std::vector<Line> lines_;
};

// Reads the lines of a difference file with the merge's field parser: CR, LF or '/' completes a
// line; '}', ']' and '>' close the open field; any other byte is stored in the open field (if any,
// and while it holds fewer than 63) and then '{', '[' and '<' open the key, the default value and
// the current value. A line never completed (a last line without line end, the first pieces of an
// overlong line) takes no part. Returns false when the file cannot be read to its end.
bool read_differences(std::FILE* in, Differences& differences);

// Why a question does not take the value of its difference line.
enum class Refusal {
  kNone,
  kValueLine,      // a Value line of another shape (Carry::shape)
  kOptionBlock,    // an option block without "[value]"
  kNothingToTake,  // the question has no Value line or option block before its short line
  kNoSetupLine,    // no Setup line took the difference line
};

// What became of one difference line.
struct Carry {
  std::size_t line = 0;            // in the difference file
  std::uint64_t setup_offset = 0;  // of the Setup line that took it (not for kNoSetupLine)
  std::size_t taken = 0;           // Value lines and option blocks that took the value
  Refusal refusal = Refusal::kNone;  // the first refusal met
  ValueLineShape shape = ValueLineShape::kBare;  // of the Value line, for kValueLine
  bool carried() const { return taken > 0 && refusal == Refusal::kNone; }
};

// An option block, held back until its end: from the Options line to the line before its short
// line.
struct OptionBlock {
  std::vector<std::string> lines;   // each up to its first NUL: what the tests read
  std::vector<std::string> pieces;  // whole: what is written
};

// Whether an option block takes the value: "[value]" occurs in one of its lines.
bool option_block_takes(const std::string& value, const OptionBlock& block);

// What the walk tells, in script order. A visitor derives from this and hides the calls it wants;
// the walk is a template over the visitor, so that passing a piece costs no indirect call.
class CarryVisitor {
 public:
  // A piece of the script that no value is written into.
  void pass(std::string_view whole) { (void)whole; }
  // A Value line of a question that took a difference line, and whether the value fits it.
  void value_line(std::string_view line, std::string_view whole, const std::string& value,
                  bool fits) {
    (void)line, (void)whole, (void)value, (void)fits;
  }
  // An option block of such a question, and whether it takes the value.
  void option_block(const OptionBlock& block, const std::string& value, bool takes) {
    (void)block, (void)value, (void)takes;
  }
  // A refusal as it is met (a Value line or option block), or at the end of a question that took
  // nothing, or, after the script's end, for each line that no Setup line took.
  void refused(const Carry& carry, Refusal refusal) { (void)carry, (void)refusal; }
  // A question that took a difference line, after its last line; after the script's end, each
  // line that no Setup line took.
  void done(const Carry& carry) { (void)carry; }
};

// Walks the script's pieces. A Setup line (its key by written_question_key()) takes the first line
// of its key not taken yet; until the question's first short line (LineSource::is_short()) each of
// its Value lines takes the value when it fits the line's shape, and its first option block (from
// the Options line to its short line) takes it when "[value]" occurs in one of its lines. The
// rewrite ends at the short line, or at the end of the option block. A read error ends the walk
// like the end of the script; the caller tells the two apart.
template <class Visitor>
void walk_carry(LineSource& lines, Differences& differences, Visitor& visitor) {
  enum class Phase { kCopy, kRewrite, kOptionBlock };
  Phase phase = Phase::kCopy;
  Carry carry;
  std::string value;
  OptionBlock block;
  auto refuse = [&visitor](Carry& c, Refusal refusal) {
    if (c.refusal == Refusal::kNone) c.refusal = refusal;
    visitor.refused(c, refusal);
  };
  // The question's rewrite ends: its option block is judged and the question is reported.
  auto end_question = [&]() {
    if (!block.pieces.empty()) {
      const bool takes = option_block_takes(value, block);
      visitor.option_block(block, value, takes);
      if (takes) ++carry.taken;
      else refuse(carry, Refusal::kOptionBlock);
      block.lines.clear();
      block.pieces.clear();
    }
    if (carry.taken == 0 && carry.refusal == Refusal::kNone) {
      refuse(carry, Refusal::kNothingToTake);
    }
    visitor.done(carry);
    phase = Phase::kCopy;
  };

  std::string_view line;  // up to its first NUL: what the tests read
  while (lines.next(line)) {
    const std::string_view whole = lines.whole();
    switch (phase) {
      case Phase::kCopy:
        visitor.pass(whole);
        if (starts_with(line, "Setup")) {
          char key[kFieldMax];
          const std::size_t taken =
              differences.take(std::string_view(key, written_question_key(line, key)));
          if (taken != Differences::kNone) {
            carry = Carry{};
            carry.line = taken;
            carry.setup_offset = lines.offset();
            value = differences.value(taken);
            phase = Phase::kRewrite;
          }
        }
        break;
      case Phase::kRewrite:
        if (starts_with(line, "Optio")) {
          block.lines.emplace_back(line);
          block.pieces.emplace_back(whole);
          phase = Phase::kOptionBlock;
        } else if (starts_with(line, "Value")) {
          const ValueLineShape shape = value_line_shape(line);
          const bool fits = value_fits(value, shape);
          visitor.value_line(line, whole, value, fits);
          if (fits) {
            ++carry.taken;
          } else {
            if (carry.refusal == Refusal::kNone) carry.shape = shape;
            refuse(carry, Refusal::kValueLine);
          }
        } else {
          visitor.pass(whole);
          if (lines.is_short()) end_question();
        }
        break;
      case Phase::kOptionBlock:
        if (lines.is_short()) {
          end_question();
          visitor.pass(whole);
        } else {
          block.lines.emplace_back(line);
          block.pieces.emplace_back(whole);
        }
        break;
    }
  }
  if (phase != Phase::kCopy) end_question();

  // The lines that no Setup line took, in file order.
  for (std::size_t i = 0; i < differences.size(); ++i) {
    if (differences.taken(i)) continue;
    Carry none;
    none.line = i;
    refuse(none, Refusal::kNoSetupLine);
    visitor.done(none);
  }
}

}  // namespace nvram

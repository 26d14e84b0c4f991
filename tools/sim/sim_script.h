#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The simulator's own view of a setup script: the lines as they stand (so that an unchanged
// script is written back byte for byte) and, for each question, where its name, its options and
// its value lie. The reader is lenient: it takes CR LF, LF or CR CR LF line ends, tabs or blanks
// around '=', a '*' anywhere before an option's '[', blank and "//" lines inside a question, and
// any bytes in names and texts.
namespace sim {

struct Option {
  std::size_t line = 0;     // index into Script::lines
  std::size_t bracket = 0;  // offset of the option's '[' in that line
  std::size_t star = 0;     // offset of the '*' that marks it, when `starred`
  bool starred = false;
  std::string code;         // the text between '[' and ']'
};

struct Question {
  std::string name;    // text after the '=' of "Setup Question", blanks trimmed
  std::string token;   // first word after "Token =", empty when there is no Token line
  std::string offset;  // first word after "Offset =", empty when there is no Offset line
  bool has_options = false;  // an Options line was seen (its list may be empty)
  std::vector<Option> options;
  bool has_value = false;
  std::size_t value_line = 0, value_begin = 0, value_end = 0;  // the value's bytes in its line
  std::string value;   // e.g. 1A, <40>, "text"

  // The last starred option, or nullptr when no option is starred.
  const Option* selected() const;
};

struct Script {
  std::vector<std::string> lines;  // every line with its own line end
  std::vector<Question> questions;

  std::string text() const;
};

Script read_script(std::string_view text);

// True when two option codes or tokens name the same thing: equal as hexadecimal numbers, or
// equal as texts (letter case ignored) when either is not a hexadecimal number.
bool same_code(std::string_view a, std::string_view b);

// Gives `machine` the values that `file` holds for the questions they share. A question of
// `file` is paired with the first unpaired question of `machine` with the same name whose Token
// and Offset agree where both scripts have them; failing that, with the first unpaired one of
// the same Token and Offset. Returns false, leaving `machine` unchanged and
// `error` set, when `file` holds no question or one of its values does not fit its question.
// `changed` counts the questions whose value changed.
bool import_values(const Script& file, Script& machine, int& changed, std::string& error);

}  // namespace sim

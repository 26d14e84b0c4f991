#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The words of a setup script, for people: a question's text as written, its Token and Offset,
// its option texts and the way its Value line writes the value, and the script's BIOS version
// stamp. The record rules (question key, current value) are not read here; the records come from
// the script reader, and each is dressed in the words of the question its Setup line opens.
namespace nvram::diff {

enum class Kind { kNone, kOption, kNumber, kText };

const char* kind_name(Kind kind);

struct OptionWords {
  std::string code;  // between the brackets
  std::string text;  // after the ']', comment and trailing blanks dropped
};

struct QuestionWords {
  std::string text;    // after the Setup line's first '=' (one separating blank dropped)
  std::string token;   // the visible characters of the Token line's value, or empty
  std::string offset;  // likewise for the Offset line
  Kind kind = Kind::kNone;
  std::vector<OptionWords> options;
  std::string written;  // a Value line's value as written: angles dropped, quotes kept
};

// Reads the question whose Setup line starts at `setup_offset` of `script`: its lines up to the
// first blank line (a line of one byte, starting with CR or LF, or without a visible character).
// Lines that begin with '/' are comments and pass.
QuestionWords question_words(std::string_view script, std::size_t setup_offset);

// The version of the first "// BIOS_VERSION = " line before the first Setup line, blanks around
// it dropped; empty when there is none.
std::string stamp_version(std::string_view script);

// The text of the option `code` (the first such option), or nullptr.
const std::string* option_text(const QuestionWords& q, std::string_view code);

// The value as the script shows it: an option as "Text [code]" (or "[code]" when the question has
// no such option), a number or a text as its Value line writes it when the line's value is this
// one, else the value itself; "?" stands for a question without value.
std::string shown_value(const QuestionWords& q, std::string_view value);

// The bytes as UTF-8: text that is valid UTF-8 stays, any other text is read as Latin-1.
std::string to_utf8(std::string_view bytes);

}  // namespace nvram::diff

#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "script/reader.h"

// The words of a setup script, for people: a question's text as written, its Token and Offset,
// its option texts and the way its Value line writes the value, and the script's BIOS version
// stamp. Which lines a question has is not decided here: the script reader's questions are
// dressed in the words of their Setup line, their Value line or option block, and their Token and
// Offset texts.
namespace nvram::diff {

enum class Kind { kNone, kOption, kNumber, kText };

const char* kind_name(Kind kind);

struct OptionWords {
  std::string code;  // between the brackets
  std::string text;  // after the ']', comment and trailing blanks dropped
};

struct QuestionWords {
  std::string text;    // after the Setup line's first '=' (one separating blank dropped)
  std::string token;   // the Token line's text (ScriptReading::token()), or empty
  std::string offset;  // likewise for the Offset line
  Kind kind = Kind::kNone;
  std::vector<OptionWords> options;
  std::string written;  // a Value line's value as written: angles dropped, quotes kept
};

// The words of question `index` of the reading, which keeps its bytes. Option lines that begin
// with '/' are comments and give no option.
QuestionWords question_words(const ScriptReading& reading, std::size_t index);

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

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What the readers and writers of setup scripts and record files share: the record-file line,
// the question-key rule and the record-file name rule.
namespace nvram {

// A field of a record (question key, default value, current value) holds at most 63 characters.
inline constexpr std::size_t kFieldMax = 63;

// Codes 33 to 126, '!' to '~'.
inline bool is_visible(unsigned char c) { return c >= 0x21 && c <= 0x7E; }

inline bool is_hex_digit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Whether the line begins with `word`.
inline bool starts_with(std::string_view line, std::string_view word) {
  return line.size() >= word.size() && line.compare(0, word.size(), word) == 0;
}

// What holds a question's value: nothing, a Value line of one of three shapes, or an option block.
enum class ValueKind : std::uint8_t { kNone, kBare, kAngled, kText, kOptions };

// A Value line, looked at once: the shape of its value and where its parts stand. The shape is
// read from the first byte after the line's first '=' (looked for before its first CR or LF) that
// is not a blank or tab: '<' an angled number ("Value\t=<4500>"), '"' with a second '"' before
// the line end a text ("Value =\"INT33D5\""), anything else, or no '=', a bare value
// ("Value =05 // Seconds").
struct ValueLine {
  ValueKind kind = ValueKind::kBare;
  std::size_t equals = std::string_view::npos;  // the first '=' before the line end
  bool slash = false;                           // a '/' stands before it
  std::size_t open = 0, close = 0;              // a text's two quotes
};
ValueLine read_value_line(std::string_view value_line);

// One record-file line: "{key},[default],<current>\r\n".
std::string record_line(std::string_view key, std::string_view default_value,
                        std::string_view current_value);

// The longest record line: three full fields and the ten bytes around them.
inline constexpr std::size_t kRecordLineMax = 3 * kFieldMax + 10;

// The same line into `out`, each field cut to 63 characters; returns its length.
std::size_t record_line(std::string_view key, std::string_view default_value,
                        std::string_view current_value, char (&out)[kRecordLineMax]);

// A field held at the start of a block of kFieldMax bytes, all of them readable.
struct FieldBlock {
  const char* block;
  std::size_t size;  // at most kFieldMax
};

// The same line from fields held in blocks, into `out`, which has room for kRecordLineMax bytes:
// each block is copied whole, a few moves of fixed size instead of a copy of each length, and
// never reaches past where a line of three full fields would end. Returns its length.
std::size_t record_line(FieldBlock key, FieldBlock default_value, FieldBlock current_value,
                        char* out);

// The question key of a Setup line: the visible characters after the line's first '=', up to the
// first CR, LF or '/' or the end of the line, at most 63 of them. No '=' gives the empty key.
// The reader and the merge both use this, so the two keys of one question agree byte for byte.
std::string question_key(std::string_view setup_line);

// The same key, written into `key`; returns its length. For readers that take a key from every
// question of a script.
std::size_t question_key(std::string_view setup_line, char (&key)[kFieldMax]);

// The question key of a Setup line, as question_key() gives it, with what the reader keeps of it,
// taken in the same pass: its skeleton (the key without the decimal digits, '.', '+' and '-' that
// a live reading changes) and whether it holds a byte that record lines escape.
struct KeyScan {
  std::size_t size = 0;
  std::size_t skeleton_size = 0;
  bool delimiter = false;
};
KeyScan scan_question_key(std::string_view setup_line, char (&key)[kFieldMax],
                          char (&skeleton)[kFieldMax]);

// A question key as record lines write it: each '%', '{', '}', '[', ']', '<' and '>' as '%' and
// two upper-case hexadecimal digits, so that the key never splits its record line. A result longer
// than 63 characters keeps its first 54, then '#' and the eight upper-case hexadecimal digits of
// the FNV-1a hash of the key's bytes. A key without those bytes is written as it stands. Keys are
// compared in this form everywhere: record files, the difference file, the merge, the exclusion
// list and the messages.
std::string written_key(std::string_view key);

// The same into `out`, which receives at most 63 characters; returns its length.
std::size_t written_key(std::string_view key, char (&out)[kFieldMax]);

// The current value of a Value line that holds a text, from the bytes between its two quotes:
// the text with both quotes, every byte that a record line cannot hold as it stands ('%', '{',
// '}', '[', ']', '<', '>', '/' and every byte below 0x20 or above 0x7E) written as '%' and two
// upper-case hexadecimal digits. A result longer than 63 characters keeps its first 54, then '#'
// and the eight upper-case hexadecimal digits of the 32-bit FNV-1a hash of the raw bytes: 63
// characters, and two different texts still give two different values.
std::string record_text_value(std::string_view raw_between_quotes);

// A recorded value with its '%' escapes undone: every '%' followed by two upper-case hexadecimal
// digits becomes the byte they give; everything else ("%2f" too) stays as it stands.
std::string unescape_text_value(std::string_view recorded);

// The record file of a setup script: the directory part (up to and including the last '/') as
// typed, then the last component up to its first '.' that is not its first character, then
// ".ini". A last component without such a '.' is kept whole.
std::string record_file_name(std::string_view script_name);

}  // namespace nvram

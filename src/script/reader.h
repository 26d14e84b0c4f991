#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

#include "script/big_buffer.h"
#include "script/file.h"
#include "script/record.h"

// The setup-script reader: the one reading of a setup script. It decides where each question
// begins and ends, and yields the questions with everything the rest of the program needs of
// them: the record (question key, default value, current value), the Token and Offset texts, the
// kind of the question's Value line and where its Setup line and its Value line or option block
// stand. The record file is written from it; the comparisons, the merge and nvram-diff take the
// questions from it, and none of them reads the script again.
namespace nvram {

// One question, as the reader found it. Offsets are byte offsets in the script.
struct Question {
  std::uint64_t setup = 0;        // its Setup line
  std::uint64_t value_begin = 0;  // its Value line, or its option block: from its Options line
  std::uint64_t value_end = 0;    // to the end of its last option line; line ends included
  std::uint64_t text = 0;         // where its texts begin in the reading's text block
  std::uint32_t token_size = 0, offset_size = 0;
  std::uint32_t key_hash = 0, identity_hash = 0;  // hash_text() of its key and of its identity
  std::uint8_t key_size = 0, default_size = 0, current_size = 0, skeleton_size = 0;
  ValueKind kind = ValueKind::kNone;
  bool closed = false;  // a blank line closed it (the record count counts it)
  bool has_token = false, has_offset = false;
};

// The questions of one setup script, read once.
//
// A line is the whole line, up to and including its line feed, however long; its text ends at its
// first NUL byte. A blank line (a single character, one that begins with CR or LF, or one without
// a visible character) ends a question, except that while a question has had neither a Value line
// nor an Options line, blank lines followed by a Value or Options line belong to it. Lines are
// recognised by their first five bytes: "Setup" between questions opens one, "Optio", "Value" and
// "BIOS " count within one, and every non-blank line after the Options line is an option line,
// until a blank line. A Setup line within a question is passed over; a Setup line after a Value
// line with no blank line between gives the question up. The 63-character fields cut what they
// hold.
class ScriptReading {
 public:
  // Reads the file `name` once, from its start to its end (a regular file, a pipe or a FIFO).
  // With keep_bytes, the bytes stay for bytes(); without, the script is read piece by piece and
  // never held whole. With `records`, each question's record line goes there as it is found.
  // Returns 0; or 3 after "Error, cannot open file %s\r\n" or "Error, cannot read file
  // %s\r\n", leaving the reading empty.
  int read(const std::string& name, bool keep_bytes, OutFile* records = nullptr);
  // The same from a descriptor open on the file `name`, read from where it stands.
  int read(int fd, const std::string& name, bool keep_bytes, OutFile* records = nullptr);

  // Reads a script already in memory, which the reading keeps for bytes().
  void read_bytes(FileBytes bytes, OutFile* records = nullptr);

  // Drops every question and the bytes.
  void clear();
  // Room for about that many questions.
  void reserve(std::size_t questions);

  std::size_t size() const { return questions_.size(); }
  const Question& operator[](std::size_t i) const { return questions_[i]; }

  // The record fields of question i, as record lines hold them, each at most 63 characters: the
  // question key as written (written_key()), the default value and the current value.
  std::string_view key(std::size_t i) const { return field(i, 0, questions_[i].key_size); }
  std::string_view default_value(std::size_t i) const {
    const Question& q = questions_[i];
    return field(i, q.key_size, q.default_size);
  }
  std::string_view current_value(std::size_t i) const {
    const Question& q = questions_[i];
    return field(i, q.key_size + q.default_size, q.current_size);
  }
  // The texts of the question's first Token and Offset lines: what follows the line's first '='
  // up to its first '/', CR or LF, blanks and tabs removed. Empty where the line is missing.
  std::string_view token(std::size_t i) const {
    const Question& q = questions_[i];
    return field(i, q.key_size + q.default_size + q.current_size, q.token_size);
  }
  std::string_view offset(std::size_t i) const {
    const Question& q = questions_[i];
    return field(i, q.key_size + q.default_size + q.current_size + q.token_size + 1, q.offset_size);
  }
  // The question's identity: its Token and Offset texts and its key skeleton (the key as the Setup
  // line gives it, before record lines write it, without the decimal digits, '.', '+' and '-'),
  // joined by line feeds. Empty for a question without a Token or an Offset line: it has none.
  std::string_view identity(std::size_t i) const {
    const Question& q = questions_[i];
    if (!q.has_token || !q.has_offset) return {};
    return field(i, q.key_size + q.default_size + q.current_size,
                 q.token_size + q.offset_size + 2 + q.skeleton_size);
  }

  // The record-file line of question i: "{key},[default],<current>\r\n".
  std::string record_line(std::size_t i) const;

  // The number of questions that a blank line closed (the record count).
  int closed_count() const { return closed_; }

  // The script's bytes, when the reading keeps them.
  std::string_view bytes() const { return bytes_.view(); }

 private:
  friend class QuestionScanner;
  // Gives back the room reserved past the questions and texts read.
  void trim();
  std::string_view field(std::size_t i, std::size_t skip, std::size_t size) const {
    return std::string_view(text_.data() + questions_[i].text + skip, size);
  }

  BigArray<Question> questions_;
  BigBuffer text_;  // each question's key, default, current, token, '\n', offset, '\n', skeleton
  FileBytes bytes_;
  int closed_ = 0;
};

// The conversion of a setup script into its record file, in two steps: read() reads the script
// (a conflict with its record file, a script that cannot be opened or read, or a record file that
// cannot be made fails here, after its message) and writes the record file under a temporary
// name; commit() puts it in place and hands it over, open for reading. A conversion dropped before
// its commit leaves no record file.
class Conversion {
 public:
  Conversion(std::string script_name, ScriptReading& reading, bool keep_bytes);
  ~Conversion();
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  int read();
  int commit(File& records);

 private:
  std::string name_;
  ScriptReading& reading_;
  bool keep_bytes_;
  std::unique_ptr<ReplacingFile> out_;
};

// Converts a setup script into its record file (named by record_file_name()): reads the script
// once into `reading` and writes the record file from it, whole, under a temporary name beside it,
// renamed into place over whatever stood at its name (a link included). `records` then holds the
// record file just written, open for reading: the file of this run, even when another run
// replaces or removes the name meanwhile. Returns 0, or 3 after its message: the script or the
// record file cannot be opened, the script cannot be read to its end, the record file is the
// script itself or cannot be written whole.
int process_script_convert(const std::string& script_name, ScriptReading& reading, File& records,
                           bool keep_bytes = false);

// A conversion whose reading is done in another thread, started at once, while the caller does
// other work (converts another script): the two scripts are read side by side. A script that is
// no regular file (a pipe, a FIFO) is read in its turn, by finish(). Its messages are
// held back and its record file is not put in place until finish(), so that a command sees what
// it would see converting one script after the other; one that is never finished has printed and
// left nothing.
class BackgroundConversion {
 public:
  BackgroundConversion(std::string script_name, ScriptReading& reading);
  ~BackgroundConversion();
  BackgroundConversion(const BackgroundConversion&) = delete;
  BackgroundConversion& operator=(const BackgroundConversion&) = delete;

  // Waits for the reading, prints its messages and puts the record file in place: the result of
  // process_script_convert() (without the bytes).
  int finish(File& records);

 private:
  Conversion conversion_;
  int status_ = 0;
  std::string messages_;
  std::thread thread_;
};

// A script from which the conversion wrote no record holds no setup question, which is an error:
// prints "Error, no setup question in %s\r\n" with the name and returns 3; returns 0 otherwise.
int check_setup_question(const std::string& script_name, const ScriptReading& reading);

}  // namespace nvram

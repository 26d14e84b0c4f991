#include "script/reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>
#include <string_view>

#include "script/file.h"
#include "script/line_source.h"
#include "script/record.h"
#include "script/renamed.h"
#include "script/status.h"

namespace nvram {
namespace {

// Where the reader stands between two lines.
enum class State { kBetweenQuestions, kInQuestion, kInOptionList };

// One field of the record being built. It never holds more than kFieldMax characters: every scan
// stops before it would put a 64th character into it.
struct Field {
  char text[kFieldMax];
  std::size_t size = 0;

  void clear() { size = 0; }
  void set_placeholder() {
    text[0] = '?';
    size = 1;
  }
  void append(char c) {
    if (size < kFieldMax) text[size++] = c;
  }
  std::string_view view() const { return {text, size}; }
};

struct Record {
  Field key, default_value, current_value;
  Field raw_key;  // the key before record lines write it
  // The texts of the question's first Token and Offset lines.
  struct PlaceText {
    char text[kMaxPiece];
    std::size_t size = 0;
    bool seen = false;
    std::string_view view() const { return {text, size}; }
  } token, offset;
  bool open = false;
  std::uint64_t setup_offset = 0;  // where the piece of the Setup line that opened it begins
};

bool is_line_end(char c) {
  return c == '\r' || c == '\n';
}

// A single character, a line that starts with a line end, or one without a visible character.
bool is_blank(std::string_view line) {
  if (line.size() == 1) return true;
  if (!line.empty() && is_line_end(line[0])) return true;
  for (char c : line) {
    if (is_visible(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Each scan below counts the characters it has put into its field since it began or since it
// last emptied the field. Before it handles a character that does not stop it, a count of
// kFieldMax stops it there: that is the field limit, and the scans that must know report it.

// "Setup ... = Question Text": starts a new record with placeholders for both values.
template <bool kPlaces>
void take_setup_line(std::string_view line, Record& r) {
  r.key.size = written_question_key(line, r.key.text);
  if constexpr (kPlaces) {
    r.raw_key.size = question_key(line, r.raw_key.text);
    r.token.seen = r.offset.seen = false;
  }
  r.default_value.set_placeholder();
  r.current_value.set_placeholder();
  r.open = true;
}

// "Options =*[00]Disabled": the value of the option on the line itself, starred or not.
void take_options_line(std::string_view line, Field& current) {
  current.clear();
  std::size_t put = 0;
  bool after_bracket = false;
  for (char c : line) {
    if (is_line_end(c) || c == ']' || c == '/') break;
    if (put == kFieldMax) break;
    if (!after_bracket) {
      after_bracket = c == '[';
      continue;
    }
    if (is_hex_digit(static_cast<unsigned char>(c))) {
      current.append(c);
      ++put;
    }
  }
}

// "Value =\"INT33D5\" // x": a text, when no '/' stands before the first '=', the first byte
// after it that is not a blank or tab is '"' and a second '"' follows before the line end. Gives
// the position of the opening quote and of the closing one.
bool find_text(std::string_view line, std::size_t& open, std::size_t& close) {
  const std::string_view text = line_text(line);
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos || text.substr(0, equals).find('/') != std::string_view::npos)
    return false;
  open = text.find_first_not_of(" \t", equals + 1);
  if (open == std::string_view::npos || text[open] != '"') return false;
  close = text.find('"', open + 1);
  return close != std::string_view::npos;
}

// "Value =5": the first run of hexadecimal digits after the first '='. A text is taken whole,
// with its quotes (record_text_value()).
void take_value_line(std::string_view line, Field& current) {
  current.clear();
  std::size_t open = 0, close = 0;
  if (find_text(line, open, close)) {
    for (char c : record_text_value(line.substr(open + 1, close - open - 1))) current.append(c);
    return;
  }
  std::size_t put = 0;
  bool after_equals = false;
  for (char c : line) {
    if (is_line_end(c) || c == '/') break;
    if (!after_equals) {
      after_equals = c == '=';
      continue;
    }
    if (is_hex_digit(static_cast<unsigned char>(c))) {
      if (put == kFieldMax) break;
      current.append(c);
      ++put;
    } else if (put > 0) {
      break;  // the end of the run of digits
    }
  }
}

// "BIOS Default =[01]On": every hexadecimal digit after an '='; the first '[' after the latest
// '=' starts the value afresh. Returns false when the scan stopped at the field limit.
bool take_bios_line(std::string_view line, Field& default_value) {
  default_value.clear();
  std::size_t put = 0;
  bool after_equals = false;
  bool bracket_seen = false;  // since the latest '='
  for (char c : line) {
    if (is_line_end(c) || c == ']' || c == '/') {
      if (default_value.size == 0) default_value.set_placeholder();
      return true;
    }
    if (put == kFieldMax) return false;
    if (c == '=') {
      after_equals = true;
      bracket_seen = false;
    } else if (!after_equals) {
      continue;
    } else if (c == '[' && !bracket_seen) {
      bracket_seen = true;
      default_value.clear();
      put = 0;
    } else if (is_hex_digit(static_cast<unsigned char>(c))) {
      default_value.append(c);
      ++put;
    }
  }
  return true;  // the line ended without a stop character: keep what was taken
}

// "         *[00]Off": a '*' arms the scan, and the next '[' makes the digits after it the
// current value; a further '*' stops the taking and arms again. Returns false when the scan
// stopped at the field limit.
bool take_option_list_line(std::string_view line, Field& current) {
  std::size_t put = 0;
  bool armed = false;
  bool taking = false;
  for (char c : line) {
    if (is_line_end(c) || c == ']') break;
    if (put == kFieldMax) return false;
    if (c == '*') {
      armed = true;
      taking = false;
    } else if (c == '[' && armed) {
      armed = false;
      taking = true;
      current.clear();
      put = 0;
    } else if (taking && is_hex_digit(static_cast<unsigned char>(c))) {
      current.append(c);
      ++put;
    }
  }
  return true;
}

// The question's first Token and Offset lines, wherever they stand in it.
void take_place_line(std::string_view line, Record& r) {
  Record::PlaceText* at = nullptr;
  if (!r.token.seen && starts_with(line, "Token")) at = &r.token;
  else if (!r.offset.seen && starts_with(line, "Offset")) at = &r.offset;
  if (!at) return;
  at->seen = true;
  at->size = place_text(line, at->text);
}

// The record's place (question_place()), or the empty one.
void record_place(const Record& r, std::string& place) {
  if (r.token.seen && r.offset.seen) {
    question_place(r.token.view(), r.offset.view(), r.raw_key.view(), place);
  } else {
    place.clear();
  }
}

std::string record_text(const Record& r) {
  return record_line(r.key.view(), r.default_value.view(), r.current_value.view());
}

// Reads the script from its first line to its end and hands every record it writes, in order, to
// emit(const Record&): those closed by a blank line (counted in `closed`) and, at the end of the
// script, one still open (not counted) unless `whole()` says that a read failed: the records are
// then those of a part of the script, and the one still open at the failure is not handed over.
// With kPlaces, each record also gets its raw key and its Token and Offset texts (record_place()).
template <bool kPlaces, class Whole, class Emit>
bool scan_lines(LineSource& lines, int& closed, Whole&& whole, Emit&& emit) {
  State state = State::kBetweenQuestions;
  Record r;
  closed = 0;
  std::string_view line;
  while (lines.next(line)) {
    if (is_blank(line)) {
      state = State::kBetweenQuestions;
      if (r.open) {
        emit(r);
        r.open = false;
        ++closed;
      }
      continue;
    }
    if (kPlaces && r.open) take_place_line(line, r);
    switch (state) {
      case State::kBetweenQuestions:
        if (starts_with(line, "Setup")) {
          take_setup_line<kPlaces>(line, r);  // a record still open is given up
          r.setup_offset = lines.offset();
          state = State::kInQuestion;
        }
        break;
      case State::kInQuestion:
        if (starts_with(line, "Optio")) {
          take_options_line(line, r.current_value);
          state = State::kInOptionList;
        } else if (starts_with(line, "Value")) {
          take_value_line(line, r.current_value);
          state = State::kBetweenQuestions;
        } else if (starts_with(line, "BIOS ")) {
          if (!take_bios_line(line, r.default_value)) state = State::kBetweenQuestions;
        }
        break;
      case State::kInOptionList:
        if (!take_option_list_line(line, r.current_value)) state = State::kBetweenQuestions;
        break;
    }
  }
  if (!whole()) return false;
  if (r.open) emit(r);  // ended by the end of the script: not counted
  return true;
}

template <bool kPlaces, class Emit>
bool scan_script(std::FILE* script, int& closed, Emit&& emit) {
  LineSource lines(script);
  return scan_lines<kPlaces>(lines, closed, [script] { return std::ferror(script) == 0; }, emit);
}

template <bool kPlaces>
ScriptRecord script_record(const Record& r) {
  ScriptRecord record{record_text(r), r.setup_offset, {}};
  if (kPlaces) record_place(r, record.place);
  return record;
}

}  // namespace

int process_script_convert(const std::string& script_name, int& record_count) {
  File records;
  return process_script_convert(script_name, record_count, records);
}

int process_script_convert(const std::string& script_name, int& record_count, File& records,
                           int* records_written) {
  File script(script_name, "rb");
  if (!script) {
    print_cannot_open(script_name);
    return kMissingFile;
  }
  const std::string record_name = record_file_name(script_name);
  // Creating the record file empties it; it must never be the script being read.
  if (same_file(script_name, record_name)) {
    print_conflict(script_name);
    return kMissingFile;
  }
  ReplacingFile out(record_name, ReplacingFile::kAtName);
  if (!out) {
    print_cannot_open(record_name);
    return kMissingFile;
  }

  int closed = 0;
  int written = 0;
  // A read error is not the end of the script: the records would be those of a part of it.
  const bool read_whole = scan_script<false>(script.get(), closed, [&out, &written](const Record& r) {
    out.write(record_text(r));
    ++written;
  });
  script.close();
  if (!read_whole) {
    print_cannot_read(script_name);
    return kMissingFile;
  }
  if (!out.commit()) return kMissingFile;
  records = out.read_back();
  if (!records) {
    print_cannot_read(record_name);
    return kMissingFile;
  }
  record_count = closed;
  if (records_written) *records_written = written;
  return kOk;
}

int check_setup_question(const std::string& script_name, int records_written) {
  if (records_written > 0) return kOk;
  std::printf("Error, no setup question in %s\r\n", script_name.c_str());
  return kMissingFile;
}

int read_script_records(const std::string& script_name, std::vector<ScriptRecord>& records,
                        int& record_count) {
  File script(script_name, "rb");
  if (!script) {
    print_cannot_open(script_name);
    return kMissingFile;
  }
  std::vector<ScriptRecord> read;
  int closed = 0;
  const bool read_whole = scan_script<true>(
      script.get(), closed, [&read](const Record& r) { read.push_back(script_record<true>(r)); });
  if (!read_whole) {
    print_cannot_read(script_name);
    return kMissingFile;
  }
  records = std::move(read);
  record_count = closed;
  return kOk;
}

int read_script_places(const std::string& script_name, StringBlock& places) {
  File script(script_name, "rb");
  if (!script) {
    print_cannot_open(script_name);
    return kMissingFile;
  }
  StringBlock read;
  std::string place;
  int closed = 0;
  const bool read_whole = scan_script<true>(script.get(), closed, [&](const Record& r) {
    record_place(r, place);
    read.add(place);
  });
  if (!read_whole) {
    print_cannot_read(script_name);
    return kMissingFile;
  }
  places = std::move(read);
  return kOk;
}

bool scan_script_records(std::FILE* script, std::vector<ScriptRecord>& records) {
  int closed = 0;
  return scan_script<false>(script, closed,
                            [&records](const Record& r) { records.push_back(script_record<false>(r)); });
}

int scan_script_records(std::string_view bytes, std::vector<ScriptRecord>& records) {
  LineSource lines(bytes);
  int closed = 0;
  scan_lines<true>(lines, closed, [] { return true; },
                   [&records](const Record& r) { records.push_back(script_record<true>(r)); });
  return closed;
}

}  // namespace nvram

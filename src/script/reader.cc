#include "script/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "script/byte_scan.h"
#include "script/file.h"
#include "script/key_table.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {
namespace {

// One field of the record being built. It never holds more than kFieldMax characters: every scan
// stops before it would put a 64th character into it.
struct Field {
  char text[kFieldMax] = {};
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

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

// Each scan below counts the characters it has put into its field since it began or since it
// last emptied the field. Before it handles a character that does not stop it, a count of
// kFieldMax stops it there: that is the field limit, and the scans that must know report it.

// "Options =*[00]Disabled": the value of the option on the line itself, starred or not.
void take_options_line(std::string_view line, Field& current) {
  current.clear();
  // Before the first '[', only a stop character counts.
  const std::size_t bracket = first_of<'[', ']', '/', '\r', '\n'>(line, 0);
  if (bracket == line.size() || line[bracket] != '[') return;
  std::size_t put = 0;
  for (char c : line.substr(bracket + 1)) {
    if (is_line_end(c) || c == ']' || c == '/') break;
    if (put == kFieldMax) break;
    if (is_hex_digit(static_cast<unsigned char>(c))) {
      current.append(c);
      ++put;
    }
  }
}

// A Value line: the shape of its value (read_value_line()) and its current value. The value is a
// text, taken whole with its quotes (record_text_value()), when no '/' stands before the line's
// first '=' ("Value =\"INT33D5\" // x"); otherwise the first run of hexadecimal digits after the
// first '=' ("Value =5"), where a '/' or the line end stops the search.
ValueKind take_value_line(std::string_view line, Field& current) {
  current.clear();
  const ValueLine v = read_value_line(line);
  if (v.equals == std::string_view::npos || v.slash) return v.kind;  // no value to take
  if (v.kind == ValueKind::kText) {
    for (char c : record_text_value(line.substr(v.open + 1, v.close - v.open - 1))) current.append(c);
    return v.kind;
  }
  std::size_t put = 0;
  for (char c : line.substr(v.equals + 1)) {
    if (is_line_end(c) || c == '/') break;
    if (is_hex_digit(static_cast<unsigned char>(c))) {
      if (put == kFieldMax) break;
      current.append(c);
      ++put;
    } else if (put > 0) {
      break;  // the end of the run of digits
    }
  }
  return v.kind;
}

// What a byte of a BIOS Default line is to its scan: a stop (CR, LF, ']', '/'), a hexadecimal
// digit, an '=', a '[', or nothing.
enum BiosByte : std::uint8_t { kBiosOther, kBiosHex, kBiosEquals, kBiosBracket, kBiosStop };
constexpr auto kBiosByte = [] {
  std::array<BiosByte, 256> table{};
  for (unsigned char c : std::string_view("0123456789ABCDEFabcdef")) table[c] = kBiosHex;
  table['='] = kBiosEquals;
  table['['] = kBiosBracket;
  for (unsigned char c : std::string_view("\r\n]/")) table[c] = kBiosStop;
  return table;
}();

// "BIOS Default =[01]On": every hexadecimal digit after an '='; the first '[' after the latest
// '=' starts the value afresh. Returns false when the scan stopped at the field limit.
bool take_bios_line(std::string_view line, Field& default_value) {
  default_value.clear();
  std::size_t put = 0;
  bool bracket_seen = false;  // since the latest '='
  // Before the first '=', only a stop character counts.
  for (std::size_t at = first_of<'=', ']', '/', '\r', '\n'>(line, 0); at < line.size(); ++at) {
    const char c = line[at];
    const BiosByte kind = kBiosByte[static_cast<unsigned char>(c)];
    if (kind == kBiosStop) {
      if (default_value.size == 0) default_value.set_placeholder();
      return true;
    }
    if (put == kFieldMax) return false;
    if (kind == kBiosHex) {
      default_value.append(c);
      ++put;
    } else if (kind == kBiosEquals) {
      bracket_seen = false;
    } else if (kind == kBiosBracket && !bracket_seen) {
      bracket_seen = true;
      default_value.clear();
      put = 0;
    }
  }
  return true;  // the line ended without a stop character: keep what was taken
}

// Where the text of a line that begins with blanks (an option line) starts: its first visible
// character, or its length; whether a CR or LF stands before it; and, where the first sixteen
// bytes tell, the first '*', ']', CR or LF from there on (the mark that an option line's scan
// looks for first). The blanks are passed sixteen bytes at a time.
struct Indent {
  std::size_t visible = 0;
  bool ended = false;
  std::size_t mark = std::string_view::npos;  // npos: none before `unmarked`
  std::size_t unmarked = 0;                   // from `visible` up to here no mark stands
};

Indent first_visible(std::string_view text) {
  Indent in;
  std::size_t& at = in.visible;
#ifdef __SSE2__
  if (text.size() >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
    auto bits = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
    auto eq = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const unsigned visible = bits(visible_bytes(v));
    const unsigned ends = bits(_mm_or_si128(eq('\r'), eq('\n')));
    if (visible != 0) {
      at = static_cast<std::size_t>(__builtin_ctz(visible));
      in.ended = (ends & ((1u << at) - 1)) != 0;
      const unsigned marks = (bits(_mm_or_si128(eq('*'), eq(']'))) | ends) >> at;
      if (marks != 0) in.mark = at + static_cast<std::size_t>(__builtin_ctz(marks));
      in.unmarked = 16;
      return in;
    }
    in.ended = ends != 0;
    at = 16;
  }
#endif
  while (at < text.size() && !is_visible(static_cast<unsigned char>(text[at]))) {
    in.ended |= is_line_end(text[at]);
    ++at;
  }
  in.unmarked = at;
  return in;
}

// "         *[00]Off": a '*' arms the scan, and the next '[' makes the digits after it the
// current value; a further '*' stops the taking and arms again. The scan starts at the line's
// first '*' (`star`). Returns false when it stopped at the field limit.
bool take_starred_option(std::string_view line, std::size_t star, Field& current) {
  std::size_t put = 0;
  bool armed = false;
  bool taking = false;
  for (char c : line.substr(star)) {
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

// An option line, from its first '*', ']', CR or LF (found from `in`). Most option lines hold no
// '*' before their first ']', and such a line changes nothing. Returns false when the scan
// stopped at the field limit.
inline bool take_option_list_line(std::string_view line, const Indent& in, Field& current) {
  const std::size_t star =
      in.mark != std::string_view::npos
          ? in.mark
          : first_of<'*', ']', '\r', '\n'>(line, std::max(in.visible, in.unmarked));
  if (star == line.size() || line[star] != '*') return true;
  return take_starred_option(line, star, current);
}

// The text of a Token or Offset line, which has no length limit: kept in memory of its own that
// grows to the longest such line and is then reused. It holds kSlack bytes past the longest
// text, so that the text may be copied in whole blocks of that many bytes.
class PlaceText {
 public:
  static constexpr std::size_t kSlack = 16;

  std::size_t size() const { return size_; }
  const char* data() const { return data_.get(); }
  void clear() { size_ = 0; }

  // What follows the line's first '=', up to its first '/', CR or LF, without blanks and tabs.
  void take(std::string_view line) {
    size_ = 0;
    std::size_t at = first_of<'='>(line, 0);
    if (at == line.size()) return;
    if (line.size() + kSlack > capacity_) {
      capacity_ = std::max(line.size() + kSlack, 2 * capacity_);
      data_.reset(new char[capacity_]());
    }
    char* put = data_.get();
    std::size_t kept = 0;
    for (++at; at < line.size(); ++at) {
      const char c = line[at];
      const PlaceByte kind = kPlaceByte[static_cast<unsigned char>(c)];
      if (kind == kPlaceStop) break;
      put[kept] = c;
      kept += kind;  // a blank or tab is written over
    }
    size_ = kept;
  }

 private:
  // What a byte after the '=' is to the text: kept, a blank or tab left out, or its end.
  enum PlaceByte : std::uint8_t { kPlaceBlank = 0, kPlaceKept = 1, kPlaceStop = 2 };
  static constexpr auto kPlaceByte = [] {
    std::array<PlaceByte, 256> table{};
    table.fill(kPlaceKept);
    table[' '] = table['\t'] = kPlaceBlank;
    table['/'] = table['\r'] = table['\n'] = kPlaceStop;
    return table;
  }();

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0, capacity_ = 0;
};

}  // namespace

// Reads the lines of a script, one whole line at a time, and hands the questions to the reading.
class QuestionScanner {
 public:
  QuestionScanner(ScriptReading& reading, OutFile* records) : reading_(reading), records_(records) {}

  // The next line: its text (up to its first NUL) and where it begins and ends in the script.
  //
  // A blank line is a single character, one that starts with a line end, or one without a visible
  // character. Most lines begin with a visible character, which settles that they are not blank
  // (unless that is all they hold), and only their first character and state tell what they do.
  // Option lines begin with blanks, passed over once in indented_line().
  void line(std::string_view text, std::uint64_t begin, std::uint64_t end) {
    const unsigned char first = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
    if (!is_visible(first)) {
      indented_line(text, first, end);
      return;
    }
    if (text.size() <= 1) {
      blank();
      return;
    }
    if (state_ == State::kBlankInQuestion) end_blanks(text);
    switch (state_) {
      case State::kBlankInQuestion:
        return;  // settled above
      case State::kInQuestion:
        switch (first) {
          case 'T':
            take_place_line(text, first);
            break;
          case 'O':
            take_place_line(text, first);
            if (starts_with(text, "Optio")) {
              take_options_line(text, current_);
              set_value(ValueKind::kOptions, begin, end);
              state_ = State::kInOptionList;
            }
            break;
          case 'V':
            if (starts_with(text, "Value")) {
              set_value(take_value_line(text, current_), begin, end);
              state_ = State::kBetweenQuestions;
            }
            break;
          case 'B':
            if (starts_with(text, "BIOS ") && !take_bios_line(text, default_))
              state_ = State::kBetweenQuestions;
            break;
        }
        return;
      case State::kBetweenQuestions:
        // After a Value line the question stays open, for its Token and Offset lines, up to the
        // blank line; a Setup line gives it up.
        if (open_ && (first == 'T' || first == 'O')) take_place_line(text, first);
        if (first == 'S' && starts_with(text, "Setup")) start(text, begin);
        return;
      case State::kInOptionList:
        if (first == 'T' || first == 'O') take_place_line(text, first);
        q_.value_end = end;
        if (!take_option_list_line(text, Indent{}, current_)) state_ = State::kBetweenQuestions;
        return;
    }
  }

  // The end of the script: a question still open is written; closed by its blank line when one
  // followed it.
  void finish() {
    if (state_ == State::kBlankInQuestion) emit(true);
    else if (open_) emit(false);
    // What the guess at the number of questions, or the last growth, left over is given back.
    reading_.trim();
  }

 private:
  enum class State { kBetweenQuestions, kInQuestion, kBlankInQuestion, kInOptionList };

  // A line whose first character is no visible one: blank, or indented (an option line); only
  // option lines, and a blank line's end of a question, change anything.
  void indented_line(std::string_view text, unsigned char first, std::uint64_t end) {
    const Indent in = first_visible(text);
    if (text.size() <= 1 || is_line_end(static_cast<char>(first)) || in.visible == text.size()) {
      blank();
      return;
    }
    switch (state_) {
      case State::kBlankInQuestion:
        end_blanks(text);
        return;
      case State::kInOptionList:
        q_.value_end = end;
        // The blanks before the first visible character hold no '*' or ']'; a line end among them
        // ends the scan before anything is taken.
        if (in.ended) return;
        if (!take_option_list_line(text, in, current_)) state_ = State::kBetweenQuestions;
        return;
      case State::kInQuestion:
      case State::kBetweenQuestions:
        return;
    }
  }

  // The first line that is not blank after blank lines within a question before its value: they
  // belong to the question when its Value or Options line follows them; otherwise the first of
  // them closed it.
  void end_blanks(std::string_view text) {
    if (starts_with(text, "Value") || starts_with(text, "Optio")) {
      state_ = State::kInQuestion;
    } else {
      emit(true);
      state_ = State::kBetweenQuestions;
    }
  }

  void blank() {
    if (state_ == State::kInQuestion) {
      state_ = State::kBlankInQuestion;
      return;
    }
    if (state_ == State::kBlankInQuestion) return;
    state_ = State::kBetweenQuestions;
    if (open_) emit(true);
  }

  // "Setup ... = Question Text": a new record with placeholders for both values.
  void start(std::string_view text, std::uint64_t begin) {
    const KeyScan scan = scan_question_key(text, key_.text, skeleton_.text);
    key_.size = scan.size;
    skeleton_.size = scan.skeleton_size;
    if (scan.delimiter) {  // record lines write the key otherwise
      char raw[kFieldMax];
      std::memcpy(raw, key_.text, scan.size);
      key_.size = written_key(std::string_view(raw, scan.size), key_.text);
    }
    default_.set_placeholder();
    current_.set_placeholder();
    q_ = Question{};
    q_.setup = begin;
    token_.clear();
    offset_.clear();
    open_ = true;
    state_ = State::kInQuestion;
  }

  void set_value(ValueKind kind, std::uint64_t begin, std::uint64_t end) {
    q_.kind = kind;
    q_.value_begin = begin;
    q_.value_end = end;
  }

  // The question's first Token and Offset lines, wherever they stand in it; `first` is the line's
  // first character, 'T' or 'O'.
  void take_place_line(std::string_view text, unsigned char first) {
    if (first == 'T') {
      if (!q_.has_token && starts_with(text, "Token")) {
        q_.has_token = true;
        token_.take(text);
      }
    } else if (!q_.has_offset && starts_with(text, "Offset")) {
      q_.has_offset = true;
      offset_.take(text);
    }
  }

  void emit(bool closed) {
    open_ = false;
    q_.closed = closed;
    q_.key_size = static_cast<std::uint8_t>(key_.size);
    q_.default_size = static_cast<std::uint8_t>(default_.size);
    q_.current_size = static_cast<std::uint8_t>(current_.size);
    q_.token_size = static_cast<std::uint32_t>(token_.size());
    q_.offset_size = static_cast<std::uint32_t>(offset_.size());
    q_.skeleton_size = static_cast<std::uint8_t>(skeleton_.size);
    BigBuffer& text = reading_.text_;
    q_.text = text.size();
    const std::size_t identity = token_.size() + offset_.size() + 2 + skeleton_.size;
    const std::size_t size = key_.size + default_.size + current_.size + identity;
    // A field is copied whole, which takes a few moves of fixed size instead of a call for each
    // length, into room that goes kFieldMax bytes past the texts and is then given back.
    char* at = text.extend(size + kFieldMax);
    text.set_size(text.size() - kFieldMax);
    auto put_field = [&at](const Field& f) {
      std::memcpy(at, f.text, kFieldMax);
      at += f.size;
    };
    // A Token or Offset text goes in blocks too: what a block puts past it, the texts after it
    // cover, or the room past them. A missing text has no bytes at all.
    auto put_place = [&at](const PlaceText& t) {
      for (std::size_t i = 0; i < t.size(); i += PlaceText::kSlack)
        std::memcpy(at + i, t.data() + i, PlaceText::kSlack);
      at += t.size();
    };
    put_field(key_);
    put_field(default_);
    put_field(current_);
    const char* identity_text = at;
    put_place(token_);
    *at++ = '\n';
    put_place(offset_);
    *at++ = '\n';
    put_field(skeleton_);
    // The questions are looked up by key and by identity; their hashes are taken here, while
    // the texts are at hand.
    q_.key_hash = hash_text(key_.view());
    q_.identity_hash = hash_text(std::string_view(identity_text, identity));
    reading_.closed_ += closed ? 1 : 0;
    reading_.questions_.push_back(q_);
    if (records_) write_record();
  }

  // The record line, made where it is buffered.
  void write_record() {
    char* const line = records_->room(kRecordLineMax);
    if (!line) return;
    auto block = [](const Field& f) { return FieldBlock{f.text, f.size}; };
    records_->add(record_line(block(key_), block(default_), block(current_), line));
  }

  ScriptReading& reading_;
  OutFile* records_;
  State state_ = State::kBetweenQuestions;
  bool open_ = false;
  Question q_;
  Field key_, default_, current_;
  Field skeleton_;  // the key without the parts that a live reading changes
  PlaceText token_, offset_;
};

namespace {

// The line feeds among the 64 bytes at `at`, as bits; `nul` is set when a NUL is among them.
std::uint64_t line_feeds(const char* at, bool& nul) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n');
  std::uint64_t mask = 0;
  __m128i least = _mm_set1_epi8(-1);  // the least byte at each place: 0 where a NUL stands
  for (int part = 0; part < 4; ++part) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf))))
            << (16 * part);
    least = _mm_min_epu8(least, v);
  }
  nul |= _mm_movemask_epi8(_mm_cmpeq_epi8(least, _mm_setzero_si128())) != 0;
  return mask;
#else
  std::uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) {
    mask |= static_cast<std::uint64_t>(at[i] == '\n') << i;
    nul |= at[i] == '\0';
  }
  return mask;
#endif
}

// Hands the scanner every whole line of data[0, size), the first of which begins at `base` in the
// script; with `last`, the bytes after the last line feed are a line too. Returns the number of
// bytes handed over.
std::size_t feed_lines(QuestionScanner& scanner, const char* data, std::size_t size,
                       std::uint64_t base, bool last) {
  // A line's text ends at its first NUL. Most scripts hold none: a line is searched for one only
  // once a NUL has been seen in these bytes, which the search for line feeds tells, at or before
  // the end of the line that holds it.
  bool has_nul = false;
  std::size_t pos = 0;  // where the next line begins
  auto hand_over = [&](std::size_t end) {
    std::string_view text(data + pos, end - pos);
    if (has_nul) {
      const void* nul = std::memchr(text.data(), '\0', text.size());
      if (nul) text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
    }
    scanner.line(text, base + pos, base + end);
    pos = end;
  };
  // Lines are short (a few dozen bytes): the line feeds of 64 bytes at a time are found at once
  // and taken one by one from a mask.
  std::size_t block = 0;
  for (; block + 64 <= size; block += 64) {
    for (std::uint64_t mask = line_feeds(data + block, has_nul); mask != 0; mask &= mask - 1)
      hand_over(block + static_cast<std::size_t>(__builtin_ctzll(mask)) + 1);
  }
  has_nul = has_nul || std::memchr(data + block, '\0', size - block) != nullptr;
  while (pos < size) {
    const void* lf = std::memchr(data + std::max(pos, block), '\n', size - std::max(pos, block));
    if (!lf && !last) break;
    hand_over(lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1 : size);
  }
  return pos;
}

// Reads the descriptor piece by piece into one buffer, which holds at most a piece and the start
// of a line that goes on past it. Returns false when a read fails.
bool feed_stream(QuestionScanner& scanner, int fd, std::size_t expected) {
  std::size_t capacity = std::max(std::min(expected, std::size_t{1} << 20), std::size_t{4096});
  std::unique_ptr<char[]> buffer(new char[capacity]);
  std::size_t used = 0;  // bytes in the buffer not handed over yet
  std::uint64_t base = 0;
  for (;;) {
    if (used == capacity) {  // a line longer than the buffer
      std::unique_ptr<char[]> grown(new char[2 * capacity]);
      std::memcpy(grown.get(), buffer.get(), used);
      buffer = std::move(grown);
      capacity *= 2;
    }
    const ssize_t n = ::read(fd, buffer.get() + used, capacity - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    const bool last = n == 0;
    used += static_cast<std::size_t>(n);
    const std::size_t fed = feed_lines(scanner, buffer.get(), used, base, last);
    if (last) return true;
    std::memmove(buffer.get(), buffer.get() + fed, used - fed);
    used -= fed;
    base += fed;
  }
}

// A guess at the number of questions in a script of `size` bytes, to reserve room for them.
std::size_t likely_questions(std::uint64_t size) { return static_cast<std::size_t>(size / 320); }

}  // namespace

void ScriptReading::reserve(std::size_t questions) {
  questions_.reserve(questions);
  text_.reserve(questions * 64);
}

void ScriptReading::trim() {
  questions_.trim();
  text_.trim();
}

void ScriptReading::clear() {
  questions_.release();
  text_.release();
  bytes_.release();
  closed_ = 0;
}

int ScriptReading::read(const std::string& name, bool keep_bytes, OutFile* records) {
  clear();
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    print_cannot_open(name);
    return kMissingFile;
  }
  const int status = read(fd, name, keep_bytes, records);
  ::close(fd);
  return status;
}

int ScriptReading::read(int fd, const std::string& name, bool keep_bytes, OutFile* records) {
  clear();
  if (keep_bytes) {
    FileBytes bytes;
    if (bytes.read(fd, name) != FileBytes::kOk) {
      print_cannot_read(name);
      return kMissingFile;
    }
    read_bytes(std::move(bytes), records);
    return kOk;
  }
  struct stat st;
  std::size_t expected = std::size_t{1} << 20;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    expected = static_cast<std::size_t>(st.st_size) + 1;
    reserve(likely_questions(st.st_size));
  }
  QuestionScanner scanner(*this, records);
  if (!feed_stream(scanner, fd, expected)) {
    clear();
    print_cannot_read(name);
    return kMissingFile;
  }
  scanner.finish();
  return kOk;
}

void ScriptReading::read_bytes(FileBytes bytes, OutFile* records) {
  clear();
  bytes_ = std::move(bytes);
  const std::string_view all = bytes_.view();
  reserve(likely_questions(all.size()));
  QuestionScanner scanner(*this, records);
  feed_lines(scanner, all.data(), all.size(), 0, true);
  scanner.finish();
}

std::string ScriptReading::record_line(std::size_t i) const {
  return nvram::record_line(key(i), default_value(i), current_value(i));
}

Conversion::Conversion(std::string script_name, ScriptReading& reading, bool keep_bytes)
    : name_(std::move(script_name)), reading_(reading), keep_bytes_(keep_bytes) {}

Conversion::~Conversion() = default;

int Conversion::read() {
  reading_.clear();
  out_.reset();
  const std::string record_name = record_file_name(name_);
  // Creating the record file empties it; it must never be the script being read.
  if (same_file(name_, record_name)) {
    print_conflict(name_);
    return kMissingFile;
  }
  // The script is opened once, before its record file is made, and read through that descriptor.
  const int fd = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    print_cannot_open(name_);
    return kMissingFile;
  }
  out_ = std::make_unique<ReplacingFile>(record_name, ReplacingFile::kAtName);
  int status = kOk;
  if (!*out_) {
    print_cannot_open(record_name);
    status = kMissingFile;
  } else {
    // The records are written as the questions are found; a script that cannot be read to its
    // end leaves no record file (the temporary one is dropped).
    status = reading_.read(fd, name_, keep_bytes_, &out_->out());
  }
  ::close(fd);
  if (status != kOk) out_.reset();
  return status;
}

int Conversion::commit(File& records) {
  if (!out_ || !out_->commit()) return kMissingFile;
  records = out_->read_back();
  out_.reset();
  if (!records) {
    print_cannot_read(record_file_name(name_));
    return kMissingFile;
  }
  return kOk;
}

int process_script_convert(const std::string& script_name, ScriptReading& reading, File& records,
                           bool keep_bytes) {
  Conversion conversion(script_name, reading, keep_bytes);
  if (int status = conversion.read()) return status;
  return conversion.commit(records);
}

BackgroundConversion::BackgroundConversion(std::string script_name, ScriptReading& reading)
    : conversion_(script_name, reading, false) {
  // Only a regular file is read ahead: a pipe or a FIFO would wait for its writer even when the
  // command ends before its turn.
  struct stat st;
  if (::stat(script_name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  thread_ = std::thread([this] {
    HeldMessages held;
    status_ = conversion_.read();
    messages_ = held.text();
  });
}

BackgroundConversion::~BackgroundConversion() {
  if (thread_.joinable()) thread_.join();
}

int BackgroundConversion::finish(File& records) {
  if (thread_.joinable()) {
    thread_.join();
    std::fputs(messages_.c_str(), stdout);
  } else {
    status_ = conversion_.read();
  }
  if (status_ != kOk) return status_;
  return conversion_.commit(records);
}

int check_setup_question(const std::string& script_name, const ScriptReading& reading) {
  if (reading.size() > 0) return kOk;
  std::printf("Error, no setup question in %s\r\n", script_name.c_str());
  return kMissingFile;
}

}  // namespace nvram

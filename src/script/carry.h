#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "script/reader.h"
#include "script/record.h"

// Whether a question of a setup script takes a value: the one judgement that both the merge
// (which writes merged.txt by it) and nvram-diff (which reports by it) follow. A question takes a
// value only into the Value line or the option block that the reader gave it.
namespace nvram {

// Whether a Value line of that kind can take the value: a number (one or more hexadecimal
// digits) into a bare or angled line, a text (a value that begins and ends with '"') into a text
// line. Everything else (an empty value, "?", a text cut to its hash, a text into a number or a
// number into a text) does not fit.
bool value_fits(std::string_view value, ValueKind kind);

// A value to write into a question of the new script.
struct Difference {
  std::size_t question;  // in the reading of the script written into
  std::string value;
  ValueKind from = ValueKind::kNone;  // the kind of the question it comes from; kNone: unknown
};

// A value that the update cannot carry, by the key of the question it comes from.
struct NotCarried {
  std::string key, value;
};

// Why a question does not take its value.
enum class Refusal {
  kNone,
  kValueLine,      // a Value line of another kind (Carry::kind)
  kNumberForm,     // a number from an angled Value line into a bare one, or the other way
  kOptionBlock,    // an option block without "[value]"
  kNothingToTake,  // the question has no Value line or option block
  kNoQuestion,     // a line of a difference file that no question of its key took
};

// Whether two questions' values differ as settings: as recorded, or as numbers where one Value
// line writes its number bare (hexadecimal) and the other between angles (decimal), which read
// "10" as two numbers. A number below ten reads alike either way.
bool values_differ(std::string_view a, ValueKind a_kind, std::string_view b, ValueKind b_kind);

// What becomes of one value.
struct Carry {
  Refusal refusal = Refusal::kNone;
  ValueKind kind = ValueKind::kNone;  // of the question
  bool carried() const { return refusal == Refusal::kNone; }
};

// Whether question `question` of the reading (which must keep its bytes) takes the value: its
// Value line when the value fits its kind, its option block when "[value]" occurs in one of its
// lines (each read up to its first NUL). A number goes between a bare and an angled Value line
// only when both are of one kind: "<110>" is decimal, a bare "6E" is not.
Carry carry_into(const ScriptReading& reading, std::size_t question, std::string_view value,
                 ValueKind from = ValueKind::kNone);

// The lines of a region of a script, each with its line end: calls f(text, whole) for each, the
// text ending at the line's first NUL.
template <class F>
void for_each_line(std::string_view region, F&& f) {
  // Most regions hold no NUL, and then no line is searched for one.
  const bool has_nul = region.find('\0') != std::string_view::npos;
  std::size_t pos = 0;
  while (pos < region.size()) {
    std::size_t end = region.find('\n', pos);
    end = end == std::string_view::npos ? region.size() : end + 1;
    const std::string_view whole = region.substr(pos, end - pos);
    f(has_nul ? whole.substr(0, whole.find('\0')) : whole, whole);
    pos = end;
  }
}

// The region of the script that holds question's value: its Value line or its option block.
inline std::string_view value_region(const ScriptReading& reading, std::size_t question) {
  const Question& q = reading[question];
  return reading.bytes().substr(q.value_begin, q.value_end - q.value_begin);
}

}  // namespace nvram

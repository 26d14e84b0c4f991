#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "diff/words.h"
#include "script/exclusion.h"
#include "script/reader.h"

// The comparison of two setup scripts as an update from OLD into NEW sees it: the questions are
// the script reader's, paired exactly as the update pairs them (pair_questions()): by Token,
// Offset and key skeleton, then the questions without them by key. A pair whose keys differ is a
// renamed question.
namespace nvram::diff {

// One question of a script, as the script reader found it: its record and its words.
struct Question {
  std::string_view key;    // in the script's reading
  std::string_view value;  // the record's current value
  int copy = 1;    // the how-manieth question of this key in its script
  int copies = 1;  // how many questions of this key the script holds
  // Read on demand (dress_question()), and only for the questions a report shows: held apart, so
  // that the questions of a whole script stay small. Empty words until then.
  std::unique_ptr<const QuestionWords> dressed;
  const QuestionWords& words() const {
    static const QuestionWords kNone;
    return dressed ? *dressed : kNone;
  }
};

struct Script {
  std::string name;
  std::string version;  // of the BIOS version stamp line, or empty
  ScriptReading reading;  // with the script's bytes
  std::vector<Question> questions;  // question i is question i of the reading
};

enum class Status { kSame, kChanged, kRenamed, kOnlyOld, kOnlyNew };

const char* status_name(Status status);

// One row of the report. `old_index` and `new_index` point into the two scripts' questions;
// kNoQuestion where the side has none.
struct Row {
  static constexpr std::size_t kNoQuestion = static_cast<std::size_t>(-1);
  Status status = Status::kSame;
  std::size_t old_index = kNoQuestion;
  std::size_t new_index = kNoQuestion;
  // For a changed or renamed question: whether the update writes the OLD value into the NEW
  // question, and if not, why.
  bool carried = false;
  std::string reason;
  bool differs = false;  // the two values differ as settings (values_differ())
  // For a question only in OLD: a setting the user made, which the update cannot carry.
  bool lost = false;
};

struct Counts {
  std::size_t same = 0, changed = 0, renamed = 0, only_old = 0, only_new = 0, not_carried = 0,
              excluded = 0;
  std::size_t differing_renamed = 0;  // renamed questions whose values differ
};

struct Report {
  Script old_script, new_script;
  std::vector<Row> rows;  // changed, renamed, only in OLD, only in NEW, same; each in script order
  Counts counts;
  bool differs() const {
    return counts.changed + counts.differing_renamed + counts.only_old + counts.only_new +
               counts.not_carried >
           0;
  }
};

// Reads a setup script, once, from a file, a pipe, a FIFO or standard input ("-"): its records
// (by the script reader's rules), with the words of each question and the stamp line. Returns
// false with a one-line message in `error` when the input cannot be opened or read, or holds no
// setup question.
bool load_script(const std::string& name, Script& script, std::string& error);

// Reads the words of a question of the script, once.
void dress_question(Script& script, std::size_t index);

// Reads the words of every question that the rows show (with `all`, the agreeing ones too).
void dress_report(Report& report, bool all);

// Compares OLD with NEW. Questions whose key `excluded` names are passed over and counted.
void compare_scripts(Script old_script, Script new_script, const ExclusionTable& excluded,
                     Report& report);

}  // namespace nvram::diff

#include "diff/diff.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_map>
#include <string_view>
#include <utility>

#include "script/carry.h"
#include "script/key_table.h"
#include "script/pairing.h"
#include "script/file.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/record_compare.h"

namespace nvram::diff {
namespace {

void number_copies(Script& s) {
  KeyTable keys(s.questions.size());
  std::vector<int> count;  // by key
  std::vector<std::uint32_t> key_of(s.questions.size());
  for (std::size_t i = 0; i < s.questions.size(); ++i) {
    key_of[i] = keys.add(s.questions[i].key, s.reading[i].key_hash);
    if (key_of[i] == count.size()) count.push_back(0);
    s.questions[i].copy = ++count[key_of[i]];
  }
  for (std::size_t i = 0; i < s.questions.size(); ++i) s.questions[i].copies = count[key_of[i]];
}

// Why the update does not write the value into its question.
std::string refusal_reason(const Carry& carry, std::string_view value) {
  const bool no_value = value.empty() || value == "?";
  switch (carry.refusal) {
    case Refusal::kNoQuestion:
    case Refusal::kNothingToTake:
      return "NEW has no value line or options";
    case Refusal::kOptionBlock:
      // A number is what fits a bare Value line.
      return no_value ? "OLD has no value"
             : value_fits(value, ValueKind::kBare) ? "NEW has no option [" + std::string(value) + "]"
                                                        : "NEW takes an option, OLD holds a text";
    case Refusal::kNumberForm:
      return carry.kind == ValueKind::kAngled ? "OLD holds a bare number, NEW a decimal one"
                                              : "OLD holds a decimal number, NEW a bare one";
    case Refusal::kValueLine:
    case Refusal::kNone:
      break;
  }
  if (no_value) return "OLD has no value";
  if (value.front() == '"' && (value.size() < 2 || value.back() != '"')) {
    return "OLD text is too long to carry";
  }
  if (carry.kind == ValueKind::kText) return "NEW takes a text, OLD holds a number";
  if (value.front() == '"') return "NEW takes a number, OLD holds a text";
  return "NEW takes a number";
}

Row make_row(Status status, std::size_t old_index, std::size_t new_index) {
  Row r;
  r.status = status;
  r.old_index = old_index;
  r.new_index = new_index;
  return r;
}

}  // namespace

const char* status_name(Status status) {
  switch (status) {
    case Status::kChanged: return "changed";
    case Status::kRenamed: return "renamed";
    case Status::kOnlyOld: return "only_old";
    case Status::kOnlyNew: return "only_new";
    case Status::kSame: break;
  }
  return "same";
}

bool load_script(const std::string& name, Script& script, std::string& error) {
  FileBytes bytes;
  const FileBytes::Result read = name == "-" ? bytes.read(STDIN_FILENO) : bytes.read(name);
  if (read != FileBytes::kOk) {
    if (errno == ENOMEM) throw std::bad_alloc();
    error = std::string(read == FileBytes::kCannotOpen ? "cannot open " : "cannot read ") + name +
            ": " + std::strerror(errno);
    return false;
  }
  script.reading.read_bytes(std::move(bytes));
  const ScriptReading& reading = script.reading;
  if (reading.size() == 0) {
    error = "no setup question in " + name;
    return false;
  }
  script.name = name;
  script.version = stamp_version(reading.bytes());
  script.questions.clear();
  script.questions.reserve(reading.size());
  for (std::size_t i = 0; i < reading.size(); ++i) {
    Question q;
    q.key = reading.key(i);
    q.value = reading.current_value(i);
    script.questions.push_back(std::move(q));
  }
  number_copies(script);
  return true;
}

void dress_question(Script& script, std::size_t index) {
  Question& q = script.questions[index];
  if (!q.dressed)
    q.dressed = std::make_unique<const QuestionWords>(question_words(script.reading, index));
}

void dress_report(Report& report, bool all) {
  for (const Row& r : report.rows) {
    if (r.status == Status::kSame && !all) continue;
    if (r.old_index != Row::kNoQuestion) dress_question(report.old_script, r.old_index);
    if (r.new_index != Row::kNoQuestion) dress_question(report.new_script, r.new_index);
  }
}

void compare_scripts(Script old_script, Script new_script, const ExclusionTable& excluded,
                     Report& report) {
  const auto& olds = old_script.questions;
  const auto& news = new_script.questions;
  const Pairing pairing = pair_questions(new_script.reading, old_script.reading, excluded);
  const ScriptReading& old_reading = old_script.reading;

  std::vector<bool> old_paired(olds.size(), false), old_lost(olds.size(), false);
  for (std::size_t j : pairing.lost) old_lost[j] = true;
  // Each list has room for every question it could get, so that none is moved as it grows: pages
  // that no row reaches are never touched.
  std::vector<Row> changed, same, renamed, only_old, only_new;
  for (auto* part : {&changed, &same, &renamed, &only_new}) part->reserve(news.size());
  only_old.reserve(olds.size());
  std::unordered_map<std::string_view, std::pair<std::size_t, std::size_t>> excluded_keys;
  for (std::size_t i = 0; i < news.size(); ++i) {
    const QuestionPair& p = pairing.walked[i];
    if (p.excluded) {
      ++excluded_keys[news[i].key].second;
      continue;
    }
    if (p.partner < 0) {
      only_new.push_back(make_row(Status::kOnlyNew, Row::kNoQuestion, i));
      continue;
    }
    auto j = static_cast<std::size_t>(p.partner);
    old_paired[j] = true;
    const bool differs =
        values_differ(olds[j].value, old_reading[j].kind, news[i].value, new_script.reading[i].kind);
    const bool is_renamed = olds[j].key != news[i].key;
    if (!differs && !is_renamed) {
      same.push_back(make_row(Status::kSame, j, i));
      continue;
    }
    Row r = make_row(is_renamed ? Status::kRenamed : Status::kChanged, j, i);
    r.differs = differs;
    if (differs) {
      // What the update's merge makes of the value: the same judgement, of the same question.
      const Carry carry = carry_into(new_script.reading, i, olds[j].value, old_reading[j].kind);
      r.carried = carry.carried();
      if (!r.carried) r.reason = refusal_reason(carry, olds[j].value);
    }
    (is_renamed ? renamed : changed).push_back(std::move(r));
  }
  for (std::size_t j = 0; j < olds.size(); ++j) {
    if (old_paired[j]) continue;
    if (is_excluded(olds[j].key, excluded)) {
      ++excluded_keys[olds[j].key].first;
      continue;
    }
    Row r = make_row(Status::kOnlyOld, j, Row::kNoQuestion);
    r.lost = old_lost[j];
    if (r.lost) r.reason = "NEW has no such question";
    only_old.push_back(std::move(r));
  }

  Counts& c = report.counts;
  c = Counts();
  c.same = same.size();
  c.changed = changed.size();
  c.renamed = renamed.size();
  c.only_old = only_old.size();
  c.only_new = only_new.size();
  for (const auto& [key, n] : excluded_keys) c.excluded += std::max(n.first, n.second);
  for (const Row& r : changed) c.not_carried += r.carried ? 0 : 1;
  for (const Row& r : only_old) c.not_carried += r.lost ? 1 : 0;
  for (const Row& r : renamed) {
    c.differing_renamed += r.differs ? 1 : 0;
    c.not_carried += r.differs && !r.carried ? 1 : 0;
  }

  report.rows.clear();
  report.rows.reserve(changed.size() + renamed.size() + only_old.size() + only_new.size() +
                      same.size());
  for (auto* part : {&changed, &renamed, &only_old, &only_new, &same}) {
    for (Row& r : *part) report.rows.push_back(std::move(r));
  }
  report.old_script = std::move(old_script);
  report.new_script = std::move(new_script);
}

}  // namespace nvram::diff

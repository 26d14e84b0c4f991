#include "diff/diff.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <string_view>
#include <utility>

#include "script/carry.h"
#include "script/line_source.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/record_compare.h"

namespace nvram::diff {
namespace {

// Closes a descriptor that read_input() opened.
struct Descriptor {
  int fd;
  bool owned;
  ~Descriptor() {
    if (owned) ::close(fd);
  }
};

// Reads the input once, from its start to its end: a file, a pipe, a FIFO, or standard input
// for "-". Nothing is opened twice, so a pipe gives what the file gives.
bool read_input(const std::string& name, std::string& bytes, std::string& error) {
  const bool standard_input = name == "-";
  Descriptor in{standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC),
                !standard_input};
  if (in.fd < 0) {
    in.owned = false;
    error = "cannot open " + name + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(in.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  }
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in.fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read " + name + ": " + std::strerror(errno);
      return false;
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
}

void number_copies(Script& s) {
  std::unordered_map<std::string_view, int> seen;
  seen.reserve(s.questions.size());
  std::vector<const int*> count(s.questions.size());
  for (std::size_t i = 0; i < s.questions.size(); ++i) {
    int& n = seen[s.questions[i].key];
    s.questions[i].copy = ++n;
    count[i] = &n;
  }
  for (std::size_t i = 0; i < s.questions.size(); ++i) s.questions[i].copies = *count[i];
}

// Why the update does not write the value into its question.
std::string refusal_reason(const Carry& carry, const std::string& value) {
  const bool no_value = value.empty() || value == "?";
  switch (carry.refusal) {
    case Refusal::kNoSetupLine:
      return "the update cannot find this question by its name";
    case Refusal::kNothingToTake:
      return "NEW has no value line or options";
    case Refusal::kOptionBlock:
      // A number is what fits a bare Value line.
      return no_value ? "OLD has no value"
             : value_fits(value, ValueLineShape::kBare) ? "NEW has no option [" + value + "]"
                                                        : "NEW takes an option, OLD holds a text";
    case Refusal::kValueLine:
    case Refusal::kNone:
      break;
  }
  if (no_value) return "OLD has no value";
  if (value.front() == '"' && (value.size() < 2 || value.back() != '"')) {
    return "OLD text is too long to carry";
  }
  if (carry.shape == ValueLineShape::kText) return "NEW takes a text, OLD holds a number";
  if (value.front() == '"') return "NEW takes a number, OLD holds a text";
  return "NEW takes a number";
}

// nvram-diff's side of the carry walk: what became of each difference line.
class CarryRecorder : public CarryVisitor {
 public:
  explicit CarryRecorder(std::size_t lines) : carries_(lines) {}
  void done(const Carry& carry) { carries_[carry.line] = carry; }
  const Carry& operator[](std::size_t line) const { return carries_[line]; }

 private:
  std::vector<Carry> carries_;
};

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
  std::string bytes;
  if (!read_input(name, bytes, error)) return false;
  std::vector<ScriptRecord> records;
  scan_script_records(bytes, records);
  if (records.empty()) {
    error = "no setup question in " + name;
    return false;
  }
  script.name = name;
  script.version = stamp_version(bytes);
  script.questions.clear();
  script.questions.reserve(records.size());
  for (const ScriptRecord& r : records) {
    RecordFields fields = split_record(r.line);
    Question q;
    q.key = std::move(fields.key);
    q.place = r.place;
    q.value = std::move(fields.current_value);
    q.setup_offset = static_cast<std::size_t>(r.setup_offset);
    script.questions.push_back(std::move(q));
  }
  script.bytes = std::move(bytes);
  number_copies(script);
  return true;
}

void dress_question(Script& script, std::size_t index) {
  Question& q = script.questions[index];
  if (q.dressed) return;
  q.words = question_words(script.bytes, q.setup_offset);
  q.dressed = true;
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
  std::vector<RecordFields> walked(news.size()), searched(olds.size());
  for (std::size_t i = 0; i < news.size(); ++i) {
    walked[i].key = news[i].key;
    walked[i].current_value = news[i].value;
    walked[i].place = news[i].place;
  }
  for (std::size_t j = 0; j < olds.size(); ++j) {
    searched[j].key = olds[j].key;
    searched[j].current_value = olds[j].value;
    searched[j].place = olds[j].place;
  }
  const std::vector<RecordPair> pairing = pair_records(walked, searched, excluded);

  // The difference lines of the update, in walk order, and what the update's own walk of NEW
  // makes of them.
  Differences differences;
  std::vector<std::size_t> line_of(news.size(), Differences::kNone);
  for (std::size_t i = 0; i < news.size(); ++i) {
    if (!pairing[i].difference_line) continue;
    const std::string& value = olds[static_cast<std::size_t>(pairing[i].partner)].value;
    line_of[i] = differences.size();
    differences.add(news[i].key, value, value == news[i].value);
  }
  CarryRecorder carries(differences.size());
  if (differences.size() > 0) {
    LineSource lines(new_script.bytes);
    walk_carry(lines, differences, carries);
  }

  std::vector<bool> old_paired(olds.size(), false);
  std::vector<Row> changed, same, renamed, only_old, only_new;
  std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> excluded_keys;
  for (std::size_t i = 0; i < news.size(); ++i) {
    if (pairing[i].excluded) {
      ++excluded_keys[news[i].key].second;
      continue;
    }
    long p = pairing[i].partner;
    if (p < 0) {
      only_new.push_back(make_row(Status::kOnlyNew, Row::kNoQuestion, i));
      continue;
    }
    auto j = static_cast<std::size_t>(p);
    old_paired[j] = true;
    const bool differs = olds[j].value != news[i].value;
    if (!differs && !pairing[i].renamed) {
      same.push_back(make_row(Status::kSame, j, i));
      continue;
    }
    Row r = make_row(pairing[i].renamed ? Status::kRenamed : Status::kChanged, j, i);
    if (differs) {
      const Carry& carry = carries[line_of[i]];
      if (carry.refusal != Refusal::kNoSetupLine && carry.setup_offset != news[i].setup_offset) {
        r.reason = "the update writes this value into another question";
      } else {
        r.carried = carry.carried();
        if (!r.carried) r.reason = refusal_reason(carry, olds[j].value);
      }
    }
    (pairing[i].renamed ? renamed : changed).push_back(std::move(r));
  }
  for (std::size_t j = 0; j < olds.size(); ++j) {
    if (old_paired[j]) continue;
    if (is_excluded(olds[j].key, excluded)) ++excluded_keys[olds[j].key].first;
    else only_old.push_back(make_row(Status::kOnlyOld, j, Row::kNoQuestion));
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
  for (const Row& r : renamed) {
    const bool differs = olds[r.old_index].value != news[r.new_index].value;
    c.differing_renamed += differs ? 1 : 0;
    c.not_carried += differs && !r.carried ? 1 : 0;
  }

  report.rows.clear();
  for (auto* part : {&changed, &renamed, &only_old, &only_new, &same}) {
    for (Row& r : *part) report.rows.push_back(std::move(r));
  }
  report.old_script = std::move(old_script);
  report.new_script = std::move(new_script);
}

}  // namespace nvram::diff

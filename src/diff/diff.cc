#include "diff/diff.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <string_view>
#include <utility>

#include "script/file.h"
#include "script/merge.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/record_compare.h"
#include "script/status.h"

namespace nvram::diff {
namespace {

bool read_whole(const std::string& name, std::string& bytes, std::string& error) {
  File in(name, "rb");
  if (!in) {
    error = "cannot open " + name + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fileno(in.get()), &st) == 0 && st.st_size > 0) {
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  }
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in.get())) > 0) bytes.append(buf, n);
  if (std::ferror(in.get())) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  return true;
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

std::string_view next_line(std::string_view s, std::size_t& pos) {
  std::size_t end = s.find('\n', pos);
  std::size_t next = end == std::string_view::npos ? s.size() : end + 1;
  std::string_view line = s.substr(pos, next - pos);
  pos = next;
  return line.substr(0, line.find('\0'));
}

bool is_short(std::string_view line) { return line.size() <= 3; }

// Why a value does not fit a Value line of that shape.
std::string misfit(std::string_view value, ValueLineShape shape) {
  if (value.empty() || value == "?") return "OLD has no value";
  if (value.front() == '"' && (value.size() < 2 || value.back() != '"')) {
    return "OLD text is too long to carry";
  }
  if (shape == ValueLineShape::kText) return "NEW takes a text, OLD holds a number";
  if (value.front() == '"') return "NEW takes a number, OLD holds a text";
  return "NEW takes a number";
}

// Whether the merge writes `value` into the question whose Setup line starts at `setup_offset`:
// its lines up to the first short line, where every Value line must fit the value and an option
// block (from the Options line to its short line) must hold "[value]".
bool value_lands(std::string_view script, std::size_t setup_offset, const std::string& value,
                 std::string& reason) {
  std::size_t pos = setup_offset;
  next_line(script, pos);  // the Setup line
  bool written = false;
  while (pos < script.size()) {
    std::string_view line = next_line(script, pos);
    if (is_short(line)) break;
    if (line.substr(0, 5) == "Value") {
      ValueLineShape shape = value_line_shape(line);
      if (!value_fits(value, shape)) {
        reason = misfit(value, shape);
        return false;
      }
      written = true;
    } else if (line.substr(0, 5) == "Optio") {
      std::vector<std::string> block{std::string(line)};
      while (pos < script.size()) {
        std::string_view option = next_line(script, pos);
        if (is_short(option)) break;
        block.emplace_back(option);
      }
      if (!option_block_takes(value, block)) {
        // A number is what fits a bare Value line.
        const bool number = value_fits(value, ValueLineShape::kBare);
        reason = value == "?" || value.empty() ? "OLD has no value"
                 : number                       ? "NEW has no option [" + value + "]"
                                                : "NEW takes an option, OLD holds a text";
        return false;
      }
      return true;
    }
  }
  if (!written) reason = "NEW has no value line or options";
  return written;
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
    case Status::kOnlyOld: return "only-old";
    case Status::kOnlyNew: return "only-new";
    case Status::kSame: break;
  }
  return "same";
}

bool load_script(const std::string& name, Script& script, std::string& error) {
  std::string bytes;
  if (!read_whole(name, bytes, error)) return false;
  std::vector<ScriptRecord> records;
  int count = 0;
  if (read_script_records(name, records, count) != kOk) {
    error = "cannot read " + name;
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

  // What the merge writes: a key's difference lines go, in script order, to the NEW questions
  // of that key.
  std::unordered_map<std::string, std::vector<const std::string*>> lines_of_key;
  for (std::size_t i = 0; i < news.size(); ++i) {
    if (pairing[i].difference_line) {
      lines_of_key[news[i].key].push_back(&olds[static_cast<std::size_t>(pairing[i].partner)].value);
    }
  }
  std::vector<const std::string*> written(news.size(), nullptr);
  if (!lines_of_key.empty()) {
    std::unordered_map<std::string, std::size_t> handed;
    for (std::size_t i = 0; i < news.size(); ++i) {
      auto it = lines_of_key.find(news[i].key);
      if (it == lines_of_key.end()) continue;
      std::size_t& k = handed[news[i].key];
      if (k < it->second.size()) written[i] = it->second[k++];
    }
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
    if (!differs) {
      // nothing to carry
    } else if (!written[i] || *written[i] != olds[j].value) {
      r.reason = "the update writes the value of another copy of this question here";
    } else {
      r.carried = value_lands(new_script.bytes, news[i].setup_offset, olds[j].value, r.reason);
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
  for (const Row& r : renamed) c.not_carried += r.reason.empty() ? 0 : 1;

  report.rows.clear();
  for (auto* part : {&changed, &renamed, &only_old, &only_new, &same}) {
    for (Row& r : *part) report.rows.push_back(std::move(r));
  }
  report.old_script = std::move(old_script);
  report.new_script = std::move(new_script);
}

}  // namespace nvram::diff

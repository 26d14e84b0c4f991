#include "script/record_compare.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "script/exclusion.h"
#include "script/file.h"
#include "script/line_source.h"
#include "script/partner_search.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {

RecordFields split_record(std::string_view line) {
  RecordFields r;
  std::string* field = nullptr;
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/' || c == '>') break;
    if (c == '}' || c == ']') {
      field = nullptr;
      continue;
    }
    if (field && field->size() < kFieldMax) *field += c;
    if (c == '{') field = &r.key;
    else if (c == '[') field = &r.default_value;
    else if (c == '<') field = &r.current_value;
  }
  return r;
}

std::vector<RecordPair> pair_records(const std::vector<RecordFields>& walked,
                                     const std::vector<RecordFields>& searched,
                                     const ExclusionTable& excluded) {
  PartnerSearch search;
  for (const RecordFields& r : searched) search.add(r.key);

  // How often each key stands in the walked records, and whether one of its pairs differs.
  struct KeySummary {
    std::size_t lines = 0;
    bool differs = false;
  };
  std::unordered_map<std::string_view, KeySummary> keys;
  keys.reserve(walked.size());

  std::vector<RecordPair> pairs;
  pairs.reserve(walked.size());
  for (std::size_t i = 0; i < walked.size(); ++i) {
    RecordPair p{i, PartnerSearch::kNone, false, false};
    KeySummary& summary = keys[walked[i].key];
    ++summary.lines;
    if (is_excluded(walked[i].key, excluded)) {
      p.excluded = true;
    } else {
      p.partner = search.pair(walked[i].key);
      p.difference_line =
          p.partner != PartnerSearch::kNone &&
          searched[static_cast<std::size_t>(p.partner)].current_value != walked[i].current_value;
      if (p.difference_line) summary.differs = true;
    }
    pairs.push_back(p);
  }

  // A repeated key with a difference on any copy gets a line for every paired copy, equal or
  // not: the merge hands a key's lines to its Setup lines in order, so a line for the second copy
  // alone would land on the first.
  for (RecordPair& p : pairs) {
    if (p.partner == PartnerSearch::kNone) continue;
    const KeySummary& summary = keys[walked[p.walked].key];
    if (summary.lines > 1 && summary.differs) p.difference_line = true;
  }
  return pairs;
}

namespace {

// Reads every line of a record file. Returns false when a read failed.
bool load_records(std::FILE* in, std::vector<RecordFields>& records) {
  LineSource lines(in);
  std::string_view piece;
  while (lines.next(piece)) records.push_back(split_record(piece));
  return std::ferror(in) == 0;
}

void print_cannot_open_record(const std::string& name) {
  std::printf("Cannot open %s\r\n", name.c_str());
}

}  // namespace

int process_script_compare(const std::string& new_script, const std::string& dumped_script,
                           int& difference_count) {
  ExclusionTable excluded;
  if (int status = load_exclusion_list(excluded); status != kOk) return status;

  const std::string walked_name = record_file_name(new_script);
  File walked(walked_name, "rb");
  if (!walked) {
    print_cannot_open_record(walked_name);
    return kMissingFile;
  }
  const std::string searched_name = record_file_name(dumped_script);
  File searched(searched_name, "rb");
  if (!searched) {
    print_cannot_open_record(searched_name);
    return kMissingFile;
  }
  OutFile diff("Difftemp.ini", "wb");
  if (!diff) {
    print_cannot_open_record(diff.name());
    return kMissingFile;
  }

  std::vector<RecordFields> searched_records;
  if (!load_records(searched.get(), searched_records)) {
    print_cannot_read(searched_name);
    return kMissingFile;
  }
  // A walked file cut short by a read error still gives the lines of the part read, but the
  // comparison fails once they are written.
  std::vector<RecordFields> walked_records;
  const bool walked_whole = load_records(walked.get(), walked_records);

  int count = 0;
  for (const RecordPair& p : pair_records(walked_records, searched_records, excluded)) {
    if (!p.difference_line) continue;
    const RecordFields& w = walked_records[p.walked];
    diff.write(record_line(w.key, w.default_value,
                           searched_records[static_cast<std::size_t>(p.partner)].current_value));
    ++count;
  }

  if (!diff.finish()) return kMissingFile;
  if (!walked_whole) {
    print_cannot_read(walked_name);
    return kMissingFile;
  }
  walked.close();
  searched.close();
  std::remove(walked_name.c_str());
  std::remove(searched_name.c_str());
  difference_count = count;
  return kOk;
}

}  // namespace nvram

#include "script/record_compare.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "script/exclusion.h"
#include "script/file.h"
#include "script/line_source.h"
#include "script/partner_search.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {
namespace {

struct Record {
  std::string key;
  std::string default_value;
  std::string current_value;
};

// Takes a record line apart. The scan stops at CR, LF, '/' or '>'; '}' and ']' close a field;
// every other character is stored in the open field (if any, and while it holds fewer than 63)
// and then '{', '[' and '<' open the key, the default value and the current value. So an opening
// character met inside a field belongs to that field and also switches to the field it opens.
Record split_record(std::string_view line) {
  Record r;
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

// The searched record file: its current values by line, and the search over its keys.
struct SearchedRecords {
  PartnerSearch search;
  std::vector<std::string> current;
};

void load_searched(std::FILE* in, SearchedRecords& records) {
  LineSource lines(in);
  std::string_view piece;
  while (lines.next(piece)) {
    Record r = split_record(piece);
    records.search.add(std::move(r.key));
    records.current.push_back(std::move(r.current_value));
  }
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

  SearchedRecords records;
  load_searched(searched.get(), records);
  if (std::ferror(searched.get())) {
    print_cannot_read(searched_name);
    return kMissingFile;
  }

  int count = 0;
  LineSource lines(walked.get());
  std::string_view piece;
  while (lines.next(piece)) {
    Record walked_record = split_record(piece);
    if (is_excluded(walked_record.key, excluded)) continue;
    long partner = records.search.pair(walked_record.key);
    if (partner == PartnerSearch::kNone) continue;
    const std::string& dumped_value = records.current[static_cast<std::size_t>(partner)];
    if (dumped_value != walked_record.current_value) {
      diff.write(record_line(walked_record.key, walked_record.default_value, dumped_value));
      ++count;
    }
  }

  if (!diff.finish()) return kMissingFile;
  if (std::ferror(walked.get())) {
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

#include "script/record_compare.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "script/exclusion.h"
#include "script/file.h"
#include "script/line_source.h"
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

// The lines of the searched record file that share one question key, in file order.
struct KeyLines {
  std::vector<std::size_t> line;      // position in the file, counted from 0
  std::vector<std::string> current;   // current value of that line
  // next_free[i] leads (by repeated steps) to the first unpaired slot at or after slot i;
  // slot line.size() stands for "none".
  std::vector<std::size_t> next_free{0};
};

// The searched record file, indexed by question key, and the search position that carries over
// from one search to the next.
class SearchedRecords {
 public:
  void add(std::size_t index, Record r) {
    KeyLines& k = by_key_[std::move(r.key)];
    k.line.push_back(index);
    k.current.push_back(std::move(r.current_value));
    k.next_free.push_back(k.next_free.size());
  }

  // Pairs the key with the first unpaired line of that key at or after the search position, or
  // failing that with the first unpaired one before it: the outcome of reading on from the
  // position to the end and then once more from the top. Returns the partner's current value, or
  // nullptr when there is none. The next search starts after the partner, or at the top after a
  // failed search.
  const std::string* pair(const std::string& key) {
    auto it = by_key_.find(key);
    if (it == by_key_.end()) {
      position_ = 0;
      return nullptr;
    }
    KeyLines& k = it->second;
    const std::size_t none = k.line.size();
    std::size_t ahead = static_cast<std::size_t>(
        std::lower_bound(k.line.begin(), k.line.end(), position_) - k.line.begin());
    std::size_t slot = first_free(k, ahead);
    if (slot == none) slot = first_free(k, 0);
    if (slot == none) {
      position_ = 0;
      return nullptr;
    }
    k.next_free[slot] = slot + 1;
    position_ = k.line[slot] + 1;
    return &k.current[slot];
  }

 private:
  static std::size_t first_free(KeyLines& k, std::size_t slot) {
    while (k.next_free[slot] != slot) {
      k.next_free[slot] = k.next_free[k.next_free[slot]];
      slot = k.next_free[slot];
    }
    return slot;
  }

  std::unordered_map<std::string, KeyLines> by_key_;
  std::size_t position_ = 0;
};

void load_searched(std::FILE* in, SearchedRecords& records) {
  LineSource lines(in);
  std::string_view piece;
  for (std::size_t index = 0; lines.next(piece); ++index) records.add(index, split_record(piece));
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

  int count = 0;
  LineSource lines(walked.get());
  std::string_view piece;
  while (lines.next(piece)) {
    Record walked_record = split_record(piece);
    if (is_excluded(walked_record.key, excluded)) continue;
    const std::string* dumped_value = records.pair(walked_record.key);
    if (dumped_value && *dumped_value != walked_record.current_value) {
      diff.write(record_line(walked_record.key, walked_record.default_value, *dumped_value));
      ++count;
    }
  }

  if (!diff.finish()) return kMissingFile;
  walked.close();
  searched.close();
  std::remove(walked_name.c_str());
  std::remove(searched_name.c_str());
  difference_count = count;
  return kOk;
}

}  // namespace nvram

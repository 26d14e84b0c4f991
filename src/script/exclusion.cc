#include "script/exclusion.h"

#include <algorithm>
#include <cstdio>

#include "script/file.h"
#include "script/line_source.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {

bool read_exclusion_list(std::FILE* in, ExclusionTable& table) {
  table.entries.clear();
  LineSource lines(in);
  std::string_view piece;
  for (int n = 0; n < kExclusionLines && lines.next(piece); ++n) {
    if (!piece.empty() && piece[0] == '/') continue;
    std::string entry;
    for (char c : piece) {
      if (entry.size() == kExclusionEntry) break;
      if (is_visible(static_cast<unsigned char>(c))) entry += c;
    }
    table.entries.push_back(std::move(entry));
  }
  // A list cut short by a read error would let excluded questions through.
  if (std::ferror(in)) {
    table.entries.clear();
    return false;
  }
  return true;
}

int load_exclusion_list(ExclusionTable& table) {
  table.entries.clear();
  File in(kExclusionFile, "r");
  if (!in) {
    std::fputs("can't open Exclude.txt", stdout);
    return kMissingFile;
  }
  if (!read_exclusion_list(in.get(), table)) {
    print_cannot_read(kExclusionFile);
    return kMissingFile;
  }
  return kOk;
}

bool is_excluded(std::string_view key, const ExclusionTable& table) {
  if (table.entries.empty()) return false;
  std::string squeezed;
  squeezed.reserve(key.size());
  for (char c : key) {
    if (c != ' ') squeezed += c;
  }
  return std::find(table.entries.begin(), table.entries.end(), squeezed) != table.entries.end();
}

}  // namespace nvram

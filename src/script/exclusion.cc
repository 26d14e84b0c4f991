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
  table.typed.clear();
  LineSource lines(in);
  std::string_view piece;
  for (int n = 0; n < kExclusionLines && lines.next(piece); ++n) {
    if (!piece.empty() && piece[0] == '/') continue;
    std::string entry;
    for (char c : piece) {
      if (entry.size() == kExclusionEntry) break;
      if (is_visible(static_cast<unsigned char>(c))) entry += c;
    }
    // Compared with keys as record lines write them.
    std::string written = written_key(entry);
    if (written != entry) table.typed.push_back(std::move(entry));
    table.entries.push_back(std::move(written));
  }
  // A list cut short by a read error would let excluded questions through.
  if (std::ferror(in)) {
    table.entries.clear();
    table.typed.clear();
    return false;
  }
  return true;
}

int load_exclusion_list(ExclusionTable& table) {
  table.entries.clear();
  table.typed.clear();
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

namespace {

// Whether the key, with its space characters removed, equals the entry.
bool equals_without_spaces(std::string_view key, std::string_view entry) {
  std::size_t at = 0;
  for (char c : key) {
    if (c == ' ') continue;
    if (at == entry.size() || entry[at] != c) return false;
    ++at;
  }
  return at == entry.size();
}

}  // namespace

bool is_excluded(std::string_view key, const ExclusionTable& table) {
  if (table.entries.empty() && table.typed.empty()) return false;
  // Keys as the reader forms them hold no blank: a plain comparison will do.
  const bool blanks = key.find(' ') != std::string_view::npos;
  auto equal = [key, blanks](const std::string& entry) {
    return blanks ? equals_without_spaces(key, entry) : key == entry;
  };
  return std::any_of(table.entries.begin(), table.entries.end(), equal) ||
         std::any_of(table.typed.begin(), table.typed.end(), equal);
}

ExclusionFilter::ExclusionFilter(const ExclusionTable& table) : table_(table) {
  for (const auto* list : {&table.entries, &table.typed}) {
    for (const std::string& entry : *list) marks_.set(mark(entry));
  }
}

}  // namespace nvram

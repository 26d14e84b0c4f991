#include "script/record_compare.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <string_view>
#include <vector>

#include "script/exclusion.h"
#include "script/file.h"
#include "script/line_source.h"
#include "script/key_table.h"
#include "script/partner_search.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/renamed.h"
#include "script/status.h"
#include "script/string_block.h"

namespace nvram {

namespace {

// The three fields of a record line, held in place: the comparison takes apart every line of both
// record files.
struct FieldBuffer {
  enum { kKey, kDefault, kCurrent, kCount };
  char text[kCount][kFieldMax];
  std::size_t size[kCount];

  std::string_view view(int field) const { return {text[field], size[field]}; }
};

// The rule of split_record(); f's earlier contents are dropped.
void split_fields(std::string_view line, FieldBuffer& f) {
  f.size[0] = f.size[1] = f.size[2] = 0;
  int field = -1;  // none open
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/' || c == '>') break;
    if (c == '}' || c == ']') {
      field = -1;
      continue;
    }
    if (field >= 0 && f.size[field] < kFieldMax) f.text[field][f.size[field]++] = c;
    if (c == '{') field = FieldBuffer::kKey;
    else if (c == '[') field = FieldBuffer::kDefault;
    else if (c == '<') field = FieldBuffer::kCurrent;
  }
}

}  // namespace

RecordFields split_record(std::string_view line) {
  FieldBuffer f;
  split_fields(line, f);
  return RecordFields{std::string(f.view(FieldBuffer::kKey)),
                      std::string(f.view(FieldBuffer::kDefault)),
                      std::string(f.view(FieldBuffer::kCurrent)), {}};
}

namespace {

// The pairing of walked records with searched ones: the first pass pairs the walked records by
// key in walk order and notes the differing pairs; finish() pairs the leftovers by place and gives
// every paired copy of a repeated key with a difference its line. The merge hands a key's lines to
// its Setup lines in order, so a line for the second copy alone would land on the first.
class Pairing {
 public:
  // Adds the next searched record; all are added before the first walked record is paired.
  void add_searched(std::string_view key, std::string_view current_value) {
    search_.add(key);
    current_.add(current_value);
    walked_lines_.push_back(0);
    differs_.push_back(false);
  }

  // The current value of a searched record.
  std::string_view current(long searched) const {
    return current_[static_cast<std::size_t>(searched)];
  }

  // First pass: pairs the next walked record by key and notes whether it differs from its
  // partner. A record left without a partner is kept for the round by place.
  RecordPair pair(std::size_t walked, std::string_view key, std::string_view current_value,
                  const ExclusionTable& excluded) {
    RecordPair p{walked, PartnerSearch::kNone, false, false, false};
    key_of_.push_back(PartnerSearch::kNone);
    if (is_excluded(key, excluded)) {
      p.excluded = true;
      return p;
    }
    long key_id = PartnerSearch::kNone;
    p.partner = search_.pair(key, &key_id);
    if (p.partner == PartnerSearch::kNone) {
      // A key that no searched record holds is numbered after the searched lines.
      if (key_id == PartnerSearch::kNone) key_id = walked_key_id(key);
      renamed_.add_walked(walked, key);
      left_current_.add(current_value);
    }
    key_of_.back() = key_id;
    ++walked_lines_[static_cast<std::size_t>(key_id)];
    if (p.partner != PartnerSearch::kNone && current(p.partner) != current_value) {
      p.difference_line = true;
      differs_[static_cast<std::size_t>(key_id)] = true;
    }
    return p;
  }

  // Whether a walked record is left without a partner: only then are the places needed.
  bool has_leftovers() const { return !renamed_.empty(); }

  // Pairs the leftovers by place (the places of the walked and the searched records), then gives
  // every pair of a repeated key with a difference its line.
  void finish(std::vector<RecordPair>& pairs, const StringBlock& walked_places,
              const StringBlock& searched_places, const ExclusionTable& excluded) {
    for (const RenamedRound::Pair& r :
         renamed_.pair(walked_places, search_, searched_places, excluded)) {
      RecordPair& p = pairs[r.walked];
      p.partner = static_cast<long>(r.searched);
      p.renamed = true;
      if (current(p.partner) != left_current_[r.left]) {
        p.difference_line = true;
        differs_[static_cast<std::size_t>(key_of_[r.walked])] = true;
      }
    }
    for (RecordPair& p : pairs) {
      if (p.partner == PartnerSearch::kNone) continue;
      const auto key_id = static_cast<std::size_t>(key_of_[p.walked]);
      if (walked_lines_[key_id] > 1 && differs_[key_id]) p.difference_line = true;
    }
  }

 private:
  std::uint32_t walked_key_id(std::string_view key) {
    if (walked_keys_.size() == 0) first_walked_id_ = walked_lines_.size();
    const std::size_t id = first_walked_id_ + walked_keys_.add(key);
    if (id == walked_lines_.size()) {
      walked_lines_.push_back(0);
      differs_.push_back(false);
    }
    return static_cast<std::uint32_t>(id);
  }

  PartnerSearch search_;
  StringBlock current_;                      // per searched record
  std::vector<long> key_of_;               // per walked record: its key's first searched line
  std::vector<std::uint32_t> walked_lines_;  // per key (first searched line): walked lines
  std::vector<bool> differs_;                // per key: one of its pairs differs
  RenamedRound renamed_;                     // the walked records left without a partner
  StringBlock left_current_;                 // their current values, in the same order
  KeyTable walked_keys_;                     // walked keys that no searched record holds
  std::size_t first_walked_id_ = 0;         // the number of the first of them
};

}  // namespace

std::vector<RecordPair> pair_records(const std::vector<RecordFields>& walked,
                                     const std::vector<RecordFields>& searched,
                                     const ExclusionTable& excluded) {
  Pairing pairing;
  StringBlock walked_places, searched_places;
  for (const RecordFields& r : searched) {
    pairing.add_searched(r.key, r.current_value);
    searched_places.add(r.place);
  }
  std::vector<RecordPair> pairs;
  pairs.reserve(walked.size());
  for (std::size_t i = 0; i < walked.size(); ++i) {
    pairs.push_back(pairing.pair(i, walked[i].key, walked[i].current_value, excluded));
    walked_places.add(walked[i].place);
  }
  pairing.finish(pairs, walked_places, searched_places, excluded);
  return pairs;
}

namespace {

// The searched record file: the key and current value of every line. Returns false when a read
// failed.
bool load_searched(std::FILE* in, Pairing& pairing) {
  LineSource lines(in);
  std::string_view piece;
  FieldBuffer f;
  while (lines.next(piece)) {
    split_fields(piece, f);
    pairing.add_searched(f.view(FieldBuffer::kKey), f.view(FieldBuffer::kCurrent));
  }
  return std::ferror(in) == 0;
}

void print_cannot_open_record(const std::string& name) {
  std::printf("Cannot open %s\r\n", name.c_str());
}

int compare_record_files(const std::string& new_script, File& walked,
                         const std::string& dumped_script, File& searched,
                         const ExclusionTable& excluded, int& difference_count);

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
  return compare_record_files(new_script, walked, dumped_script, searched, excluded,
                              difference_count);
}

int process_script_compare(const std::string& new_script, const std::string& dumped_script,
                           File& walked, File& searched, int& difference_count) {
  ExclusionTable excluded;
  if (int status = load_exclusion_list(excluded); status != kOk) return status;
  return compare_record_files(new_script, walked, dumped_script, searched, excluded,
                              difference_count);
}

namespace {

int compare_record_files(const std::string& new_script, File& walked,
                         const std::string& dumped_script, File& searched,
                         const ExclusionTable& excluded, int& difference_count) {
  const std::string walked_name = record_file_name(new_script);
  const std::string searched_name = record_file_name(dumped_script);
  OutFile diff("Difftemp.ini", create_anew("Difftemp.ini"));
  if (!diff) {
    print_cannot_open_record(diff.name());
    return kMissingFile;
  }

  Pairing pairing;
  if (!load_searched(searched.get(), pairing)) {
    print_cannot_read(searched_name);
    return kMissingFile;
  }

  // The walked file is read twice rather than held: once to pair its records, once to write the
  // lines. A walked file cut short by a read error still gives the lines of the part read, but
  // the comparison fails once they are written.
  std::vector<RecordPair> pairs;
  FieldBuffer w;
  {
    LineSource lines(walked.get());
    std::string_view piece;
    while (lines.next(piece)) {
      split_fields(piece, w);
      pairs.push_back(pairing.pair(pairs.size(), w.view(FieldBuffer::kKey),
                                   w.view(FieldBuffer::kCurrent), excluded));
    }
  }
  const bool walked_whole = std::ferror(walked.get()) == 0;
  // Records left without a partner are paired by place, read from the scripts themselves; a
  // script that is gone gives its records no place.
  StringBlock new_places, dumped_places;
  if (pairing.has_leftovers()) {
    for (auto [script, places] : {std::pair{&new_script, &new_places}, {&dumped_script, &dumped_places}}) {
      if (!File(*script, "rb")) continue;
      if (int status = read_script_places(*script, *places)) return status;
    }
  }
  pairing.finish(pairs, new_places, dumped_places, excluded);

  int count = 0;
  std::rewind(walked.get());
  LineSource lines(walked.get());
  std::string_view piece;
  for (const RecordPair& p : pairs) {
    if (!lines.next(piece)) break;
    if (!p.difference_line) continue;
    split_fields(piece, w);
    diff.write(record_line(w.view(FieldBuffer::kKey), w.view(FieldBuffer::kDefault),
                           pairing.current(p.partner)));
    ++count;
  }

  if (!diff.finish()) return kMissingFile;
  if (!walked_whole) {
    print_cannot_read(walked_name);
    return kMissingFile;
  }
  remove_if_same(walked_name, walked.get());
  remove_if_same(searched_name, searched.get());
  difference_count = count;
  return kOk;
}

}  // namespace

}  // namespace nvram

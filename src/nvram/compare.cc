#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nvram/commands.h"
#include "script/exclusion.h"
#include "script/file.h"
#include "script/line_source.h"
#include "script/partner_search.h"
#include "script/reader.h"
#include "script/renamed.h"
#include "script/record.h"
#include "script/status.h"
#include "script/string_block.h"

namespace nvram {
namespace {

constexpr char kLiveScript[] = "biostemp.sh";
constexpr char kLiveRecords[] = "biostemp.ini";

// The question key and current value of every line of a record file, as the compare command
// reads them: the scan ends at CR, LF, '/' or '>'; '}' closes the key; '{' and '<' are stored
// (inside a field) and then open the key or the value. The default value is passed over. The
// fields are kept end to end in one block, a record file's worth of lines at a time.
class KeyValues {
 public:
  std::size_t size() const { return fields_.size() / 2; }
  std::string_view key(std::size_t i) const { return fields_[2 * i]; }
  std::string_view value(std::size_t i) const { return fields_[2 * i + 1]; }

  void add_line(std::string_view line) {
    enum { kBeforeKey, kInKey, kBetween, kInValue } state = kBeforeKey;
    char key[kFieldMax], value[kFieldMax];
    std::size_t key_size = 0, value_size = 0;
    for (char c : line) {
      if (c == '\r' || c == '\n' || c == '/' || c == '>') break;
      if (c == '}') {
        state = kBetween;
        continue;
      }
      if (state == kInKey && key_size < kFieldMax) key[key_size++] = c;
      if (state == kInValue && value_size < kFieldMax) value[value_size++] = c;
      if (c == '{') state = kInKey;
      if (c == '<') state = kInValue;
    }
    fields_.add(std::string_view(key, key_size));
    fields_.add(std::string_view(value, value_size));
  }

 private:
  StringBlock fields_;  // each line's key, then its value
};

// Reads a record file that this run has just written. Returns 0, or 3 after "Error, cannot read
// file %s\r\n" when a read failed: a part of the records is not the whole.
int read_records(File& in, const std::string& name, KeyValues& records) {
  LineSource lines(in.get());
  std::string_view piece;
  while (lines.next(piece)) records.add_line(piece);
  if (std::ferror(in.get()) == 0) return kOk;
  print_cannot_read(name);
  return kMissingFile;
}

// The length of a field for "%.*s" (a field holds at most 63 characters).
int len(std::string_view field) { return static_cast<int>(field.size()); }

// The name that a file name conflict of -c reports: the input's, the saved script's where its
// record file is one of the clashing files, else the first working file's.
std::optional<std::string> clash_name(const std::string& saved, const std::string& saved_records) {
  const std::vector<std::string> inputs = {saved, kExclusionFile, kToolFile};
  // The files -c writes, in the order it writes them.
  const std::vector<std::string> written = {kLiveScript, saved_records, kLiveRecords};
  Clash clash = find_clash(inputs, written);
  if (!clash.found) return std::nullopt;
  if (clash.other_is_input) return inputs[clash.other];
  if (clash.written == 1 || clash.other == 1) return saved;
  return written[clash.other];
}

// Prints the two lines of a miscompare when the saved and the live record's values differ.
bool report(const KeyValues& saved, std::size_t s, const KeyValues& live, std::size_t l) {
  if (saved.value(s) == live.value(l)) return false;
  std::printf("ERROR:Saved value for %.*s is %.*s\r\n", len(saved.key(s)), saved.key(s).data(),
              len(saved.value(s)), saved.value(s).data());
  std::printf("       BIOS value for %.*s is %.*s\r\n", len(live.key(l)), live.key(l).data(),
              len(live.value(l)), live.value(l).data());
  return true;
}

}  // namespace

int cmd_compare(const Args& args, ToolRunner& tool) {
  const char* saved_arg = args.at(2);
  if (!saved_arg) {
    std::puts("NVRAM -c [fn]");
    return kUsage;
  }
  const std::string saved = saved_arg;
  const std::string saved_records = record_file_name(saved);
  if (std::optional<std::string> clash = clash_name(saved, saved_records)) {
    print_conflict(*clash);
    return kMissingFile;
  }

  ExclusionTable excluded;
  if (int rc = load_exclusion_list(excluded)) return rc;
  if (int rc = check_tool(tool)) return rc;
  // A live export left from an earlier run must never be compared in place of a fresh one.
  std::remove(kLiveScript);
  if (int rc = run_tool(tool, {"/o", "/s", kLiveScript})) return rc;

  int saved_count = 0;
  int live_count = 0;
  // Each record file is read back through the file this run wrote, never by its name: a saved
  // script shared with other runs has its record file replaced or removed by them at any time.
  File saved_file;
  File live_file;
  int saved_written = 0, live_written = 0;
  if (int rc = process_script_convert(saved, saved_count, saved_file, &saved_written)) return rc;
  if (int rc = process_script_convert(kLiveScript, live_count, live_file, &live_written)) return rc;
  // An empty or foreign script would otherwise compare as "no difference".
  if (int rc = check_setup_question(saved, saved_written)) return rc;
  if (int rc = check_setup_question(kLiveScript, live_written)) return rc;

  // A record file that cannot be read back fails like its conversion, before the report begins.
  KeyValues live;
  if (int rc = read_records(live_file, kLiveRecords, live)) return rc;
  KeyValues saved_lines;
  if (int rc = read_records(saved_file, saved_records, saved_lines)) return rc;
  std::puts("\r\nMiscompare Notification\r");

  PartnerSearch search;
  for (std::size_t i = 0; i < saved_lines.size(); ++i) search.add(saved_lines.key(i));
  RenamedRound renamed;  // the live questions that the walk leaves without a partner
  bool miscompare = false;
  int counter = 0;
  for (std::size_t i = 0; i < live.size(); ++i) {
    const std::string_view key = live.key(i);
    ++counter;
    if (is_excluded(key, excluded)) continue;
    // Past the live export's record count, a search that runs off the end of the saved records
    // announces the end of the comparison; the question is still compared after the wrap.
    if (counter >= live_count && search.ahead(key) == PartnerSearch::kNone) {
      std::puts("\r\n== Complete MISCOMPARE Function ==\r");
    }
    long at = search.pair(key);
    if (at == PartnerSearch::kNone) {
      renamed.add_walked(i, key);
      continue;
    }
    miscompare |= report(saved_lines, static_cast<std::size_t>(at), live, i);
  }
  // Questions renamed by a live reading in their text, in the order of the live records.
  if (!renamed.empty()) {
    StringBlock live_places, saved_places;
    if (int rc = read_script_places(kLiveScript, live_places)) return rc;
    if (int rc = read_script_places(saved, saved_places)) return rc;
    for (const RenamedRound::Pair& p : renamed.pair(live_places, search, saved_places, excluded)) {
      miscompare |= report(saved_lines, p.searched, live, p.walked);
    }
  }
  return miscompare ? kMiscompare : kOk;
}

}  // namespace nvram

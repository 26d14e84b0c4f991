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
#include "script/record.h"
#include "script/status.h"

namespace nvram {
namespace {

constexpr char kLiveScript[] = "biostemp.sh";
constexpr char kLiveRecords[] = "biostemp.ini";

// The question key and current value of a record line, as the compare command reads them: the
// scan ends at CR, LF, '/' or '>'; '}' closes the key; '{' and '<' are stored (inside a field)
// and then open the key or the value. The default value is passed over.
struct KeyValue {
  std::string key;
  std::string value;
};

KeyValue scan_record(std::string_view line) {
  enum { kBeforeKey, kInKey, kBetween, kInValue } state = kBeforeKey;
  KeyValue kv;
  for (char c : line) {
    if (c == '\r' || c == '\n' || c == '/' || c == '>') break;
    if (c == '}') {
      state = kBetween;
      continue;
    }
    if (state == kInKey && kv.key.size() < kFieldMax) kv.key += c;
    if (state == kInValue && kv.value.size() < kFieldMax) kv.value += c;
    if (c == '{') state = kInKey;
    if (c == '<') state = kInValue;
  }
  return kv;
}

bool read_records(const std::string& name, std::vector<KeyValue>& records) {
  File in(name, "rb");
  if (!in) return false;
  LineSource lines(in.get());
  std::string_view piece;
  while (lines.next(piece)) records.push_back(scan_record(piece));
  return true;
}

// The name that a file name conflict of -c reports: the input's, the saved script's where its
// record file is one of the clashing files, else the first working file's.
std::optional<std::string> clash_name(const std::string& saved, const std::string& saved_records) {
  const std::vector<std::string> inputs = {saved, kExclusionFile};
  // The files -c writes, in the order it writes them.
  const std::vector<std::string> written = {kLiveScript, saved_records, kLiveRecords};
  Clash clash = find_clash(inputs, written);
  if (!clash.found) return std::nullopt;
  if (clash.other_is_input) return inputs[clash.other];
  if (clash.written == 1 || clash.other == 1) return saved;
  return written[clash.other];
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
  if (int rc = process_script_convert(saved, saved_count)) return rc;
  if (int rc = process_script_convert(kLiveScript, live_count)) return rc;

  std::puts("\r\nMiscompare Notification\r");
  std::vector<KeyValue> live;
  if (!read_records(kLiveRecords, live)) {
    std::puts("Cannot open biostemp.ini\r");
    return kMissingFile;
  }
  std::vector<KeyValue> saved_lines;
  if (!read_records(saved_records, saved_lines)) {
    std::printf("Cannot open %s\r\n", saved_records.c_str());
    return kMissingFile;
  }

  PartnerSearch search;
  for (const KeyValue& line : saved_lines) search.add(line.key);
  bool miscompare = false;
  int counter = 0;
  for (const KeyValue& sys : live) {
    ++counter;
    if (is_excluded(sys.key, excluded)) continue;
    // Past the live export's record count, a search that runs off the end of the saved records
    // announces the end of the comparison; the question is still compared after the wrap.
    if (counter >= live_count && search.ahead(sys.key) == PartnerSearch::kNone) {
      std::puts("\r\n== Complete MISCOMPARE Function ==\r");
    }
    long at = search.pair(sys.key);
    if (at == PartnerSearch::kNone) continue;
    const KeyValue* partner = &saved_lines[static_cast<std::size_t>(at)];
    if (partner->value != sys.value) {
      std::printf("ERROR:Saved value for %s is %s\r\n", partner->key.c_str(), partner->value.c_str());
      std::printf("       BIOS value for %s is %s\r\n", sys.key.c_str(), sys.value.c_str());
      miscompare = true;
    }
  }
  return miscompare ? kMiscompare : kOk;
}

}  // namespace nvram

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nvram/commands.h"
#include "script/exclusion.h"
#include "script/file.h"
#include "script/pairing.h"
#include "script/reader.h"
#include "script/record_compare.h"
#include "script/record.h"
#include "script/status.h"

namespace nvram {
namespace {

constexpr char kLiveScript[] = "biostemp.sh";
constexpr char kLiveRecords[] = "biostemp.ini";

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

// Prints the two lines of a miscompare when the saved and the live question's values differ. The
// lines are put together in `lines` (kept between calls) and written at once.
bool report(const ScriptReading& saved, std::size_t s, const ScriptReading& live, std::size_t l,
            std::string& lines) {
  const std::string_view saved_value = saved.current_value(s), live_value = live.current_value(l);
  if (saved_value == live_value) return false;
  lines.assign("ERROR:Saved value for ").append(saved.key(s)).append(" is ").append(saved_value);
  lines.append("\r\n       BIOS value for ").append(live.key(l)).append(" is ").append(live_value);
  lines.append("\r\n");
  std::fwrite(lines.data(), 1, lines.size(), stdout);
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
  if (writes_tool({kLiveScript, saved_records, kLiveRecords})) return kMissingFile;

  ExclusionTable excluded;
  if (int rc = load_exclusion_list(excluded)) return rc;
  if (int rc = check_tool(tool)) return rc;

  // Each script is read once, and its questions are compared as this run read them: a saved
  // script shared with other runs has its record file replaced or removed by them at any time.
  // The saved script is read while the tool exports the live settings, and the export beside it
  // once it is there; their messages and record files still come in that order, after the tool's.
  ScriptReading saved_questions, live;
  File saved_file, live_file;
  BackgroundConversion saved_conversion(saved, saved_questions);
  // A live export left from an earlier run must never be compared in place of a fresh one.
  remove_name(kLiveScript);
  if (int rc = run_tool(tool, {"/o", "/s", kLiveScript})) return rc;
  BackgroundConversion live_conversion(kLiveScript, live);
  if (int rc = saved_conversion.finish(saved_file)) return rc;
  if (int rc = live_conversion.finish(live_file)) return rc;
  // An empty or foreign script would otherwise compare as "no difference".
  if (int rc = check_setup_question(saved, saved_questions)) return rc;
  if (int rc = check_setup_question(kLiveScript, live)) return rc;
  const Pairing pairing = pair_questions(live, saved_questions, excluded);
  // A saved script of another board, or a file that only looks like a script, shares no question
  // with the live settings: it must not pass for one that agrees with them.
  if (shares_no_question(live, saved_questions, pairing)) {
    std::printf("Error, no question of %s is in the live settings\r\n", saved.c_str());
    return kMissingFile;
  }
  std::puts("\r\nMiscompare Notification\r");

  // Each live question is compared with its partner at its place in the walk. Past the live
  // export's record count, a search by key that runs off the end of the saved questions announces
  // the end of the comparison; the question is still compared after the wrap.
  const int live_count = live.closed_count();
  bool miscompare = false;
  int counter = 0;
  std::string lines;
  for (std::size_t i = 0; i < live.size(); ++i) {
    const QuestionPair& p = pairing.walked[i];
    ++counter;
    if (p.excluded) continue;
    if (p.ran_off_end && counter >= live_count) std::puts("\r\n== Complete MISCOMPARE Function ==\r");
    if (p.partner >= 0)
      miscompare |= report(saved_questions, static_cast<std::size_t>(p.partner), live, i, lines);
  }
  return miscompare ? kMiscompare : kOk;
}

}  // namespace nvram

#include <cstdio>
#include <string>
#include <vector>

#include "nvram/commands.h"
#include "script/exclusion.h"
#include "script/file.h"
#include "script/merge.h"
#include "script/reader.h"
#include "script/record.h"
#include "script/record_compare.h"
#include "script/status.h"

namespace nvram {
namespace {

constexpr char kDifferences[] = "Difftemp.ini";
constexpr char kMerged[] = "merged.txt";

}  // namespace

int update_files(const std::string& dumped, const std::string& update) {
  // The records are compared as this run read them: another run that shares a script may
  // replace or remove the record file at its name meanwhile.
  // The dumped script is read in another thread while the new one is read here.
  ScriptReading update_reading, dumped_reading;
  File update_records, dumped_records;
  BackgroundConversion dumped_conversion(dumped, dumped_reading);
  if (process_script_convert(update, update_reading, update_records, true) != kOk) {
    if (int rc = process_script_convert(update, update_reading, update_records, true)) return rc;
  }
  if (int rc = dumped_conversion.finish(dumped_records)) return rc;
  // A script without a question would carry no setting and import the new script as it stands.
  if (check_setup_question(update, update_reading) || check_setup_question(dumped, dumped_reading)) {
    // Like the comparison, it removes only the record files that are still this run's own.
    remove_if_same(record_file_name(update), update_records);
    remove_if_same(record_file_name(dumped), dumped_records);
    return kMissingFile;
  }
  std::vector<Difference> differences;
  std::vector<NotCarried> lost;
  int difference_count = 0;
  if (int rc = process_script_compare(update, update_reading, update_records, dumped, dumped_reading,
                                      dumped_records, differences, lost, difference_count))
    return rc;
  return use_different_create_merged(update_reading, std::move(differences), kMerged, lost);
}

int cmd_update(const Args& args, ToolRunner& tool) {
  if (!args.at(2) || !args.at(3)) {
    std::puts("NVRAM -u [fn1,fn2,fn3,fn4]");
    return kUsage;
  }
  const std::string dumped = args.at(2);
  const std::string update = args.at(3);
  // The resource and defaults files go to the tool only as a pair.
  const bool resources = args.at(4) && args.at(5);

  std::vector<std::string> inputs = {dumped, update, kExclusionFile};
  if (resources) {
    inputs.emplace_back(args.at(4));
    inputs.emplace_back(args.at(5));
  }
  // The files -u writes, in the order it writes them.
  const std::vector<std::string> outputs = {record_file_name(update), record_file_name(dumped),
                                            kDifferences, kMerged};
  if (Clash clash = find_clash(inputs, outputs); clash.found) {
    print_conflict(clash.other_is_input ? inputs[clash.other] : outputs[clash.other]);
    return kMissingFile;
  }
  if (writes_tool(outputs)) return kMissingFile;

  if (int rc = update_files(dumped, update)) return rc;

  std::vector<std::string> words = {"/i", "/q", "/s", kMerged};
  if (resources) words.insert(words.end(), {"/rh", args.at(4), "/rd", args.at(5)});
  if (int rc = check_tool(tool)) return rc;
  return run_tool(tool, words);
}

}  // namespace nvram

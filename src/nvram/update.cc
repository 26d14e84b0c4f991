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

int cmd_update(const Args& args, ToolRunner& tool) {
  if (!args.at(2) || !args.at(3)) {
    std::puts("NVRAM -u [fn1,fn2,fn3,fn4]");
    return kUsage;
  }
  const std::string dumped = args.at(2);
  const std::string update = args.at(3);
  // The resource and defaults files go to the tool only as a pair.
  const bool resources = args.at(4) && args.at(5);

  std::vector<std::string> inputs = {dumped, update, kExclusionFile, kToolFile};
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

  int update_count = 0;
  int dumped_count = 0;
  int differences = 0;
  // The records are compared through the files this run wrote: another run that shares a script
  // may replace or remove the record file at its name meanwhile.
  File update_records;
  File dumped_records;
  int update_written = 0, dumped_written = 0;
  if (process_script_convert(update, update_count, update_records, &update_written) != kOk) {
    if (int rc = process_script_convert(update, update_count, update_records, &update_written))
      return rc;
  }
  if (int rc = process_script_convert(dumped, dumped_count, dumped_records, &dumped_written))
    return rc;
  // A script without a question would carry no setting and import the new script as it stands.
  if (check_setup_question(update, update_written) || check_setup_question(dumped, dumped_written)) {
    // Like the comparison, it removes only the record files that are still this run's own.
    remove_if_same(record_file_name(update), update_records.get());
    remove_if_same(record_file_name(dumped), dumped_records.get());
    return kMissingFile;
  }
  if (int rc = process_script_compare(update, dumped, update_records, dumped_records, differences))
    return rc;
  if (int rc = use_different_create_merged(update, kDifferences, kMerged)) return rc;

  std::vector<std::string> words = {"/i", "/q", "/s", kMerged};
  if (resources) words.insert(words.end(), {"/rh", args.at(4), "/rd", args.at(5)});
  if (int rc = check_tool(tool)) return rc;
  return run_tool(tool, words);
}

}  // namespace nvram

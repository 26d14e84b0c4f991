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

// The files -u writes, in the order it writes them, must be neither one of its inputs nor each
// other. Returns the name to report, or nullptr when nothing clashes.
const std::string* find_clash(const std::vector<std::string>& inputs,
                              const std::vector<std::string>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (const std::string& in : inputs) {
      if (same_file(outputs[i], in)) return &in;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (same_file(outputs[i], outputs[j])) return &outputs[j];
    }
  }
  return nullptr;
}

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

  std::vector<std::string> inputs = {dumped, update, kExclusionFile};
  if (resources) {
    inputs.emplace_back(args.at(4));
    inputs.emplace_back(args.at(5));
  }
  const std::vector<std::string> outputs = {record_file_name(update), record_file_name(dumped),
                                            kDifferences, kMerged};
  if (const std::string* clash = find_clash(inputs, outputs)) {
    print_conflict(*clash);
    return kMissingFile;
  }

  int update_count = 0;
  int dumped_count = 0;
  int differences = 0;
  if (process_script_convert(update, update_count) != kOk) {
    if (int rc = process_script_convert(update, update_count)) return rc;
  }
  if (int rc = process_script_convert(dumped, dumped_count)) return rc;
  if (int rc = process_script_compare(update, dumped, differences)) return rc;
  if (int rc = use_different_create_merged(update, kDifferences, kMerged)) return rc;

  std::vector<std::string> words = {"/i", "/q", "/s", kMerged};
  if (resources) words.insert(words.end(), {"/rh", args.at(4), "/rd", args.at(5)});
  if (int rc = check_tool(tool)) return rc;
  return run_tool(tool, words);
}

}  // namespace nvram

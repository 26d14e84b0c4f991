#include <cstdio>
#include <string>
#include <vector>

#include "nvram/commands.h"
#include "script/file.h"
#include "script/status.h"

namespace nvram {
namespace {

struct VariableCommand {
  char letter;
  const char* hint;
  const char* list_file;
  const char* list_text;
  bool get;              // get commands write the user's file and a database by-product
  const char* database;  // the by-product of a get command
};

constexpr char kPasswordList[] =
    "[VARIABLE]\r\n"
    "VARIABLE_NAME = AMITSESetup\r\n"
    "VARIABLE_GUID = c811fa38-42c8-4579-a9bb-60e94eddfb34\r\n";

constexpr char kHddList[] =
    "[VARIABLE]\r\n"
    "VARIABLE_NAME = FBOSetDevOrder\r\n"
    "VARIABLE_GUID = 0c923ca9-df73-4ac8-b6d2-98ddc30d99fc\r\n\r\n"
    "[VARIABLE]\r\n"
    "VARIABLE_NAME = QZBBootSataNumDataGuid\r\n"
    "VARIABLE_GUID = f67bdcdb-b493-49b7-9e01-bfa1294028ac\r\n\r\n";

constexpr VariableCommand kCommands[] = {
    {'p', "NVRAM -p [fn]", "pwd.lst", kPasswordList, true, "t01.db"},
    {'r', "NVRAM -r [fn]", "pwd.lst", kPasswordList, false, nullptr},
    {'g', "NVRAM -g [fn]", "hdd.lst", kHddList, true, "t02.db"},
    {'j', "NVRAM -j [fn]", "hdd.lst", kHddList, false, nullptr},
};

}  // namespace

int cmd_variables(char letter, const Args& args, ToolRunner& tool) {
  const VariableCommand* cmd = nullptr;
  for (const VariableCommand& c : kCommands) {
    if (c.letter == letter) cmd = &c;
  }
  if (!cmd) return kUsage;

  const char* user_file = args.at(2);
  if (!user_file) {
    std::puts(cmd->hint);
    return kUsage;
  }
  if (same_file(user_file, cmd->list_file) || (cmd->database && same_file(user_file, cmd->database))) {
    print_conflict(user_file);
    return kMissingFile;
  }
  // The list file linked to the database would be written over by the tool that reads it.
  if (cmd->database && same_file(cmd->list_file, cmd->database)) {
    print_conflict(cmd->list_file);
    return kMissingFile;
  }
  if (writes_tool({cmd->list_file, cmd->get ? user_file : "", cmd->database ? cmd->database : ""}))
    return kMissingFile;

  OutFile list(cmd->list_file, create_anew(cmd->list_file));
  if (!list) {
    print_cannot_open(cmd->list_file);
    return kMissingFile;
  }
  list.write(cmd->list_text);
  if (!list.finish()) return kMissingFile;

  if (int rc = check_tool(tool)) return rc;
  std::vector<std::string> words =
      cmd->get ? std::vector<std::string>{"/o", "/l", cmd->list_file, "/n", user_file, "/h", cmd->database}
               : std::vector<std::string>{"/i", "/l", cmd->list_file, "/f", "/n", user_file};
  if (int rc = run_tool(tool, words)) return rc;

  std::remove(cmd->list_file);
  if (cmd->database) std::remove(cmd->database);
  return kOk;
}

}  // namespace nvram

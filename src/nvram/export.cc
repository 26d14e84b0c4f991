#include "nvram/export.h"

#include <cstdio>
#include <cstring>

#include "nvram/commands.h"
#include "nvram/privilege.h"
#include "script/file.h"
#include "script/status.h"

namespace nvram {
namespace {

constexpr char kExportFile[] = "temp.txt";

std::string stamp_line(std::string_view bios_version) {
  std::string line = "// BIOS_VERSION = ";
  line += bios_version;
  if (bios_version.find('\n') == std::string_view::npos) line += '\n';
  return line;
}

}  // namespace

std::string stamped_head(std::string_view block, std::string_view output_name,
                         std::string_view bios_version) {
  std::string_view text = block.substr(0, block.find('\0'));
  std::size_t p = text.find("temp");
  if (p == std::string_view::npos || p > kLastNamePos) return stamp_line(bios_version).append(block);

  std::string head(block.substr(0, p));
  head += output_name;
  head += '\n';
  head += stamp_line(bios_version);
  if (p + kDroppedBytes < block.size()) head += block.substr(p + kDroppedBytes);
  return head;
}

int cmd_export(const Args& args, ToolRunner& tool, const char* bios_version) {
  const char* db = args.at(2);
  const char* out_name = args.at(3);
  if (!db || !out_name) {
    std::puts("NVRAM -s [fn1,fn2]");
    return kMissingFile;
  }
  // The tool writes the export and the database file; the command writes the output script.
  // No two of them may be one file.
  if (same_file(db, kExportFile) || same_file(db, out_name)) {
    print_conflict(db);
    return kMissingFile;
  }
  if (same_file(out_name, kExportFile)) {
    print_conflict(out_name);
    return kMissingFile;
  }
  if (writes_tool({db, kExportFile, out_name})) return kMissingFile;

  if (int rc = check_tool(tool)) return rc;
  // An export left from an earlier run must not pass for this machine's settings.
  std::remove(kExportFile);
  if (int rc = run_tool(tool, {"/o", "/s", kExportFile, "/h", db})) return rc;

  File in(kExportFile, "rb");
  if (!in) {
    print_cannot_open(kExportFile);
    return kMissingFile;
  }
  char block[kFirstBlock];
  std::size_t got = std::fread(block, 1, sizeof block, in.get());

  // The old output stays whole until the new one is complete on disk.
  ReplacingFile out(out_name);
  if (!out) {
    print_cannot_open(out_name);
    return kMissingFile;
  }
  out.write(stamped_head(std::string_view(block, got), out_name, bios_version));
  char chunk[kFirstBlock];
  while ((got = std::fread(chunk, 1, sizeof chunk, in.get())) > 0) out.write({chunk, got});
  bool read_failed = std::ferror(in.get()) != 0;
  in.close();
  if (read_failed) {
    // Only part of the export was read: the old output stays, and the export for another try.
    print_cannot_read(kExportFile);
    return kMissingFile;
  }
  if (!out.commit()) return kMissingFile;
  std::remove(kExportFile);
  set_io_privilege(0);
  return kOk;
}

}  // namespace nvram

// The export command (-s) with a fake tool whose export is arbitrary, under an arbitrary output
// name and BIOS version. Input: the export, "\n%%\n", the output name, "\n%%\n", the version.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "nvram/commands.h"
#include "nvram/tool.h"

namespace {

// Writes the export and the database file for "/o /s temp.txt /h db.bin".
class FakeTool : public nvram::ToolRunner {
 public:
  explicit FakeTool(const std::string& exported) : exported_(exported) {}
  bool present() override { return true; }
  nvram::ProcessResult run(const std::vector<std::string>& args) override {
    FUZZ_CHECK(args.size() == 5 && args[2] == "temp.txt" && args[4] == "db.bin");
    fuzz::write_file(args[2], exported_);
    fuzz::write_file(args[4], "database\n");
    ran = true;
    nvram::ProcessResult r;
    r.started = true;
    return r;
  }
  bool ran = false;

 private:
  const std::string& exported_;
};

// The output script, piece by piece: the export up to "temp" (searched in its first 64 bytes up to
// their first NUL, at an offset of at most 55), the name, the stamp line, the export from 9 bytes
// after "temp" on. Without such a "temp": the stamp line, then the whole export.
std::string expected_output(const std::string& exported, const std::string& name,
                            const std::string& version) {
  std::string stamp = "// BIOS_VERSION = " + version;
  if (version.find('\n') == std::string::npos) stamp += '\n';
  std::string block = exported.substr(0, 64);
  std::size_t p = block.substr(0, block.find('\0')).find("temp");
  if (p == std::string::npos || p > 55) return stamp + exported;
  std::string out = exported.substr(0, p) + name + "\n" + stamp;
  if (p + 9 < exported.size()) out += exported.substr(p + 9);
  return out;
}

std::string output_name(std::string name) {
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.size() > 200) name.resize(200);
  if (name.empty()) name = "out.txt";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDir scratch;
  std::vector<std::string> parts = fuzz::split_input(data, size, 3);
  const std::string& exported = parts[0];
  std::string name = output_name(parts[1]);
  // The version field: the first 15 bytes of dmidecode's output, up to a NUL.
  std::string version = parts[2].substr(0, parts[2].find('\0')).substr(0, 15);

  FakeTool tool(exported);
  std::vector<char> a0(std::begin("NVRAM"), std::end("NVRAM"));
  std::vector<char> a1(std::begin("-s"), std::end("-s"));
  std::vector<char> a2(std::begin("db.bin"), std::end("db.bin"));
  std::vector<char> a3(name.c_str(), name.c_str() + name.size() + 1);
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
  int status = nvram::cmd_export(nvram::Args{4, argv}, tool, version.c_str());

  // The output would be a file the tool writes, or the tool itself.
  if (name == "temp.txt" || name == "db.bin" || name == "SCELNX_64") {
    FUZZ_CHECK(status == 3 && !tool.ran && !fuzz::file_exists("temp.txt"));
    return 0;
  }
  FUZZ_CHECK(tool.ran);
  if (name == "." || name == "..") {  // cannot be created: the export stays
    FUZZ_CHECK(status == 3 && fuzz::read_file("temp.txt") == exported);
    return 0;
  }
  FUZZ_CHECK(status == 0);
  FUZZ_CHECK(!fuzz::file_exists("temp.txt"));
  FUZZ_CHECK(fuzz::read_file(name) == expected_output(exported, name, version));
  return 0;
}

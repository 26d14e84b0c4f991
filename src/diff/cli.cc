#include "diff/cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "diff/diff.h"
#include "diff/report.h"
#include "script/exclusion.h"
#include "script/file.h"

namespace nvram::diff {
namespace {

constexpr int kSame = 0;
constexpr int kDiffers = 1;
constexpr int kTrouble = 2;

int trouble(const std::string& message) {
  std::fprintf(stderr, "nvram-diff: %s\n", message.c_str());
  return kTrouble;
}

bool load_exclusions(const std::string& name, ExclusionTable& table, std::string& error) {
  File in(name, "r");
  if (!in) {
    error = "cannot open " + name + ": " + std::strerror(errno);
    return false;
  }
  if (!read_exclusion_list(in.get(), table)) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Reads both scripts, side by side in two threads unless one is standard input. False with the
// message of the first that fails.
bool load_scripts(const std::string& old_name, Script& old_script, const std::string& new_name,
                  Script& new_script, std::string& error) {
  if (old_name == "-" || new_name == "-") {
    return load_script(old_name, old_script, error) && load_script(new_name, new_script, error);
  }
  bool old_read = false;
  std::string old_error;
  std::exception_ptr failure;
  std::thread reader([&] {
    try {
      old_read = load_script(old_name, old_script, old_error);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  const bool new_read = load_script(new_name, new_script, error);
  reader.join();
  if (failure) std::rethrow_exception(failure);
  if (!old_read) error = old_error;
  return old_read && new_read;
}

bool color_wanted(const std::string& mode) {
  if (mode == "always") return true;
  if (mode == "never") return false;
  // Anyone who sets NO_COLOR (to anything but the empty text) wants no colour unless asked.
  const char* no_color = std::getenv("NO_COLOR");
  if (no_color && *no_color) return false;
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

int run(int argc, char** argv) {
  set_cut_short_report("nvram-diff: cannot read ", ": the file was cut short while it was read\n",
                       STDERR_FILENO, kTrouble);
  CLI::App app{
      "Compares two setup scripts as an update from OLD into NEW sees them: the questions whose\n"
      "current value differs, those that only one script holds, renamed questions, and the\n"
      "values that an update cannot carry. Exit status 0: no difference, 1: differences,\n"
      "2: trouble.",
      "nvram-diff"};
  std::string old_name, new_name, exclude_name, format = "text", color = "auto";
  bool all = false, quiet = false;
  app.add_option("OLD", old_name, "the dumped (old) setup script")->required();
  app.add_option("NEW", new_name, "the new update script")->required();
  app.add_option("--exclude", exclude_name,
                 "pass over the questions this exclusion list names (the Exclude.txt format)")
      ->type_name("FILE");
  app.add_option("--format", format, "report format")
      ->check(CLI::IsMember({"text", "json", "csv"}))
      ->type_name("text|json|csv");
  app.add_option("--color", color, "colour in the text report")
      ->check(CLI::IsMember({"never", "always", "auto"}))
      ->type_name("never|always|auto");
  app.add_flag("--all", all, "list the agreeing questions too");
  app.add_flag("-q,--quiet", quiet, "print no report; the exit status tells");
  app.set_version_flag("--version", std::string("nvram-diff ") + NVRAM_DIFF_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return trouble(std::string(e.what()) + " (see nvram-diff --help)");
  }

  std::string error;
  ExclusionTable excluded;
  if (!exclude_name.empty() && !load_exclusions(exclude_name, excluded, error)) return trouble(error);
  Script old_script, new_script;
  if (!load_scripts(old_name, old_script, new_name, new_script, error)) return trouble(error);

  Report report;
  compare_scripts(std::move(old_script), std::move(new_script), excluded, report);
  const int status = report.differs() ? kDiffers : kSame;
  if (quiet) return status;
  dress_report(report, all);

  ReportOptions options;
  options.all = all;
  options.color = format == "text" && color_wanted(color);
  const std::string out = format == "json"  ? format_json(report, options)
                          : format == "csv" ? format_csv(report, options)
                                            : format_text(report, options);
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    return trouble(std::string("cannot write the report: ") + std::strerror(errno));
  }
  return status;
}

}  // namespace

int diff_main(int argc, char** argv) {
  // The one exception that can reach here: a script too large for the memory at hand.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    return trouble("out of memory");
  }
}

}  // namespace nvram::diff

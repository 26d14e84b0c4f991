// A simulated setup-control tool: answers the command lines that NVRAM sends to ./SCELNX_64,
// working on one simulated machine kept in a state directory. Successful runs print nothing;
// a refused run prints one line on stderr and exits with code 1, changing nothing.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sim_baked.h"
#include "sim_script.h"
#include "sim_state.h"

namespace sim {
namespace {

constexpr const char* kNewBiosVersion = "XB0A13\n";

int fail(const std::string& reason) {
  std::string line = reason;
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 32) c = '?';  // keep the reason on one line
  std::fprintf(stderr, "SCELNX_64: %s\n", line.c_str());
  return 1;
}

std::string lower(std::string s) {
  for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

// With SCELNX_SIM_LOG set, every run appends its argument words to that file as one line;
// words holding blanks, quotes, backslashes or control characters are quoted C-style.
void log_words(const std::vector<std::string>& words) {
  const char* path = std::getenv("SCELNX_SIM_LOG");
  if (path == nullptr || *path == '\0') return;
  std::string line;
  for (const std::string& w : words) {
    bool plain = !w.empty();
    for (unsigned char c : w) plain = plain && c > ' ' && c != '"' && c != '\\' && c != 127;
    line += line.empty() ? "" : " ";
    if (plain) {
      line += w;
      continue;
    }
    line += '"';
    for (unsigned char c : w) {
      char esc[8];
      if (c == '"' || c == '\\') {
        line += '\\';
        line += static_cast<char>(c);
      } else if (c < ' ' || c == 127) {
        std::snprintf(esc, sizeof esc, "\\x%02x", c);
        line += esc;
      } else {
        line += static_cast<char>(c);
      }
    }
    line += '"';
  }
  if (std::FILE* f = std::fopen(path, "ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

struct Request {
  bool out = false, in = false, quiet = false, force = false;
  std::optional<std::string> script, list, name, db, resource, defaults;
};

bool parse_request(const std::vector<std::string>& words, Request& r, std::string& error) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string sw = lower(words[i]);
    bool* flag = sw == "/o" ? &r.out : sw == "/i" ? &r.in : sw == "/q" ? &r.quiet
               : sw == "/f" ? &r.force : nullptr;
    std::optional<std::string>* value = sw == "/s" ? &r.script : sw == "/l" ? &r.list
                                      : sw == "/n" ? &r.name : sw == "/h" ? &r.db
                                      : sw == "/rh" ? &r.resource : sw == "/rd" ? &r.defaults
                                      : nullptr;
    if (flag == nullptr && value == nullptr) {
      error = "unknown switch " + words[i];
      return false;
    }
    if (flag != nullptr ? *flag : value->has_value()) {
      error = "switch " + sw + " given twice";
      return false;
    }
    if (flag != nullptr) {
      *flag = true;
    } else if (i + 1 < words.size()) {
      *value = words[++i];
    } else {
      error = "switch " + sw + " needs a file name";
      return false;
    }
  }
  if (r.out == r.in) {
    error = "give one of /o (export) and /i (import)";
    return false;
  }
  if (r.script.has_value() == r.list.has_value()) {
    error = "give one of /s (setup script) and /l (variable list)";
    return false;
  }
  // Which of the other switches each of the four commands takes.
  const char* misplaced = nullptr;
  if (r.script) {
    if (r.name) misplaced = "/n";
    if (r.force) misplaced = "/f";
    if (r.out && (r.resource || r.defaults)) misplaced = r.resource ? "/rh" : "/rd";
    if (r.in && r.db) misplaced = "/h";
  } else {
    if (!r.name) {
      error = "/l needs /n with the data file";
      return false;
    }
    if (r.resource || r.defaults) misplaced = r.resource ? "/rh" : "/rd";
    if (r.out && r.force) misplaced = "/f";
    if (r.in && r.db) misplaced = "/h";
  }
  if (misplaced != nullptr) {
    error = std::string("switch ") + misplaced + " does not go with " + (r.out ? "/o " : "/i ") +
            (r.script ? "/s" : "/l");
    return false;
  }
  return true;
}

bool write_db(const std::string& dir, const std::optional<std::string>& db, std::string& error) {
  if (!db) return true;
  std::string version;
  if (!read_file(dir + "/version", version)) version = "unknown\n";
  if (write_file(*db, "// setup database of the simulated machine\r\nBIOS version = " +
                          version.substr(0, version.find('\n')) + "\r\n")) {
    return true;
  }
  error = "cannot write " + *db;
  return false;
}

bool load_settings(const std::string& dir, std::string& text, std::string& error) {
  if (read_file(dir + "/settings.txt", text)) return true;
  error = "cannot read " + dir + "/settings.txt";
  return false;
}

// /o /s FILE [/h DB]: the live settings, with a header line that names FILE.
int export_script(const std::string& dir, const Request& r) {
  std::string text, error;
  if (!load_settings(dir, text, error)) return fail(error);
  const std::string kHeader = "// Script File Name : ";
  std::string out = kHeader + *r.script;
  if (text.starts_with(kHeader)) {
    std::size_t nl = text.find('\n');
    std::size_t end = nl == std::string::npos ? text.size() : nl;
    while (end > 0 && text[end - 1] == '\r') --end;
    out += text.substr(end);  // the header's own line end, and everything after it
  } else {
    out += "\r\n" + text;
  }
  if (!write_file(*r.script, out)) return fail("cannot write " + *r.script);
  return write_db(dir, r.db, error) ? 0 : fail(error);
}

// /i /s FILE [/q] [/rh R] [/rd D]: all the values of FILE, or none.
int import_script(const std::string& dir, const Request& r) {
  for (const auto* extra : {&r.resource, &r.defaults})
    if (*extra && !readable(**extra)) return fail("cannot open " + **extra);
  std::string text, settings, error;
  if (!read_file(*r.script, text)) return fail("cannot open " + *r.script);
  if (!load_settings(dir, settings, error)) return fail(error);
  Script machine = read_script(settings);
  int changed = 0;
  if (!import_values(read_script(text), machine, changed, error)) {
    return fail(*r.script + ": " + error);
  }
  if (changed > 0 && !replace_file(dir + "/settings.txt", machine.text())) {
    return fail("cannot write " + dir + "/settings.txt");
  }
  return 0;
}

bool load_list(const std::string& path, bool need_data, std::vector<Variable>& vars,
               std::string& error) {
  std::string text;
  if (!read_file(path, text)) {
    error = "cannot open " + path;
    return false;
  }
  if (parse_variables(text, need_data, vars, error)) return true;
  error = path + ": " + error;
  return false;
}

// /o /l LIST /n OUT [/h DB]: the data of the listed variables.
int export_variables(const std::string& dir, const Request& r) {
  std::vector<Variable> vars;
  std::string error;
  if (!load_list(*r.list, false, vars, error)) return fail(error);
  for (Variable& v : vars) {
    if (!read_file(variable_path(dir, v), v.data)) {
      return fail("no variable " + v.name + " with GUID " + v.guid);
    }
    v.has_data = true;
  }
  if (!write_file(*r.name, format_variables(vars))) return fail("cannot write " + *r.name);
  return write_db(dir, r.db, error) ? 0 : fail(error);
}

// /i /l LIST [/f] /n IN: sets the listed variables from IN; all of them, or none.
int import_variables(const std::string& dir, const Request& r) {
  std::vector<Variable> listed, given;
  std::string error;
  if (!load_list(*r.list, false, listed, error) || !load_list(*r.name, true, given, error)) {
    return fail(error);
  }
  std::vector<const Variable*> sources;
  for (const Variable& v : listed) {
    if (!readable(variable_path(dir, v))) return fail("no variable " + v.name + " with GUID " + v.guid);
    const Variable* source = nullptr;
    for (const Variable& g : given)
      if (g.name == v.name && g.guid == v.guid) source = &g;
    if (source == nullptr) return fail(*r.name + " holds no data for variable " + v.name);
    sources.push_back(source);
  }
  for (const Variable* v : sources)
    if (!replace_file(variable_path(dir, *v), v->data)) return fail("cannot write variable " + v->name);
  return 0;
}

// The simulator's own commands, for tests and for trying the update flow.
int sim_command(const std::vector<std::string>& words) {
  const std::string& cmd = words[0];
  std::string dir = state_dir(), error;
  if (cmd == "/sim-new-bios" && words.size() == 2) {
    return write_file(words[1], baked::new_bios) ? 0 : fail("cannot write " + words[1]);
  }
  if (cmd == "/sim-seed" && words.size() == 2) {
    std::string text;
    if (!read_file(words[1], text)) return fail("cannot open " + words[1]);
    if (read_script(text).questions.empty()) return fail(words[1] + ": the script holds no setup question");
    if (!open_state(dir, error)) return fail(error);
    return replace_file(dir + "/settings.txt", text) ? 0 : fail("cannot write " + dir + "/settings.txt");
  }
  if (cmd == "/sim-flash" && words.size() == 1) {
    if (!open_state(dir, error)) return fail(error);
    bool ok = replace_file(dir + "/settings.txt", baked::new_bios) &&
              replace_file(dir + "/version", kNewBiosVersion);
    return ok ? 0 : fail("cannot write " + dir);
  }
  return fail("usage: /sim-seed SCRIPT | /sim-new-bios OUT | /sim-flash");
}

int run(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  for (const std::string& a : args)
    if (!a.empty()) words.push_back(a);  // a shell would drop them too
  if (!words.empty() && words[0].starts_with("/sim-")) return sim_command(words);
  Request r;
  std::string error;
  if (!parse_request(words, r, error)) return fail(error);
  std::string dir = state_dir();
  if (!open_state(dir, error)) return fail(error);
  if (r.script) return r.out ? export_script(dir, r) : import_script(dir, r);
  return r.out ? export_variables(dir, r) : import_variables(dir, r);
}

}  // namespace
}  // namespace sim

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  sim::log_words(args);
  return sim::run(args);
}

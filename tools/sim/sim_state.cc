#include "sim_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "sim_baked.h"

namespace sim {
namespace {

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, Closer>;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool upper_equals(std::string_view a, std::string_view upper) {
  if (a.size() != upper.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    if (c != upper[i]) return false;
  }
  return true;
}

// 8-4-4-4-12 hexadecimal digits.
bool valid_guid(std::string_view g) {
  if (g.size() != 36) return false;
  for (std::size_t i = 0; i < g.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? g[i] != '-' : hex_value(g[i]) < 0) return false;
  }
  return true;
}

// The name becomes part of a file name in the state directory.
bool valid_name(std::string_view n) {
  return !n.empty() && n.front() != '.' && n.find('/') == std::string_view::npos &&
         n.find('\0') == std::string_view::npos;
}

bool parse_data(std::string_view s, std::string& data) {
  data.clear();
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == ' ' || s[i] == '\t') {
      ++i;
      continue;
    }
    if (i + 1 >= s.size() || hex_value(s[i]) < 0 || hex_value(s[i + 1]) < 0) return false;
    data += static_cast<char>(hex_value(s[i]) * 16 + hex_value(s[i + 1]));
    i += 2;
  }
  return true;
}

}  // namespace

bool read_file(const std::string& path, std::string& data) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  data.clear();
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) data.append(buf, n);
  return !std::ferror(f.get());
}

bool write_file(const std::string& path, std::string_view data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

bool replace_file(const std::string& path, std::string_view data) {
  std::string tmp = path + ".new";
  if (write_file(tmp, data) && std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  std::remove(tmp.c_str());
  return false;
}

bool readable(const std::string& path) { return FilePtr(std::fopen(path.c_str(), "rb")) != nullptr; }

std::string state_dir() {
  const char* env = std::getenv("SCELNX_SIM_STATE");
  return env != nullptr && *env != '\0' ? env : "sim-machine";
}

bool open_state(const std::string& dir, std::string& error) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    error = "state directory " + dir + " is not a directory";
    return false;
  }
  std::vector<Variable> vars;
  if (!parse_variables(baked::vars, true, vars, error)) return false;
  bool ok = ::mkdir(dir.c_str(), 0777) == 0 && ::mkdir((dir + "/vars").c_str(), 0777) == 0 &&
            write_file(dir + "/settings.txt", baked::settings) &&
            write_file(dir + "/version", baked::version);
  for (const Variable& v : vars) ok = ok && write_file(variable_path(dir, v), v.data);
  if (!ok) error = "cannot create state directory " + dir;
  return ok;
}

bool parse_variables(std::string_view text, bool need_data, std::vector<Variable>& out,
                     std::string& error) {
  out.clear();
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t nl = text.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.starts_with("//")) continue;
    if (upper_equals(line, "[VARIABLE]")) {
      out.emplace_back();
      continue;
    }
    std::size_t eq = line.find('=');
    if (out.empty() || eq == std::string_view::npos) {
      error = "unexpected line \"" + std::string(line.substr(0, 40)) + "\"";
      return false;
    }
    std::string_view key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    Variable& v = out.back();
    if (upper_equals(key, "VARIABLE_NAME")) {
      v.name = std::string(value);
    } else if (upper_equals(key, "VARIABLE_GUID")) {
      v.guid = std::string(value);
      for (char& c : v.guid) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    } else if (upper_equals(key, "VARIABLE_DATA")) {
      v.has_data = true;
      if (!parse_data(value, v.data)) {
        error = "variable " + v.name + ": data is not hexadecimal bytes";
        return false;
      }
    } else {
      error = "unknown entry " + std::string(key.substr(0, 40));
      return false;
    }
  }
  if (out.empty()) {
    error = "no [VARIABLE] block";
    return false;
  }
  for (const Variable& v : out) {
    if (!valid_name(v.name) || !valid_guid(v.guid)) {
      error = "variable \"" + v.name + "\" needs a valid VARIABLE_NAME and VARIABLE_GUID";
      return false;
    }
    if (need_data && !v.has_data) {
      error = "variable " + v.name + " has no VARIABLE_DATA";
      return false;
    }
  }
  return true;
}

std::string format_variables(const std::vector<Variable>& vars) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "// UEFI variable data written by the simulated SCELNX_64\r\n";
  for (const Variable& v : vars) {
    out += "[VARIABLE]\r\nVARIABLE_NAME = " + v.name + "\r\nVARIABLE_GUID = " + v.guid +
           "\r\nVARIABLE_DATA =";
    for (unsigned char b : v.data) {
      out += ' ';
      out += kDigits[b >> 4];
      out += kDigits[b & 15];
    }
    out += "\r\n\r\n";
  }
  return out;
}

std::string variable_path(const std::string& dir, const Variable& v) {
  return dir + "/vars/" + v.name + "-" + v.guid;
}

}  // namespace sim

#include "script/file.h"

#include <cstdio>

namespace nvram {

bool OutFile::finish() {
  if (!file_) return false;
  if (std::ferror(file_.get())) ok_ = false;
  if (!file_.close()) ok_ = false;
  if (!ok_) {
    std::printf("Error, cannot write file %.*s\r\n", static_cast<int>(name_.size()), name_.data());
  }
  return ok_;
}

void print_cannot_open(std::string_view name) {
  std::printf("Error, cannot open file %.*s\r\n", static_cast<int>(name.size()), name.data());
}

void print_cannot_read(std::string_view name) {
  std::printf("Error, cannot read file %.*s\r\n", static_cast<int>(name.size()), name.data());
}

}  // namespace nvram

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace nvram {
namespace {

// The absolute form of a name whose directory exists; empty when the directory cannot be
// resolved. The last component is kept as typed.
std::string resolved_path(const std::string& name) {
  std::string::size_type slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : name.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  char* real = ::realpath(dir.c_str(), nullptr);
  if (!real) return {};
  std::string out(real);
  std::free(real);
  if (out.empty() || out.back() != '/') out += '/';
  out.append(base);
  return out;
}

// The contents of the symbolic link `name`, or false when it is none (or cannot be read).
bool read_link(const std::string& name, std::string& target) {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = ::readlink(name.c_str(), buf.data(), buf.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < buf.size()) {
      target.assign(buf.data(), static_cast<std::size_t>(n));
      return true;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

std::string final_name(const std::string& name) {
  std::string path = name;
  std::string target;
  // As many links as the system itself follows; a longer chain is left where it stands.
  for (int hops = 0; hops < 40 && read_link(path, target); ++hops) {
    if (!target.empty() && target.front() == '/') {
      path = target;
    } else {
      std::string::size_type slash = path.rfind('/');
      path = slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
    }
  }
  return path;
}

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  bool ea = ::stat(a.c_str(), &sa) == 0;
  bool eb = ::stat(b.c_str(), &sb) == 0;
  if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ea != eb) return false;
  // Neither exists yet: a dangling link stands for the file it will create.
  std::string ra = resolved_path(final_name(a));
  return !ra.empty() && ra == resolved_path(final_name(b));
}

Clash find_clash(const std::vector<std::string>& inputs, const std::vector<std::string>& written) {
  Clash c;
  for (c.written = 0; c.written < written.size(); ++c.written) {
    for (c.other = 0; c.other < inputs.size(); ++c.other) {
      if (same_file(written[c.written], inputs[c.other])) {
        c.found = c.other_is_input = true;
        return c;
      }
    }
    for (c.other = 0; c.other < c.written; ++c.other) {
      if (same_file(written[c.written], written[c.other])) {
        c.found = true;
        return c;
      }
    }
  }
  return Clash{};
}

void print_conflict(std::string_view name) {
  std::printf("Error, file name conflict: %.*s\r\n", static_cast<int>(name.size()), name.data());
}

}  // namespace nvram

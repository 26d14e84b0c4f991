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

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  bool ea = ::stat(a.c_str(), &sa) == 0;
  bool eb = ::stat(b.c_str(), &sb) == 0;
  if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ea != eb) return false;
  std::string ra = resolved_path(a);
  return !ra.empty() && ra == resolved_path(b);
}

void print_conflict(std::string_view name) {
  std::printf("Error, file name conflict: %.*s\r\n", static_cast<int>(name.size()), name.data());
}

}  // namespace nvram

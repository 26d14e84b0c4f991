#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// What every fuzz target shares: a private scratch directory as the current directory, a silent
// standard output, the split of one input into files, and checks that abort on a broken rule.
namespace fuzz {

// The directory the fuzzer was started in, as an open descriptor, so that its own relative paths
// (corpus, artifacts) keep working between inputs.
inline int& start_dir() {
  static int fd = -1;
  return fd;
}

// Aborts with the failed condition, so the fuzzer keeps the input as a finding.
#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      if (::fuzz::start_dir() >= 0) (void)::fchdir(::fuzz::start_dir());            \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// For the life of the object the current directory is a private scratch directory, emptied
// first, so each input starts from nothing. The directory is made once, and standard output is
// pointed at /dev/null then, so that fuzzing is not slowed down by the program's messages.
class ScratchDir {
 public:
  ScratchDir() {
    static std::string path = make();
    FUZZ_CHECK(::chdir(path.c_str()) == 0);
    clear();
  }
  ~ScratchDir() { (void)::fchdir(start_dir()); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

 private:
  static std::string make() {
    start_dir() = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(start_dir() >= 0);
    // In memory where possible: a disk file system flushes every file that is emptied and
    // written again on its close, and that would slow fuzzing down tenfold.
    char shm_tmpl[] = "/dev/shm/nvram-fuzz-XXXXXX";
    char tmp_tmpl[] = "/tmp/nvram-fuzz-XXXXXX";
    char* tmpl = ::mkdtemp(shm_tmpl) ? shm_tmpl : tmp_tmpl;
    FUZZ_CHECK(tmpl == shm_tmpl || ::mkdtemp(tmp_tmpl) != nullptr);
    std::fflush(stdout);
    int null_fd = ::open("/dev/null", O_WRONLY);
    FUZZ_CHECK(null_fd >= 0);
    FUZZ_CHECK(::dup2(null_fd, STDOUT_FILENO) == STDOUT_FILENO);
    ::close(null_fd);
    static std::string made = tmpl;
    std::atexit([] {
      clear(made + "/");
      ::rmdir(made.c_str());
    });
    return tmpl;
  }

  // Removes the files of the directory `prefix` names ("" for the current directory).
  static void clear(const std::string& prefix = "") {
    DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(prefix + name);
    }
    ::closedir(dir);
    for (const std::string& name : names) ::unlink(name.c_str());
  }
};

// The input cut at every "\n%%\n" into at most `parts` parts (the last part takes the rest);
// missing parts are empty.
inline std::vector<std::string> split_input(const std::uint8_t* data, std::size_t size,
                                            std::size_t parts) {
  static constexpr std::string_view kSeparator = "\n%%\n";
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> out;
  while (out.size() + 1 < parts) {
    std::size_t at = in.find(kSeparator);
    if (at == std::string_view::npos) break;
    out.emplace_back(in.substr(0, at));
    in.remove_prefix(at + kSeparator.size());
  }
  out.emplace_back(in);
  out.resize(parts);
  return out;
}

inline void write_file(const std::string& name, std::string_view bytes) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  FUZZ_CHECK(std::fclose(f) == 0);
}

// The file's bytes; `exists` tells whether it could be opened.
inline std::string read_file(const std::string& name, bool* exists = nullptr) {
  std::string bytes;
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (exists) *exists = f != nullptr;
  if (!f) return bytes;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  std::fclose(f);
  return bytes;
}

inline bool file_exists(const std::string& name) {
  return ::access(name.c_str(), F_OK) == 0;
}

// The lines of a file the program wrote, each with its line end; a last line without one too.
inline std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t lf = text.find('\n');
    std::size_t n = lf == std::string_view::npos ? text.size() : lf + 1;
    lines.push_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return lines;
}

// A text read through a 300-byte line buffer, worked out independently of the program's reader:
// pieces of at most 299 bytes that end after a line feed, each cut at its first NUL byte.
inline std::vector<std::string> line_pieces(std::string_view text) {
  std::vector<std::string> pieces;
  while (!text.empty()) {
    std::size_t n = 0;
    while (n < text.size() && n < 299) {
      if (text[n++] == '\n') break;
    }
    std::string piece(text.substr(0, n));
    piece.resize(piece.find('\0') == std::string::npos ? piece.size() : piece.find('\0'));
    pieces.push_back(std::move(piece));
    text.remove_prefix(n);
  }
  return pieces;
}

// One line of a record file in its plain form "{key},[default],<current>" with a line end: fields
// of at most 63 bytes that hold none of the six brackets, '/', CR, LF or NUL, so that every reader
// of record files takes the same three fields out of it.
struct PlainRecord {
  std::string key, default_value, current_value;
};

// The records of a record file whose every line is plain (the last may lack its line end); false
// when any line is not.
inline bool plain_records(std::string_view text, std::vector<PlainRecord>& records) {
  records.clear();
  auto field = [](std::string_view& rest, char open, char close, std::string& out) {
    if (rest.empty() || rest[0] != open) return false;
    std::size_t end = rest.find(close, 1);
    if (end == std::string_view::npos || end - 1 > 63) return false;
    out = rest.substr(1, end - 1);
    if (out.find_first_of(std::string_view("{}[]<>/\r\n\0", 10)) != std::string::npos) return false;
    rest.remove_prefix(end + 1);
    return true;
  };
  for (std::string_view line : lines_of(text)) {
    PlainRecord r;
    if (!field(line, '{', '}', r.key) || line.substr(0, 1) != ",") return false;
    line.remove_prefix(1);
    if (!field(line, '[', ']', r.default_value) || line.substr(0, 1) != ",") return false;
    line.remove_prefix(1);
    if (!field(line, '<', '>', r.current_value)) return false;
    if (line != "\r\n" && line != "\n" && !line.empty()) return false;
    records.push_back(std::move(r));
  }
  return true;
}

// The keys that occur exactly once among the records.
inline std::map<std::string, const PlainRecord*> unique_keys(
    const std::vector<PlainRecord>& records) {
  std::map<std::string, const PlainRecord*> once;
  std::set<std::string> repeated;
  for (const PlainRecord& r : records) {
    if (repeated.count(r.key)) continue;
    if (once.erase(r.key)) {
      repeated.insert(r.key);
    } else {
      once[r.key] = &r;
    }
  }
  return once;
}

// Everything the program prints on standard output while the object lives, for the targets that
// check a command's report. Standard output goes back to /dev/null afterwards.
class CapturedStdout {
 public:
  CapturedStdout() {
    std::fflush(stdout);
    fd_ = ::memfd_create("stdout", 0);
    FUZZ_CHECK(fd_ >= 0);
    FUZZ_CHECK(::dup2(fd_, STDOUT_FILENO) == STDOUT_FILENO);
  }
  ~CapturedStdout() {
    std::fflush(stdout);
    int null_fd = ::open("/dev/null", O_WRONLY);
    ::dup2(null_fd, STDOUT_FILENO);
    ::close(null_fd);
    ::close(fd_);
  }
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;

  std::string text() {
    std::fflush(stdout);
    std::string out;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = ::pread(fd_, buf, sizeof buf, at)) > 0) {
      out.append(buf, static_cast<std::size_t>(n));
      at += n;
    }
    return out;
  }

 private:
  int fd_ = -1;
};

}  // namespace fuzz

#include "script/file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace nvram {

bool OutFile::finish() {
  if (!file_) return false;
  flush();
  if (std::ferror(file_.get())) ok_ = false;
  if (!file_.close()) ok_ = false;
  if (!ok_) print_cannot_write(name_);
  return ok_;
}

void OutFile::add_piece(const char* data, std::size_t size) {
  iovec& last = pieces_.back();
  if (static_cast<const char*>(last.iov_base) + last.iov_len == data) {
    last.iov_len += size;
  } else {
    pieces_.push_back(iovec{const_cast<char*>(data), size});
  }
}

void OutFile::write_in_place(std::string_view bytes) {
  if (!ok_ || !file_ || bytes.empty()) return;
  if (pieces_.size() >= kPieces) write_pieces();
  if (pieces_.empty()) {
    // What was buffered before goes first.
    if (size_ > 0) pieces_.push_back(iovec{buffer_.get(), size_});
    pieces_.push_back(iovec{const_cast<char*>(bytes.data()), bytes.size()});
    return;
  }
  add_piece(bytes.data(), bytes.size());
}

bool OutFile::write_pieces() {
  if (ok_ && file_ && std::fflush(file_.get()) != 0) ok_ = false;
  const int fd = file_ ? ::fileno(file_.get()) : -1;
  std::size_t first = 0;  // no piece is empty
  while (ok_ && first < pieces_.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(pieces_.size() - first, IOV_MAX));
    const ssize_t n = ::writev(fd, pieces_.data() + first, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok_ = false;
      break;
    }
    // Past what was written; a piece written in part goes on from where it stopped.
    for (auto left = static_cast<std::size_t>(n); left > 0;) {
      iovec& piece = pieces_[first];
      const std::size_t taken = std::min(left, piece.iov_len);
      piece.iov_base = static_cast<char*>(piece.iov_base) + taken;
      piece.iov_len -= taken;
      left -= taken;
      if (piece.iov_len == 0) ++first;
    }
  }
  pieces_.clear();
  size_ = 0;
  return ok_;
}

namespace {

// The files mapped at a time (the scripts of one run), with the words that report each one cut
// short. Filled before a mapping is used, read by the signal handler. Readings in two threads map
// files at once: an entry is taken under a lock, and its `begin`, set last and cleared first,
// tells the handler which entries are whole.
struct MappedFile {
  std::atomic<const char*> begin{nullptr};
  std::size_t size = 0;
  char report[512];
  std::size_t report_size = 0;
};
constexpr int kMappedFiles = 4;
MappedFile g_mapped[kMappedFiles];
std::mutex g_mapping;

struct CutShortReport {
  const char* before = "Error, cannot read file ";
  const char* after = "\r\n";
  int fd = STDOUT_FILENO;
  int status = 3;
} g_report;

// A read of a mapped file beyond its end, which it no longer reaches: report the file and end.
void on_cut_short(int signal, siginfo_t* info, void*) {
  const char* at = static_cast<const char*>(info->si_addr);
  for (const MappedFile& m : g_mapped) {
    const char* begin = m.begin.load();
    if (begin && at >= begin && at < begin + m.size) {
      ssize_t ignored = ::write(g_report.fd, m.report, m.report_size);
      (void)ignored;
      ::_exit(g_report.status);
    }
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Takes an entry for a mapping, with its report; -1 when all are taken.
int register_mapping(const char* begin, std::size_t size, const std::string& name) {
  const std::lock_guard<std::mutex> lock(g_mapping);
  static bool handler = false;
  if (!handler) {
    struct sigaction sa = {};
    sa.sa_sigaction = on_cut_short;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    if (::sigaction(SIGBUS, &sa, nullptr) != 0) return -1;
    handler = true;
  }
  for (int i = 0; i < kMappedFiles; ++i) {
    MappedFile& m = g_mapped[i];
    if (m.begin.load()) continue;
    const int n = std::snprintf(m.report, sizeof m.report, "%s%s%s", g_report.before, name.c_str(),
                                g_report.after);
    m.report_size = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof m.report - 1);
    m.size = size;
    m.begin = begin;
    return i;
  }
  return -1;
}

}  // namespace

void set_cut_short_report(const char* before, const char* after, int fd, int status) {
  g_report = CutShortReport{before, after, fd, status};
}

FileBytes::Result FileBytes::read(const std::string& name) {
  release();
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kCannotOpen;
  const Result r = read(fd, name);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return r;
}

FileBytes::Result FileBytes::read(int fd, const std::string& name) {
  release();
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  if (regular && ::lseek(fd, 0, SEEK_CUR) == 0) {
    const auto size = static_cast<std::size_t>(st.st_size);
    void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (at != MAP_FAILED) {
      slot_ = register_mapping(static_cast<const char*>(at), size, name);
      if (slot_ >= 0) {
        mapped_ = static_cast<const char*>(at);
        mapped_size_ = size;
        return kOk;
      }
      ::munmap(at, size);
    }
  }
  // A file that cannot be mapped, a pipe, a FIFO or a device: read into memory, in one go for a
  // regular file (a buffer of its size and one byte more sees its end), growing as it goes.
  std::size_t want = regular ? static_cast<std::size_t>(st.st_size) + 1 : std::size_t{1} << 16;
  for (;;) {
    if (bytes_.size() == bytes_.capacity() &&
        !bytes_.reserve(bytes_.capacity() == 0 ? want : 2 * bytes_.capacity())) {
      release();
      errno = ENOMEM;
      return kCannotRead;
    }
    const ssize_t n = ::read(fd, bytes_.data() + bytes_.size(), bytes_.capacity() - bytes_.size());
    if (n == 0) return kOk;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      release();
      errno = saved;
      return kCannotRead;
    }
    bytes_.set_size(bytes_.size() + static_cast<std::size_t>(n));
  }
}

void FileBytes::release() {
  if (mapped_) {
    g_mapped[slot_].begin = nullptr;
    ::munmap(const_cast<char*>(mapped_), mapped_size_);
  }
  mapped_ = nullptr;
  mapped_size_ = 0;
  slot_ = -1;
  bytes_.release();
}

namespace {

// Where the messages of this thread go: standard output, or a HeldMessages.
thread_local std::string* t_held = nullptr;

// Prints "BEFORE NAME\r\n", or holds it back.
void say(const char* before, std::string_view name) {
  if (t_held) {
    t_held->append(before).append(name).append("\r\n");
    return;
  }
  std::printf("%s%.*s\r\n", before, static_cast<int>(name.size()), name.data());
}

}  // namespace

HeldMessages::HeldMessages() : outer_(t_held) { t_held = &text_; }

HeldMessages::~HeldMessages() { t_held = outer_; }

void print_cannot_write(std::string_view name) { say("Error, cannot write file ", name); }

void print_cannot_open(std::string_view name) { say("Error, cannot open file ", name); }

void print_cannot_read(std::string_view name) { say("Error, cannot read file ", name); }

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

void print_conflict(std::string_view name) { say("Error, file name conflict: ", name); }

namespace {

// Whether a working file may be created anew at `name`: nothing stands there, or a file, or a
// symbolic link. A directory, a device or a pipe at a working file's name is no file of a run and
// stays as it is.
bool replaceable(const std::string& name) {
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

// The directory part of a name, up to and including its last '/'; "." for none.
std::string directory_of(const std::string& name) {
  std::string::size_type slash = name.rfind('/');
  return slash == std::string::npos ? std::string(".") : name.substr(0, slash + 1);
}

// The mode bits that a newly created file gets from the process's umask.
mode_t default_mode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string name, Target target)
    : kind_(target), out_(std::move(name), File()) {
  // An empty name names no file that could be created.
  if (out_.name().empty()) return;
  if (kind_ == kAtName) {
    open_at_name();
    return;
  }
  struct stat st;
  // A pipe or a device, named directly or through links (/dev/stdout into a pipe), cannot be
  // replaced: it is written in place, if the user may write it.
  if (::stat(out_.name().c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (::access(out_.name().c_str(), W_OK) != 0) return;
    in_place_ = true;
    out_ = OutFile(out_.name(), "wb");
    return;
  }
  target_ = final_name(out_.name());
  // A chain of links that never ends (a loop) names no file: there is nothing to replace, and the
  // link must not be replaced by a file.
  if (::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return;
  bool exists = ::stat(target_.c_str(), &st) == 0;
  // A file the user may not write stays as it is, as it would if it were opened for writing: a
  // script made read-only to keep it is not replaced behind that.
  if (exists && ::access(target_.c_str(), W_OK) != 0) return;
  dir_ = directory_of(target_);
  if (!open_temporary(dir_)) return;
  int fd = ::fileno(out_.get());
  if (exists) {
    // Root replacing another user's file gives the new one the same owner; elsewhere this fails
    // harmlessly and the file is the writer's.
    (void)::fchown(fd, st.st_uid, st.st_gid);
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    ::fchmod(fd, default_mode());
  }
}

bool ReplacingFile::open_at_name() {
  target_ = out_.name();
  if (!replaceable(target_)) return false;
  dir_ = directory_of(target_);
  if (!open_temporary(dir_)) return false;
  ::fchmod(::fileno(out_.get()), default_mode());
  return true;
}

bool ReplacingFile::open_temporary(const std::string& dir) {
  int fd = -1;
  // An unnamed file vanishes by itself if the program is killed before it is put in place. Naming
  // it later goes through /proc, so it is only used where /proc is there.
  if (::access("/proc/self/fd", X_OK) == 0) {
    fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    unnamed_ = fd >= 0;
  }
  if (fd < 0) {
    // Another file system, or no /proc: a named temporary file, which a kill can leave behind.
    std::string pattern = (dir == "." ? std::string() : dir) + ".nvram-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;
    temp_ = pattern;
  }
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    discard();
    return false;
  }
  out_ = OutFile(out_.name(), File(f));
  return true;
}

// Gives the unnamed temporary file a name in its directory, so that it can be renamed into place.
bool ReplacingFile::link_unnamed() {
  std::string proc = "/proc/self/fd/" + std::to_string(::fileno(out_.get()));
  std::string prefix = (dir_ == "." ? std::string() : dir_) + ".nvram-" + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + std::to_string(attempt);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temp_ = name;
      unnamed_ = false;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool ReplacingFile::commit() {
  if (!out_) return false;
  if (!in_place_) {
    std::FILE* f = out_.get();
    // A working file only has to be whole for the runs that read it; the user's file must also
    // survive a power cut.
    const bool synced = kind_ == kAtName || ::fsync(::fileno(f)) == 0 || errno == EINVAL;
    if (!out_.flush() || std::fflush(f) != 0 || !synced || (unnamed_ && !link_unnamed())) {
      out_.set_failed();
    } else if (kind_ == kAtName) {
      read_fd_ = ::fcntl(::fileno(f), F_DUPFD_CLOEXEC, 0);
      if (read_fd_ < 0) out_.set_failed();
    }
  }
  if (!out_.finish()) {
    discard();
    return false;
  }
  if (in_place_) return true;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    print_cannot_write(out_.name());
    discard();
    return false;
  }
  temp_.clear();
  if (kind_ == kAtName) return true;
  // The rename itself reaches the disk with the directory.
  int dir_fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

File ReplacingFile::read_back() {
  if (read_fd_ < 0 || !temp_.empty()) return File();
  int fd = read_fd_;
  read_fd_ = -1;
  // The file is read under its name while the name still holds it, so that the descriptor (and
  // what the system shows of it) bears that name; once another run has put its own file there,
  // through the descriptor it was written with.
  int named = ::open(target_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat written_st, named_st;
  if (named >= 0 && ::fstat(fd, &written_st) == 0 && ::fstat(named, &named_st) == 0 &&
      written_st.st_dev == named_st.st_dev && written_st.st_ino == named_st.st_ino) {
    ::close(fd);
    fd = named;
  } else if (named >= 0) {
    ::close(named);
  }
  std::FILE* f = ::lseek(fd, 0, SEEK_SET) == 0 ? ::fdopen(fd, "rb") : nullptr;
  if (!f) ::close(fd);
  return File(f);
}

void ReplacingFile::discard() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  if (read_fd_ >= 0) ::close(read_fd_);
  read_fd_ = -1;
}

ReplacingFile::~ReplacingFile() { discard(); }

namespace {

// From this size up, a removed file's pages are freed in another thread.
constexpr off_t kFreedAside = off_t{1} << 20;

void* close_descriptor(void* fd) {
  ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(fd)));
  return nullptr;
}

}  // namespace

int remove_name(const char* name) {
  // The system frees a file's pages when its last name and its last descriptor are gone: a
  // descriptor held across the removal and closed by another thread moves that work there.
  struct stat st;
  int held = -1;
  if (::lstat(name, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_size >= kFreedAside)
    held = ::open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  const int rc = std::remove(name);
  const int saved_errno = errno;
  if (held >= 0) {
    pthread_t thread;
    pthread_attr_t attr;
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
      started = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
                pthread_create(&thread, &attr, close_descriptor,
                               reinterpret_cast<void*>(static_cast<std::intptr_t>(held))) == 0;
      pthread_attr_destroy(&attr);
    }
    if (!started) ::close(held);
  }
  errno = saved_errno;
  return rc;
}

File create_anew(const std::string& name) {
  // Should another run create the name between the removal and the creation, the removal is
  // done again: the new file is never one that was already there.
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (!replaceable(name) || (remove_name(name.c_str()) != 0 && errno != ENOENT)) return File();
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      std::FILE* f = ::fdopen(fd, "wb");
      if (!f) ::close(fd);
      return File(f);
    }
    if (errno != EEXIST) return File();
  }
  return File();
}

void remove_if_same(const std::string& name, File& f) {
  struct stat open_st, named_st;
  const bool same = f && ::fstat(::fileno(f.get()), &open_st) == 0 &&
                    ::lstat(name.c_str(), &named_st) == 0 && open_st.st_dev == named_st.st_dev &&
                    open_st.st_ino == named_st.st_ino;
  f = File();
  if (same) remove_name(name.c_str());
}

}  // namespace nvram

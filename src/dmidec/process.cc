#include "dmidec/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace nvram {
namespace {

class Fd {
 public:
  Fd() = default;
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int* out() { return &fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read_end, write_end;
  bool open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    *read_end.out() = fds[0];
    *write_end.out() = fds[1];
    return true;
  }
};

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, std::string* output) {
  ProcessResult result;
  if (argv.empty()) {
    result.error = EINVAL;
    return result;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  // The child reports a failed exec through this pipe; it closes on a successful exec.
  Pipe status;
  Pipe out;
  if (!status.open() || (output && !out.open())) {
    result.error = errno;
    return result;
  }

  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) {
    result.error = errno;
    return result;
  }
  if (pid == 0) {
    if (output) ::dup2(out.write_end.get(), STDOUT_FILENO);  // dup2 clears O_CLOEXEC
    // An ignored SIGXFSZ would be inherited; the child gets the default dispositions.
    ::signal(SIGXFSZ, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    ::execvp(args[0], args.data());
    int err = errno;
    ssize_t n = ::write(status.write_end.get(), &err, sizeof err);
    (void)n;
    ::_exit(127);
  }

  status.write_end.reset();
  out.write_end.reset();
  if (output) {
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(out.read_end.get(), buf, sizeof buf);
      if (n > 0) {
        output->append(buf, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
  }
  int child_errno = 0;
  ssize_t got;
  do {
    got = ::read(status.read_end.get(), &child_errno, sizeof child_errno);
  } while (got < 0 && errno == EINTR);

  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      result.error = errno;
      return result;
    }
  }
  if (got == static_cast<ssize_t>(sizeof child_errno)) {
    result.error = child_errno;
    return result;
  }
  result.started = true;
  if (WIFSIGNALED(wstatus)) {
    result.signaled = true;
  } else if (WIFEXITED(wstatus)) {
    result.exit_code = WEXITSTATUS(wstatus);
  }
  return result;
}

}  // namespace nvram

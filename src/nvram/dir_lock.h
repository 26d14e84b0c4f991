#pragma once

// One run at a time in a directory. Runs in one directory share its fixed working files, so every
// command holds an exclusive lock on the current directory itself (flock on the opened directory,
// no lock file) from before it touches a file to its end. The kernel drops the lock when the
// process ends, however it ends, and the tool that a command starts does not inherit it.
namespace nvram {

class DirectoryLock {
 public:
  enum Result { kHeld, kBusy, kUnlocked };

  DirectoryLock() = default;
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Takes the lock on the current directory without waiting: kHeld, or kBusy when another run
  // holds it. A directory that cannot be opened or locked at all gives kUnlocked: the run goes on
  // without the lock.
  Result acquire();

 private:
  int fd_ = -1;
};

}  // namespace nvram

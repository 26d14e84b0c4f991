#pragma once

// One run at a time in a directory. Runs in one directory share its fixed working files, so every
// command holds an exclusive lock on the current directory itself (flock on the opened directory,
// no lock file) from before it touches a file to its end. The tool that a command starts inherits
// the locked descriptor, so the lock lasts until both have ended, however they end: a run killed
// while its tool still reads "merged.txt" keeps the next run out until the tool is done.
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

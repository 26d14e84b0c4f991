#pragma once

#include <sys/uio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/big_buffer.h"

// RAII ownership of a C stream, and checked writes for the files the program creates.
//
// Every file that the program writes is written through an OutFile: each write is checked, and
// close() reports whether the whole file reached the disk. A failed write (full disk, file-size
// limit, I/O error) is reported once as "Error, cannot write file %s\r\n" by finish().
namespace nvram {

class File {
 public:
  File() = default;
  File(const std::string& name, const char* mode) : f_(std::fopen(name.c_str(), mode)) {}
  explicit File(std::FILE* f) : f_(f) {}
  ~File() { reset(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& o) noexcept : f_(o.f_) { o.f_ = nullptr; }
  File& operator=(File&& o) noexcept {
    if (this != &o) {
      reset();
      f_ = o.f_;
      o.f_ = nullptr;
    }
    return *this;
  }

  explicit operator bool() const { return f_ != nullptr; }
  std::FILE* get() const { return f_; }

  // Closes the stream; returns false when the close (the final flush) failed.
  bool close() {
    if (!f_) return true;
    int rc = std::fclose(f_);
    f_ = nullptr;
    return rc == 0;
  }

 private:
  void reset() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
  }
  std::FILE* f_ = nullptr;
};

// A file being created. Writes after the first failure are skipped; finish() closes the file and
// tells whether every byte was written.
class OutFile {
 public:
  OutFile(std::string name, const char* mode) : name_(std::move(name)), file_(name_, mode) {}
  // A stream opened elsewhere; `name` is the name that messages give.
  OutFile(std::string name, File file) : name_(std::move(name)), file_(std::move(file)) {}
  // Like a stream that is closed unchecked, an OutFile dropped without finish() hands its
  // buffered bytes on first.
  ~OutFile() { flush(); }
  OutFile(OutFile&&) noexcept = default;
  OutFile& operator=(OutFile&&) noexcept = default;

  explicit operator bool() const { return static_cast<bool>(file_); }
  const std::string& name() const { return name_; }
  std::FILE* get() const { return file_.get(); }

  // Small writes gather in a buffer of the OutFile's own and reach the stream in large blocks.
  void write(std::string_view bytes) {
    if (bytes.empty()) return;
    if (char* at = room(bytes.size())) {
      std::memcpy(at, bytes.data(), bytes.size());
      add(bytes.size());
    } else if (ok_ && file_) {
      put(bytes);  // more than the buffer holds, after what it held
    }
  }

  // Room for `n` more bytes at the end of the buffer, which is flushed first where they would not
  // fit. The caller writes at most `n` bytes there and hands over how many with add(). Null once a
  // write has failed, and where `n` is more than the buffer holds.
  char* room(std::size_t n) {
    if (!ok_ || !file_) return nullptr;
    if (size_ + n > kBuffer && !flush()) return nullptr;
    if (n > kBuffer) return nullptr;
    if (!buffer_) buffer_.reset(new char[kBuffer]);
    return buffer_.get() + size_;
  }
  void add(std::size_t n) {
    if (n == 0) return;
    // The buffer never moves, so the pieces that point into it stay valid.
    if (!pieces_.empty()) add_piece(buffer_.get() + size_, n);
    size_ += n;
  }

  // Bytes that stay where they are until the file is finished (a mapped script's): they reach
  // the file from there, with the buffered bytes around them, in few system calls and without a
  // copy into the buffer.
  void write_in_place(std::string_view bytes);

  // Hands the buffered bytes to the stream. Returns false once any write has failed.
  bool flush() {
    if (!pieces_.empty()) return write_pieces();
    if (ok_ && file_ && size_ > 0) put(std::string_view(buffer_.get(), size_));
    size_ = 0;
    return ok_;
  }

  // Marks the file as not written whole (a failed flush to disk, say).
  void set_failed() { ok_ = false; }

  // Closes the file. On any failed write or close prints "Error, cannot write file %s\r\n" and
  // returns false.
  bool finish();

 private:
  static constexpr std::size_t kBuffer = 1 << 16;
  static constexpr std::size_t kPieces = 1024;  // written at the latest once this many gather

  void put(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) ok_ = false;
  }
  void add_piece(const char* data, std::size_t size);
  bool write_pieces();

  std::string name_;
  File file_;
  bool ok_ = true;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;       // the bytes in the buffer
  std::vector<iovec> pieces_;  // what is to be written, in order, once bytes are written in place
};

// A file replaced whole. The new contents are written under a temporary name in the directory of
// the file being replaced and renamed over it only when every byte was written; until then the old
// file is untouched, and on any failure no temporary file is left. Other runs that use the same
// name (a script shared by many stations) never see a half-written file.
//
// The user's own output (kFinalFile) is the file that `name` finally names, through symbolic links,
// which stay: it is flushed to disk before the rename, keeps its permission bits (and, where the
// system allows, its owner), and a name that stands for something other than a regular file (a
// device such as /dev/full, a pipe) cannot be replaced and is written in place.
//
// A working file (kAtName) is created anew: whatever stands at the name itself (a file, a symbolic
// link, a hard link to another file) is replaced, never written through, and the new file gets the
// usual mode. A directory, a device or a pipe in its place is left alone: the file cannot be opened. After commit() the file just written
// can be read back through read_back(), whatever another run puts at its name meanwhile.
class ReplacingFile {
 public:
  enum Target { kFinalFile, kAtName };

  explicit ReplacingFile(std::string name, Target target = kFinalFile);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // False when neither the temporary file nor (for a device) the file itself could be opened.
  explicit operator bool() const { return static_cast<bool>(out_); }
  void write(std::string_view bytes) { out_.write(bytes); }
  // The stream being written, for a writer that takes an OutFile.
  OutFile& out() { return out_; }

  // Flushes the file to disk and puts it in place. On a failure prints
  // "Error, cannot write file %s\r\n" with the name as given, removes the temporary file and
  // returns false; the old file is as it was.
  bool commit();

  // After a successful commit() of a kAtName file: the file that was written, open for reading at
  // its start. An empty File otherwise.
  File read_back();

 private:
  bool open_at_name();
  bool open_temporary(const std::string& dir);
  bool link_unnamed();
  void discard();

  std::string target_;        // the file to replace
  std::string dir_;           // its directory, "." for the current one
  std::string temp_;          // the temporary file's name, once it has one
  bool unnamed_ = false;      // the temporary file has no name yet (O_TMPFILE)
  bool in_place_ = false;     // written directly: no regular file to replace
  Target kind_;
  int read_fd_ = -1;          // a kAtName file's own descriptor, kept past the commit
  OutFile out_;
};

// Removes the name `name`, as std::remove() does. When it is the last name of a large regular
// file, the file's pages are given back to the system by another thread, so that the removal costs
// the run no time where a core is free.
int remove_name(const char* name);

// Creates the file `name` anew for writing ("wb"): whatever stands at the name (a file, a symbolic
// link, a hard link to another file) is removed first and a new file is created in its place, so
// no link planted there can send the writes to another file. An empty File when that fails (a
// directory, a device or a pipe in its place, a directory that cannot be written).
File create_anew(const std::string& name);

// Removes `name` when it still names the file open as `f`: a file that another run has put there
// meanwhile stays. Closes `f` in any case, before the removal, so that the removal frees the
// file's pages where remove_name() does.
void remove_if_same(const std::string& name, File& f);

// The bytes of a file, read once from its start to its end: a regular file is mapped (its bytes
// are the system's own cached copy, so a script of hundreds of megabytes costs no memory of its
// own), a pipe, a FIFO or a device is read into memory. Nothing is opened twice, so a pipe gives
// what the file gives.
//
// A mapped file that another program cuts short while it is in use cannot give its bytes any
// more: the process then reports it (set_cut_short_report()) and ends at once, rather than go on
// with bytes that are no longer there.
class FileBytes {
 public:
  enum Result { kOk, kCannotOpen, kCannotRead };  // errno tells why

  FileBytes() = default;
  ~FileBytes() { release(); }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  FileBytes(FileBytes&& o) noexcept { take(o); }
  FileBytes& operator=(FileBytes&& o) noexcept {
    if (this != &o) {
      release();
      take(o);
    }
    return *this;
  }

  // Reads the file `name`.
  Result read(const std::string& name);
  // Reads what the descriptor gives, from where it stands to its end; does not close it. `name`
  // names the file in a report that it was cut short.
  Result read(int fd, const std::string& name = "-");

  std::string_view view() const { return mapped_ ? std::string_view(mapped_, mapped_size_) : bytes_.view(); }
  // Gives the bytes up.
  void release();

 private:
  void take(FileBytes& o) {
    bytes_ = std::move(o.bytes_);
    mapped_ = o.mapped_, mapped_size_ = o.mapped_size_, slot_ = o.slot_;
    o.mapped_ = nullptr, o.mapped_size_ = 0, o.slot_ = -1;
  }

  BigBuffer bytes_;               // bytes read into memory
  const char* mapped_ = nullptr;  // or the mapped file
  std::size_t mapped_size_ = 0;
  int slot_ = -1;                 // its entry among the mapped files
};

// How a process reports a mapped file cut short under it (FileBytes): `before` and `after` around
// the file's name, written on descriptor `fd`, then it ends with `status`. By default "Error,
// cannot read file NAME\r\n" on standard output and status 3.
void set_cut_short_report(const char* before, const char* after, int fd, int status);

// While one lives, the messages below of its thread are held back in it instead of printed: work
// done ahead, in another thread, keeps its messages until their turn.
class HeldMessages {
 public:
  HeldMessages();
  ~HeldMessages();
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::string* outer_;
};

// Prints "Error, cannot open file %s\r\n".
void print_cannot_open(std::string_view name);

// Prints "Error, cannot write file %s\r\n".
void print_cannot_write(std::string_view name);

// Prints "Error, cannot read file %s\r\n": the file opened, but a read failed (an I/O error, or a
// directory in the file's place). What was read is not the whole file, so no reader goes on with it.
void print_cannot_read(std::string_view name);

}  // namespace nvram

namespace nvram {

// The name of the file that `name` finally stands for: symbolic links of the last component are
// followed (a relative link from the link's own directory) to a name that is no link; the file
// there may not exist. A name that is no link comes back as it is.
std::string final_name(const std::string& name);

// True when the two names denote one file: the same existing file (device and inode) or, for
// names that do not exist yet, the same path once links and the directory part are resolved.
bool same_file(const std::string& a, const std::string& b);

// Prints "Error, file name conflict: %s\r\n".
void print_conflict(std::string_view name);

// The first clash between the files a command writes and its inputs, or among the written files
// themselves. `written` is walked in the order the command writes the files; each is compared
// with every input, then with each file written before it.
struct Clash {
  bool found = false;
  std::size_t written = 0;      // index into `written`
  std::size_t other = 0;        // index into `inputs`, or into `written` (an earlier file)
  bool other_is_input = false;
};
Clash find_clash(const std::vector<std::string>& inputs, const std::vector<std::string>& written);

}  // namespace nvram

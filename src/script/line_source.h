#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Reading a text file the way a 300-byte line buffer does: every piece is at most 299 bytes and
// ends after its line feed when the line feed falls within them, so a longer line arrives as
// several pieces and the line end stays with the piece it ends. A piece's text ends at its first
// NUL byte; the bytes after it are read (they belong to the piece) but not delivered.
// Every reader of setup scripts, record files and lists goes through this one class.
namespace nvram {

inline constexpr std::size_t kLineBuffer = 300;
inline constexpr std::size_t kMaxPiece = kLineBuffer - 1;

class LineSource {
 public:
  // Does not own the stream.
  explicit LineSource(std::FILE* in) : in_(in) {}
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;

  // The next piece, its text cut at its first NUL. Returns false at the end of the file or on a
  // read error, which count alike as the end. The view stays valid until the next call.
  bool next(std::string_view& piece);

 private:
  bool fill();

  std::FILE* in_;
  char buf_[1 << 16];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  char piece_[kLineBuffer];
};

}  // namespace nvram

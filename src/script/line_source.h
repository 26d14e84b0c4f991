#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

// Reading a text file the way a 300-byte line buffer does: every piece is at most 299 bytes and
// ends after its line feed when the line feed falls within them, so a longer line arrives as
// several pieces and the line end stays with the piece it ends. A piece's text ends at its first
// NUL byte; the bytes after it are read (they belong to the piece) but not delivered by next().
// Every reader of setup scripts, record files and lists goes through this one class. The merge,
// which passes every byte through, also takes the whole piece (whole()).
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

  // The piece that next() delivered last, NUL bytes and whatever follows them included. Valid as
  // long as the view that next() gave.
  std::string_view whole() const { return whole_; }

  // The byte offset in the file of the first byte of the piece that next() delivered last.
  std::uint64_t offset() const { return offset_; }

 private:
  bool fill();

  std::FILE* in_;
  char buf_[1 << 16];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool buf_has_nul_ = false;     // buf_ holds a NUL byte somewhere
  char piece_[kLineBuffer];      // a piece that spans two fills of buf_
  std::string_view whole_;       // the last piece, in buf_ or in piece_
  std::uint64_t offset_ = 0;
  std::uint64_t consumed_ = 0;  // bytes delivered in pieces so far
};

}  // namespace nvram

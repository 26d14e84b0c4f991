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
  explicit LineSource(std::FILE* in) : in_(in), buf_(storage_) {}
  // Reads the bytes of a file already in memory; they must outlive the source.
  explicit LineSource(std::string_view bytes);
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

  // Whether the piece that next() delivered last is a short line: a whole line (not the last piece
  // of a longer one) of at most 3 bytes with its line end, counted up to its first NUL. An empty
  // line is one; the last piece of a line longer than 299 bytes never is.
  bool is_short() const { return line_start_ && text_size_ <= 3; }

 private:
  bool fill();

  std::FILE* in_;
  const char* buf_;              // storage_, or the bytes in memory
  char storage_[1 << 16];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool buf_has_nul_ = false;     // buf_ holds a NUL byte somewhere
  char piece_[kLineBuffer];      // a piece that spans two fills of buf_
  std::string_view whole_;       // the last piece, in buf_ or in piece_
  std::uint64_t offset_ = 0;
  std::uint64_t consumed_ = 0;  // bytes delivered in pieces so far
  bool line_start_ = false;      // the last piece begins a line
  bool next_starts_line_ = true;
  std::size_t text_size_ = 0;
};

}  // namespace nvram

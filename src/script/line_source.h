#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Reading a list file the way a 300-byte line buffer does: every piece is at most 299 bytes and
// ends after its line feed when the line feed falls within them, so a longer line arrives as
// several pieces and the line end stays with the piece it ends. A piece's text ends at its first
// NUL byte. "Exclude.txt" and difference files are read so; setup scripts are read whole, a line at
// a time, by the script reader.
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
  char storage_[1 << 16];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  char piece_[kLineBuffer];  // a piece that spans two fills of storage_
};

}  // namespace nvram

#include "script/line_source.h"

#include <cstring>

namespace nvram {

bool LineSource::fill() {
  if (pos_ < len_) return true;
  pos_ = 0;
  len_ = std::fread(buf_, 1, sizeof buf_, in_);
  return len_ > 0;
}

bool LineSource::next(std::string_view& piece) {
  std::size_t n = 0;
  while (n < kMaxPiece && fill()) {
    std::size_t want = kMaxPiece - n;
    std::size_t avail = len_ - pos_;
    if (avail < want) want = avail;
    const char* start = buf_ + pos_;
    const void* lf = std::memchr(start, '\n', want);
    std::size_t take = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1 : want;
    std::memcpy(piece_ + n, start, take);
    n += take;
    pos_ += take;
    if (lf) break;
  }
  if (n == 0) return false;
  offset_ = consumed_;
  consumed_ += n;
  whole_size_ = n;
  const void* nul = std::memchr(piece_, '\0', n);
  if (nul) n = static_cast<std::size_t>(static_cast<const char*>(nul) - piece_);
  piece = std::string_view(piece_, n);
  return true;
}

}  // namespace nvram

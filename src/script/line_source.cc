#include "script/line_source.h"

#include <cstring>

namespace nvram {

bool LineSource::fill() {
  if (pos_ < len_) return true;
  pos_ = 0;
  len_ = std::fread(storage_, 1, sizeof storage_, in_);
  return len_ > 0;
}

bool LineSource::next(std::string_view& piece) {
  if (!fill()) return false;
  const char* data = storage_ + pos_;
  std::size_t n = len_ - pos_ < kMaxPiece ? len_ - pos_ : kMaxPiece;
  const void* lf = std::memchr(data, '\n', n);
  if (lf || n == kMaxPiece) {
    // The whole piece lies in the buffer and is delivered from there.
    if (lf) n = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    pos_ += n;
  } else {
    // The piece goes on past the buffer's end: gathered, refill by refill, in piece_.
    std::memcpy(piece_, data, n);
    pos_ += n;
    while (n < kMaxPiece && fill()) {
      std::size_t want = kMaxPiece - n;
      std::size_t avail = len_ - pos_;
      if (avail < want) want = avail;
      const char* start = storage_ + pos_;
      lf = std::memchr(start, '\n', want);
      std::size_t take =
          lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1 : want;
      std::memcpy(piece_ + n, start, take);
      n += take;
      pos_ += take;
      if (lf) break;
    }
    data = piece_;
  }
  const void* nul = std::memchr(data, '\0', n);
  if (nul) n = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
  piece = std::string_view(data, n);
  return true;
}

}  // namespace nvram

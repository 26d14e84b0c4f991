#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cstddef>
#include <string_view>

// Looking for bytes in the short lines of a setup script.
namespace nvram {

// The first byte of line[from, size) that is one of Set, or the line's length. A scan of a line
// passes most of it before anything counts; sixteen bytes at a time do that at once.
template <char... Set>
std::size_t first_of(std::string_view line, std::size_t from) {
  const std::size_t size = line.size();
#ifdef __SSE2__
  if (size >= 16) {
    auto hits = [&line](std::size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + at));
      const __m128i any = (_mm_cmpeq_epi8(v, _mm_set1_epi8(Set)) | ...);
      return static_cast<unsigned>(_mm_movemask_epi8(any));
    };
    for (; from + 16 <= size; from += 16) {
      if (const unsigned mask = hits(from)) return from + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    if (from < size) {  // the last sixteen bytes of the line, those before `from` left out
      const std::size_t start = size - 16;
      if (const unsigned mask = hits(start) >> (from - start))
        return from + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    return size;
  }
#endif
  for (; from < size; ++from) {
    const char c = line[from];
    if (((c == Set) || ...)) return from;
  }
  return size;
}

#ifdef __SSE2__
// Which of sixteen bytes are visible (is_visible()): above 0x20 as a signed byte, which leaves out
// 0x80 and above, and not 0x7F.
inline __m128i visible_bytes(__m128i v) {
  return _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)),
                          _mm_cmpgt_epi8(v, _mm_set1_epi8(0x20)));
}
#endif

}  // namespace nvram

#include "script/big_buffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace nvram {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeFrom = std::size_t{8} << 20;  // buffers from here on take huge pages
constexpr std::size_t kSmallStep = std::size_t{64} << 10;

// Asks for huge pages over the whole buffer; where the system gives none, small pages serve.
void prefer_huge_pages(void* at, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes >= kHugePage) ::madvise(at, bytes, MADV_HUGEPAGE);
#else
  (void)at, (void)bytes;
#endif
}

}  // namespace

namespace {

// A mapping of `bytes` (whole huge pages) that starts on a huge page, or nullptr.
void* map_aligned(std::size_t bytes) {
  void* at = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) return nullptr;
  char* start = static_cast<char*>(at);
  const std::size_t head = (kHugePage - reinterpret_cast<std::uintptr_t>(start) % kHugePage) % kHugePage;
  if (head > 0) ::munmap(start, head);
  if (kHugePage - head > 0) ::munmap(start + head + bytes, kHugePage - head);
  return start + head;
}

}  // namespace

bool BigBuffer::reserve(std::size_t bytes) {
  if (bytes <= capacity_) return true;
  // A small buffer takes small pages: a huge page is worth its cost only where many are filled.
  if (bytes < kHugeFrom) {
    const std::size_t rounded = (bytes + kSmallStep - 1) / kSmallStep * kSmallStep;
    // Its pages are put in place at once: a fault for each would cost more.
    void* at = capacity_ == 0 ? ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE,
                                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0)
                              : ::mremap(data_, capacity_, rounded, MREMAP_MAYMOVE);
    if (at == MAP_FAILED) return false;
    data_ = static_cast<char*>(at);
    capacity_ = rounded;
    return true;
  }
  // Whole huge pages, so that the buffer can be backed by them from end to end.
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* at = map_aligned(rounded);
  if (!at) return false;
  // The pages already written move to the new place; nothing is copied.
  if (capacity_ > 0 &&
      ::mremap(data_, capacity_, rounded, MREMAP_MAYMOVE | MREMAP_FIXED, at) == MAP_FAILED) {
    ::munmap(at, rounded);
    return false;
  }
  prefer_huge_pages(at, rounded);
  data_ = static_cast<char*>(at);
  capacity_ = rounded;
  return true;
}

void BigBuffer::release() {
  if (data_) ::munmap(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

}  // namespace nvram

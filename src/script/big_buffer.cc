#include "script/big_buffer.h"

#include <sys/mman.h>

namespace nvram {
namespace {

constexpr std::size_t kStep = std::size_t{64} << 10;

// Fresh memory for `bytes`, its pages in place: in large pages where the system gives them (a
// fault for each small page, and the clearing of each, cost more than the reading that fills
// them), put in place at once.
void* map_fresh(std::size_t bytes) {
  void* at = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) return nullptr;
  ::madvise(at, bytes, MADV_HUGEPAGE);
  ::madvise(at, bytes, MADV_POPULATE_WRITE);  // where the system cannot, the pages come on first touch
  return at;
}

}  // namespace

bool BigBuffer::reserve(std::size_t bytes) {
  if (bytes <= capacity_) return true;
  const std::size_t rounded = (bytes + kStep - 1) / kStep * kStep;
  // A grown mapping moves its pages, written or not, without copying a byte.
  void* at = capacity_ == 0 ? map_fresh(rounded) : ::mremap(data_, capacity_, rounded, MREMAP_MAYMOVE);
  if (at == nullptr || at == MAP_FAILED) return false;  // map_fresh() gives nullptr, mremap() MAP_FAILED
  data_ = static_cast<char*>(at);
  capacity_ = rounded;
  return true;
}

void BigBuffer::trim() {
  const std::size_t kept = (size_ + kStep - 1) / kStep * kStep;
  if (kept >= capacity_) return;
  if (kept == 0) {
    release();
    return;
  }
  ::munmap(data_ + kept, capacity_ - kept);
  capacity_ = kept;
}

void* allocate_populated(std::size_t bytes) {
  void* at = map_fresh(bytes);
  if (!at) throw std::bad_alloc();
  return at;
}

void free_populated(void* at, std::size_t bytes) { ::munmap(at, bytes); }

void BigBuffer::release() {
  if (data_) ::munmap(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

}  // namespace nvram

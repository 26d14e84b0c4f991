#include "script/big_buffer.h"

#include <sys/mman.h>

namespace nvram {
namespace {

constexpr std::size_t kStep = std::size_t{64} << 10;

}  // namespace

bool BigBuffer::reserve(std::size_t bytes) {
  if (bytes <= capacity_) return true;
  const std::size_t rounded = (bytes + kStep - 1) / kStep * kStep;
  // A first mapping puts its pages in place at once, which costs less than a fault for each; a
  // grown one moves its pages, written or not, without copying a byte.
  void* at = capacity_ == 0 ? ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0)
                            : ::mremap(data_, capacity_, rounded, MREMAP_MAYMOVE);
  if (at == MAP_FAILED) return false;
  data_ = static_cast<char*>(at);
  capacity_ = rounded;
  return true;
}

void* allocate_populated(std::size_t bytes) {
  void* at = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (at == MAP_FAILED) throw std::bad_alloc();
  return at;
}

void free_populated(void* at, std::size_t bytes) { ::munmap(at, bytes); }

void BigBuffer::release() {
  if (data_) ::munmap(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

}  // namespace nvram

#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

// Memory for the large arrays that a reading of a big script fills: a script's bytes, its
// questions and their texts. Taken straight from the system and grown in place, without the copy
// (and the fresh pages for it) that a growing vector makes on scripts of hundreds of megabytes.
namespace nvram {

class BigBuffer {
 public:
  BigBuffer() = default;
  ~BigBuffer() { release(); }
  BigBuffer(const BigBuffer&) = delete;
  BigBuffer& operator=(const BigBuffer&) = delete;
  BigBuffer(BigBuffer&& o) noexcept : data_(o.data_), size_(o.size_), capacity_(o.capacity_) {
    o.data_ = nullptr, o.size_ = o.capacity_ = 0;
  }
  BigBuffer& operator=(BigBuffer&& o) noexcept {
    if (this != &o) {
      release();
      data_ = o.data_, size_ = o.size_, capacity_ = o.capacity_;
      o.data_ = nullptr, o.size_ = o.capacity_ = 0;
    }
    return *this;
  }

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_, size_}; }

  // Room for `bytes` in all; false when the system has no more memory to give.
  bool reserve(std::size_t bytes);
  // The size, within the capacity.
  void set_size(std::size_t bytes) { size_ = bytes; }
  // Makes the buffer n bytes longer and gives where those bytes begin, for the caller to fill.
  char* extend(std::size_t n) {
    if (size_ + n > capacity_ && !reserve(grown(size_ + n))) throw std::bad_alloc();
    char* at = data_ + size_;
    size_ += n;
    return at;
  }
  void append(const void* bytes, std::size_t n) {
    char* at = extend(n);
    if (n > 0) std::memcpy(at, bytes, n);
  }
  void append(std::string_view s) { append(s.data(), s.size()); }
  void clear() { size_ = 0; }
  // Gives back the room past the size, once the buffer is filled for good.
  void trim();
  // Gives the memory back.
  void release();

 private:
  std::size_t grown(std::size_t at_least) const {
    std::size_t c = capacity_ < (std::size_t{1} << 16) ? std::size_t{1} << 16 : capacity_;
    while (c < at_least) c *= 2;
    return c;
  }

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// An array of plain values in a BigBuffer.
template <class T>
class BigArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  std::size_t size() const { return bytes_.size() / sizeof(T); }
  bool empty() const { return size() == 0; }
  T& operator[](std::size_t i) { return reinterpret_cast<T*>(bytes_.data())[i]; }
  const T& operator[](std::size_t i) const { return reinterpret_cast<const T*>(bytes_.data())[i]; }
  void push_back(const T& value) { bytes_.append(&value, sizeof(T)); }
  void reserve(std::size_t n) {
    if (!bytes_.reserve(n * sizeof(T))) throw std::bad_alloc();
  }
  void clear() { bytes_.clear(); }
  void trim() { bytes_.trim(); }
  void release() { bytes_.release(); }

 private:
  BigBuffer bytes_;
};

// An allocator for the large arrays that are made once per run and filled at once (the pairing's
// tables): from a quarter of a megabyte up, the memory comes straight from the system with its
// pages in place, which costs less than a fault for each page on first touch.
void* allocate_populated(std::size_t bytes);
void free_populated(void* at, std::size_t bytes);
inline constexpr std::size_t kPopulatedFrom = std::size_t{256} << 10;

template <class T>
struct PopulatedAllocator {
  using value_type = T;
  PopulatedAllocator() = default;
  template <class U>
  PopulatedAllocator(const PopulatedAllocator<U>&) {}
  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kPopulatedFrom) return std::allocator<T>().allocate(n);
    return static_cast<T*>(allocate_populated(bytes));
  }
  void deallocate(T* at, std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kPopulatedFrom) return std::allocator<T>().deallocate(at, n);
    free_populated(at, bytes);
  }
  template <class U>
  bool operator==(const PopulatedAllocator<U>&) const { return true; }
};

template <class T>
using PopulatedVector = std::vector<T, PopulatedAllocator<T>>;

}  // namespace nvram

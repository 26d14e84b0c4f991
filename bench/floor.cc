// The least a run of "NVRAM -u" can cost on this machine, for the benchmark: the two scripts are
// mapped and every line of each is found, side by side in two threads, as NVRAM reads them; then
// the files that -u writes are written from memory at the sizes it wrote them (the new script's
// bytes stand for the merged script). Nothing is taken from a line, nothing is paired and nothing
// is checked, so no run that reads every line of both scripts can be faster.
//
// Usage: floor DUMPED NEW SIZE... (the size of each further output, in bytes). The outputs go to
// floor.0, floor.1, ... in the current directory, each removed and made anew, as NVRAM does.
#include <emmintrin.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Script {
  const char* data = nullptr;
  std::size_t size = 0;
  std::size_t s_lines = 0;  // the lines that begin with an S: the walk's result, checked
};

bool map_and_walk(const char* name, Script& s) {
  const int fd = ::open(name, O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  void* at = MAP_FAILED;
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    s.size = static_cast<std::size_t>(st.st_size);
    at = ::mmap(nullptr, s.size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  }
  ::close(fd);
  if (at == MAP_FAILED) return false;
  s.data = static_cast<const char*>(at);
  const __m128i lf = _mm_set1_epi8('\n');
  std::size_t pos = 0;  // where the next line begins
  for (std::size_t block = 0; block + 64 <= s.size; block += 64) {
    std::uint64_t mask = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data + block + 16 * part));
      mask |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))}
              << (16 * part);
    }
    // Each line is visited: its first byte is looked at, as any reading of a line must.
    for (; mask != 0; mask &= mask - 1) {
      s.s_lines += s.data[pos] == 'S';
      pos = block + static_cast<std::size_t>(__builtin_ctzll(mask)) + 1;
    }
  }
  return true;
}

bool write_anew(const std::string& name, const char* data, std::size_t size) {
  ::unlink(name.c_str());
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && size > 0) {
    const ssize_t n = ::write(fd, data, size);
    ok = n > 0;
    if (ok) {
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: floor DUMPED NEW SIZE...\n", stderr);
    return 2;
  }
  Script dumped, update;
  bool dumped_ok = false;
  std::thread other([&] { dumped_ok = map_and_walk(argv[1], dumped); });
  const bool update_ok = map_and_walk(argv[2], update);
  other.join();
  if (!dumped_ok || !update_ok || dumped.s_lines == 0 || update.s_lines == 0) {
    std::fputs("floor: cannot map a script, or it has no line that begins with S\n", stderr);
    return 1;
  }
  std::vector<std::size_t> sizes;
  for (int i = 3; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
  const std::vector<char> filler(sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end()),
                                 'x');
  bool ok = write_anew("floor.0", update.data, update.size);
  for (std::size_t i = 0; ok && i < sizes.size(); ++i)
    ok = write_anew("floor." + std::to_string(i + 1), filler.data(), sizes[i]);
  if (!ok) std::fputs("floor: cannot write an output\n", stderr);
  return ok ? 0 : 1;
}

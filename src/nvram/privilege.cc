#include "nvram/privilege.h"

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define NVRAM_HAVE_IOPL 1
#endif

namespace nvram {

void set_io_privilege(int level) {
#ifdef NVRAM_HAVE_IOPL
  (void)iopl(level);
#else
  (void)level;
#endif
}

}  // namespace nvram

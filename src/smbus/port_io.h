#pragma once

#include <cstdint>

// Byte-wide access to the x86 I/O port space. The microcontroller module reaches the hardware only
// through a PortIo that its caller hands in, so it runs the same against the real ports and
// against the simulated host controller (sim_smbus.h).
//
// The real backend needs the x86 port instructions and <sys/io.h>; it is built only on such a
// platform and can be left out with -DNVRAM_NO_PORT_IO. NVRAM_HAVE_PORT_IO tells which.
#if !defined(NVRAM_NO_PORT_IO) && defined(__linux__) && \
    (defined(__x86_64__) || defined(__i386__)) && __has_include(<sys/io.h>)
#define NVRAM_HAVE_PORT_IO 1
#else
#define NVRAM_HAVE_PORT_IO 0
#endif

namespace nvram {

class PortIo {
 public:
  virtual ~PortIo() = default;
  virtual std::uint8_t in8(std::uint16_t port) = 0;
  virtual void out8(std::uint16_t port, std::uint8_t value) = 0;
};

#if NVRAM_HAVE_PORT_IO
// The machine's own ports. The process must hold the I/O privilege level (raised at start);
// without it the first access ends the process with a fault.
class HardwarePortIo final : public PortIo {
 public:
  std::uint8_t in8(std::uint16_t port) override;
  void out8(std::uint16_t port, std::uint8_t value) override;
};
#endif

}  // namespace nvram

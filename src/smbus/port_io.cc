#include "smbus/port_io.h"

#if NVRAM_HAVE_PORT_IO
#include <sys/io.h>

namespace nvram {

std::uint8_t HardwarePortIo::in8(std::uint16_t port) {
  return inb(port);
}

// The library's outb takes the value first and the port second.
void HardwarePortIo::out8(std::uint16_t port, std::uint8_t value) {
  outb(value, port);
}

}  // namespace nvram
#endif

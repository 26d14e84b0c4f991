#pragma once

// Raising and lowering the I/O privilege level. On x86 Linux this is iopl(); elsewhere, and when
// the process lacks the privilege, the call does nothing. Failures are ignored.
namespace nvram {

void set_io_privilege(int level);

}  // namespace nvram

#include "smbus/smbus.h"

namespace nvram {

int MCU_IO_DELAY(PortIo& io) {
  for (int i = 0; i < kMcuDelayReads; ++i) io.in8(kDelayPort);
  return 1;
}

int MCU_CHECK_STATUS(PortIo& io) {
  for (int attempt = 0; attempt < kMcuFreeAttempts; ++attempt) {
    io.out8(kSmbHstSts, kSmbClearStatus);
    MCU_IO_DELAY(io);
    if ((io.in8(kSmbHstSts) & kSmbInUse) == 0) return 1;
  }
  return 0;
}

int MCU_ENABLE_BLOCK_BUFFER(PortIo& io, std::uint8_t mode) {
  if (!MCU_CHECK_STATUS(io)) return 0;
  std::uint8_t aux = io.in8(kSmbAuxCtl);
  if (mode == 1) aux |= kSmbBlockBufferEnable;
  if (mode == 0) aux &= static_cast<std::uint8_t>(~kSmbBlockBufferEnable);
  io.out8(kSmbAuxCtl, aux);
  return 1;
}

int MCU_CLEAR_TCO2_STATUS(PortIo& io) {
  io.out8(kTco2Sts, io.in8(kTco2Sts) | kTco2StatusBit);
  return 1;
}

int MCU_RESET_BLOCK_BUFFER(PortIo& io) {
  io.in8(kSmbHstCnt);
  return 1;
}

int MCU_SET_SLAVE_ADDRESS(PortIo& io, std::uint8_t mode) {
  io.out8(kSmbXmitSlva, mode == 0 ? kMcuAddressRead : kMcuAddressWrite);
  return 1;
}

int MCU_WRITE_BLOCK(PortIo& io, const std::uint8_t* block, std::uint8_t length) {
  if (block == nullptr || length == 0) return 0;
  if (!MCU_CHECK_STATUS(io)) return 0;
  MCU_ENABLE_BLOCK_BUFFER(io, 1);
  MCU_CLEAR_TCO2_STATUS(io);
  MCU_RESET_BLOCK_BUFFER(io);
  MCU_SET_SLAVE_ADDRESS(io, 1);
  io.out8(kSmbHstCmd, block[0]);
  io.out8(kSmbHstD0, block[0]);
  for (int i = 1; i < length; ++i) io.out8(kSmbHostBlockDb, block[i]);
  io.out8(kSmbHstCnt, kSmbBlockCommand);
  MCU_CHECK_STATUS(io);  // the transfer's end; its outcome does not change the result
  MCU_ENABLE_BLOCK_BUFFER(io, 0);
  return 1;
}

int MCU_READ_BLOCK(PortIo& io, std::uint8_t* buffer, std::uint8_t* count) {
  if (buffer == nullptr || count == nullptr) return 0;
  if (!MCU_CHECK_STATUS(io)) return 0;
  MCU_ENABLE_BLOCK_BUFFER(io, 1);
  MCU_SET_SLAVE_ADDRESS(io, 0);
  MCU_CLEAR_TCO2_STATUS(io);
  io.out8(kSmbHstCmd, 0);
  io.out8(kSmbHstD0, 0);
  MCU_RESET_BLOCK_BUFFER(io);
  io.out8(kSmbHstCnt, kSmbBlockCommand);
  MCU_IO_DELAY(io);  // the device's answer is not polled for: one delay is its time
  // Kept in a local: `count` may point into `buffer`.
  const std::uint8_t n = io.in8(kSmbHstD0);
  *count = n;
  for (int i = 0; i < n; ++i) {
    buffer[i] = io.in8(kSmbHostBlockDb);
    MCU_IO_DELAY(io);
  }
  const int result = MCU_CHECK_STATUS(io);
  MCU_ENABLE_BLOCK_BUFFER(io, 0);
  return result;
}

}  // namespace nvram

#pragma once

#include <cstddef>
#include <cstdint>

#include "smbus/port_io.h"

// Block transfers to the platform's microcontroller (SMBus address 0x26) through the chipset's
// SMBus host controller at I/O base 0xF040. Every operation returns 1 for success and 0 for
// failure and reaches the hardware only through the PortIo it is given.
namespace nvram {

inline constexpr std::uint16_t kSmbHstSts = 0xF040;  // write 0xFE to clear; bit 6 in use
inline constexpr std::uint16_t kSmbHstCnt = 0xF042;  // a read resets the block index
inline constexpr std::uint16_t kSmbHstCmd = 0xF043;
inline constexpr std::uint16_t kSmbXmitSlva = 0xF044;
inline constexpr std::uint16_t kSmbHstD0 = 0xF045;  // byte count of a block
inline constexpr std::uint16_t kSmbHostBlockDb = 0xF047;
inline constexpr std::uint16_t kSmbAuxCtl = 0xF04D;  // bit 1 enables the 32-byte buffer
inline constexpr std::uint16_t kTco2Sts = 0x466;
inline constexpr std::uint16_t kDelayPort = 0xED;

inline constexpr std::uint8_t kSmbClearStatus = 0xFE;
inline constexpr std::uint8_t kSmbInUse = 0x40;
inline constexpr std::uint8_t kSmbBlockBufferEnable = 0x02;
inline constexpr std::uint8_t kTco2StatusBit = 0x02;
inline constexpr std::uint8_t kSmbBlockCommand = 0x54;  // start, block protocol
inline constexpr std::uint8_t kMcuAddressWrite = 0x4C;  // device 0x26, write
inline constexpr std::uint8_t kMcuAddressRead = 0x4D;   // device 0x26, read
inline constexpr int kMcuDelayReads = 0xFFF;
inline constexpr int kMcuFreeAttempts = 100;

// A block read stores as many bytes as the device's count says, up to 255: the receive buffer
// must hold this many.
inline constexpr std::size_t kMcuReadBufferSize = 255;

// 4095 reads of the delay port.
int MCU_IO_DELAY(PortIo& io);

// Waits for the controller to be free: up to 100 times, clear the status, delay, and look at the
// in-use bit. 1 as soon as it reads 0, 0 after 100 attempts.
int MCU_CHECK_STATUS(PortIo& io);

// After the controller-free wait (0 if it fails, AUX_CTL untouched): mode 1 sets the block-buffer
// bit of AUX_CTL, mode 0 clears it, any other mode writes the register back as it was.
int MCU_ENABLE_BLOCK_BUFFER(PortIo& io, std::uint8_t mode);

// Writes TCO2_STS back with bit 1 set, which clears that status bit.
int MCU_CLEAR_TCO2_STATUS(PortIo& io);

// Reads HST_CNT, which resets the controller's block index.
int MCU_RESET_BLOCK_BUFFER(PortIo& io);

// Mode 0 addresses the device for a read (0x4D), any other mode for a write (0x4C).
int MCU_SET_SLAVE_ADDRESS(PortIo& io, std::uint8_t mode);

// Sends `block` to the device. Its first byte is both the command and the byte count; bytes 1 to
// length-1 follow as the block data. Fails at once, touching no port, for a null block or a
// length of 0 (there is no command byte); 0 when the controller never becomes free.
int MCU_WRITE_BLOCK(PortIo& io, const std::uint8_t* block, std::uint8_t length);

// Reads a block from the device: its byte count goes to *count and that many bytes to `buffer`,
// which must hold kMcuReadBufferSize bytes. Fails at once, touching no port, for a null pointer.
// The result is that of the controller-free wait after the transfer.
int MCU_READ_BLOCK(PortIo& io, std::uint8_t* buffer, std::uint8_t* count);

}  // namespace nvram

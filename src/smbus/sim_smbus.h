#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "smbus/port_io.h"

// A small model of the chipset's SMBus host controller at 0xF040 with the microcontroller at
// address 0x26 behind it, and the TCO2 status register at 0x466, for running the microcontroller
// module without the hardware. It records every port access in order.
//
// The registers behave as the module relies on: the host status bits are cleared by writing them
// as 1; the in-use bit is a semaphore (a read that finds it free takes it, writing it as 1
// frees it); a read of the host control register resets the block index; writing a start with the
// block protocol (0x54) runs a block command at once, which needs the 32-byte buffer enabled in
// AUX_CTL and the device's address, and otherwise ends with the device-error bit; TCO2_STS bits
// are cleared by writing them as 1. Other ports read as 0xFF.
namespace nvram {

class SimSmbus final : public PortIo {
 public:
  enum class Dir : std::uint8_t { kIn, kOut, kDelay };

  // One access; a run of reads of the delay port is one kDelay entry whose value is their number.
  struct Access {
    Dir dir;
    std::uint16_t port;
    std::uint32_t value;
    bool operator==(const Access&) const = default;
  };

  // What a block write delivered to the device.
  struct Delivered {
    std::uint8_t command;
    std::uint8_t count;
    std::vector<std::uint8_t> data;  // the first `count` bytes of the buffer, at most 32
    bool operator==(const Delivered&) const = default;
  };

  static constexpr int kBusyForever = -1;
  static constexpr std::uint8_t kIntr = 0x02;    // host status: command finished
  static constexpr std::uint8_t kDevErr = 0x04;  // host status: device error
  static constexpr std::size_t kBufferSize = 32;

  // Set up by the test. `busy_polls` is the number of host status reads that still find the
  // controller held by another owner (kBusyForever: all of them). `answer_count` and
  // `answer_bytes` are the device's answer to a block read; only the first 32 bytes fit the
  // buffer, and block data reads past it give 0xFF.
  int busy_polls = 0;
  std::uint8_t answer_count = 0;
  std::vector<std::uint8_t> answer_bytes;

  // Registers; a test may preset them.
  std::uint8_t hst_sts = 0, hst_cnt = 0, hst_cmd = 0, xmit_slva = 0, hst_d0 = 0;
  std::uint8_t aux_ctl = 0, tco2_sts = 0;
  bool in_use = false;
  std::array<std::uint8_t, kBufferSize> buffer{};
  std::size_t block_index = 0;

  // What happened.
  std::vector<Access> log;
  std::size_t delay_reads = 0;
  std::vector<Delivered> delivered;

  std::uint8_t in8(std::uint16_t port) override;
  void out8(std::uint16_t port, std::uint8_t value) override;

 private:
  std::uint8_t read_register(std::uint16_t port);
  void run_command(std::uint8_t control);
};

}  // namespace nvram

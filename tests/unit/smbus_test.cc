#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "smbus/sim_smbus.h"
#include "smbus/smbus.h"

namespace nvram {

void PrintTo(const SimSmbus::Access& a, std::ostream* os) {
  static const char* const kDir[] = {"in", "out", "delay"};
  *os << kDir[static_cast<int>(a.dir)] << " 0x" << std::hex << a.port << " = 0x" << a.value;
}

namespace {

using Log = std::vector<SimSmbus::Access>;
using Dir = SimSmbus::Dir;

SimSmbus::Access In(std::uint16_t port, std::uint8_t value) {
  return {Dir::kIn, port, value};
}
SimSmbus::Access Out(std::uint16_t port, std::uint8_t value) {
  return {Dir::kOut, port, value};
}
SimSmbus::Access Delay() {
  return {Dir::kDelay, kDelayPort, 4095};
}

Log operator+(Log a, const Log& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One attempt of the controller-free wait, finding the status `sts`.
Log Attempt(std::uint8_t sts = 0) {
  return {Out(kSmbHstSts, 0xFE), Delay(), In(kSmbHstSts, sts)};
}
Log Aux(std::uint8_t before, std::uint8_t after) {
  return Attempt() + Log{In(kSmbAuxCtl, before), Out(kSmbAuxCtl, after)};
}
Log Repeat(const Log& part, int times) {
  Log all;
  for (int i = 0; i < times; ++i) all = all + part;
  return all;
}

TEST(McuPorts, DelayAndBlockBufferModes) {
  SimSmbus sim;
  EXPECT_EQ(MCU_IO_DELAY(sim), 1);
  EXPECT_EQ(sim.delay_reads, 4095u);
  EXPECT_EQ(sim.log, Log{Delay()});

  sim.log.clear();
  sim.aux_ctl = 0x01;
  EXPECT_EQ(MCU_ENABLE_BLOCK_BUFFER(sim, 1), 1);
  EXPECT_EQ(MCU_ENABLE_BLOCK_BUFFER(sim, 2), 1);  // any other mode leaves the register as it was
  EXPECT_EQ(MCU_ENABLE_BLOCK_BUFFER(sim, 0), 1);
  EXPECT_EQ(sim.log, Aux(0x01, 0x03) + Aux(0x03, 0x03) + Aux(0x03, 0x01));
}

TEST(McuPorts, ControllerFreeWaitGivesUpAfterExactly100Attempts) {
  SimSmbus sim;
  sim.busy_polls = 99;
  EXPECT_EQ(MCU_CHECK_STATUS(sim), 1);
  EXPECT_EQ(sim.log, Repeat(Attempt(0x40), 99) + Attempt());

  SimSmbus stuck;
  stuck.busy_polls = SimSmbus::kBusyForever;
  stuck.aux_ctl = 0x01;
  EXPECT_EQ(MCU_CHECK_STATUS(stuck), 0);
  EXPECT_EQ(stuck.log, Repeat(Attempt(0x40), 100));

  // Nothing past the wait is touched when it fails.
  const std::uint8_t block[] = {1, 0x55};
  std::uint8_t buffer[kMcuReadBufferSize], count = 0xAA;
  for (int op = 0; op < 3; ++op) {
    stuck.log.clear();
    const int result = op == 0   ? MCU_WRITE_BLOCK(stuck, block, 2)
                       : op == 1 ? MCU_READ_BLOCK(stuck, buffer, &count)
                                 : MCU_ENABLE_BLOCK_BUFFER(stuck, 1);
    EXPECT_EQ(result, 0) << op;
    EXPECT_EQ(stuck.log, Repeat(Attempt(0x40), 100)) << op;
  }
  EXPECT_EQ(count, 0xAA);
  EXPECT_EQ(stuck.aux_ctl, 0x01);
}

TEST(McuPorts, NullPointersFailWithNoPortTouched) {
  SimSmbus sim;
  const std::uint8_t block[] = {0};
  std::uint8_t buffer[kMcuReadBufferSize], count = 0;
  EXPECT_EQ(MCU_WRITE_BLOCK(sim, nullptr, 3), 0);
  EXPECT_EQ(MCU_WRITE_BLOCK(sim, block, 0), 0);  // no command byte to send
  EXPECT_EQ(MCU_READ_BLOCK(sim, nullptr, &count), 0);
  EXPECT_EQ(MCU_READ_BLOCK(sim, buffer, nullptr), 0);
  EXPECT_TRUE(sim.log.empty());
}

// The register sequence of a block write up to the start of the command.
Log WriteStart(std::uint8_t first) {
  return Attempt() + Aux(0x00, 0x02) + Log{In(kTco2Sts, 0x02),     Out(kTco2Sts, 0x02),
                                           In(kSmbHstCnt, 0x00),   Out(kSmbXmitSlva, 0x4C),
                                           Out(kSmbHstCmd, first), Out(kSmbHstD0, first)};
}

TEST(McuBlockWrite, SendsCommandCountThenTheRestInOrder) {
  SimSmbus sim;
  sim.tco2_sts = 0x02;
  const std::uint8_t block[] = {3, 0xA1, 0xA2, 0xA3};
  EXPECT_EQ(MCU_WRITE_BLOCK(sim, block, 4), 1);
  EXPECT_EQ(sim.log, (WriteStart(3) +
                      Log{Out(kSmbHostBlockDb, 0xA1), Out(kSmbHostBlockDb, 0xA2),
                          Out(kSmbHostBlockDb, 0xA3), Out(kSmbHstCnt, 0x54)} +
                      Attempt() + Aux(0x02, 0x00)));
  EXPECT_EQ(sim.delivered, (std::vector<SimSmbus::Delivered>{{3, 3, {0xA1, 0xA2, 0xA3}}}));
  EXPECT_EQ(sim.aux_ctl, 0x00);
  EXPECT_EQ(sim.tco2_sts, 0x00);

  // Length 1: only the command/count byte.
  SimSmbus one;
  one.tco2_sts = 0x02;
  EXPECT_EQ(MCU_WRITE_BLOCK(one, block, 1), 1);
  EXPECT_EQ(one.log, (WriteStart(3) + Log{Out(kSmbHstCnt, 0x54)} + Attempt() + Aux(0x02, 0x00)));
}

// The register sequence of a block read up to the byte count.
Log ReadStart(std::uint8_t count) {
  return Attempt() + Aux(0x00, 0x02) + Log{Out(kSmbXmitSlva, 0x4D), In(kTco2Sts, 0x00),
                                           Out(kTco2Sts, 0x02),     Out(kSmbHstCmd, 0),
                                           Out(kSmbHstD0, 0),       In(kSmbHstCnt, 0x00),
                                           Out(kSmbHstCnt, 0x54),   Delay(),
                                           In(kSmbHstD0, count)};
}

TEST(McuBlockRead, StoresTheDevicesCountAndBytes) {
  SimSmbus sim;
  sim.answer_count = 3;
  sim.answer_bytes = {0x11, 0x22, 0x33};
  std::uint8_t buffer[kMcuReadBufferSize + 1] = {}, count = 0;
  buffer[3] = 0x5A;
  EXPECT_EQ(MCU_READ_BLOCK(sim, buffer, &count), 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 4),
            (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x5A}));
  EXPECT_EQ(sim.log, (ReadStart(3) +
                      Log{In(kSmbHostBlockDb, 0x11), Delay(), In(kSmbHostBlockDb, 0x22), Delay(),
                          In(kSmbHostBlockDb, 0x33), Delay()} +
                      Attempt() + Aux(0x02, 0x00)));
  EXPECT_EQ(sim.aux_ctl, 0x00);

  // A count of 0 reads no data byte.
  SimSmbus empty;
  buffer[0] = 0x5A;
  EXPECT_EQ(MCU_READ_BLOCK(empty, buffer, &count), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer[0], 0x5A);
  EXPECT_EQ(empty.log, ReadStart(0) + Attempt() + Aux(0x02, 0x00));
}

TEST(McuBlockRead, CountOf255IsTakenAsItComes) {
  SimSmbus sim;
  sim.answer_count = 255;
  for (int i = 0; i < 255; ++i) sim.answer_bytes.push_back(static_cast<std::uint8_t>(i));
  std::uint8_t buffer[kMcuReadBufferSize + 1] = {}, count = 0;
  buffer[255] = 0x5A;
  EXPECT_EQ(MCU_READ_BLOCK(sim, buffer, &count), 1);
  EXPECT_EQ(count, 255);
  Log data;
  for (int i = 0; i < 255; ++i) data = data + Log{In(kSmbHostBlockDb, i < 32 ? i : 0xFF), Delay()};
  EXPECT_EQ(sim.log, ReadStart(255) + data + Attempt() + Aux(0x02, 0x00));
  EXPECT_EQ(buffer[31], 31);
  EXPECT_EQ(buffer[32], 0xFF);  // past the controller's 32-byte buffer
  EXPECT_EQ(buffer[255], 0x5A);
}

// Hands the accesses on to the simulated controller, which another owner takes over as soon as
// the byte count has been read.
class TakenAfterCount final : public PortIo {
 public:
  explicit TakenAfterCount(SimSmbus& sim) : sim_(sim) {}
  std::uint8_t in8(std::uint16_t port) override {
    if (port == kSmbHstD0) sim_.busy_polls = SimSmbus::kBusyForever;
    return sim_.in8(port);
  }
  void out8(std::uint16_t port, std::uint8_t value) override { sim_.out8(port, value); }

 private:
  SimSmbus& sim_;
};

TEST(McuBlockRead, ResultIsTheFinalWait) {
  SimSmbus sim;
  sim.answer_count = 1;
  sim.answer_bytes = {0x42};
  TakenAfterCount io(sim);
  std::uint8_t buffer[kMcuReadBufferSize], count = 0;
  EXPECT_EQ(MCU_READ_BLOCK(io, buffer, &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(buffer[0], 0x42);
  // The final wait and the disabling's wait both give up; the buffer stays enabled.
  EXPECT_EQ(sim.log,
            (ReadStart(1) + Log{In(kSmbHostBlockDb, 0x42), Delay()} + Repeat(Attempt(0x40), 200)));
  EXPECT_EQ(sim.aux_ctl, 0x02);
}

}  // namespace
}  // namespace nvram

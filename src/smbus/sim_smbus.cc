#include "smbus/sim_smbus.h"

#include <algorithm>

#include "smbus/smbus.h"

namespace nvram {
namespace {

constexpr std::uint8_t kStart = 0x40;
constexpr std::uint8_t kProtocolMask = 0x1C;
constexpr std::uint8_t kBlockProtocol = 0x14;
constexpr std::uint8_t kMcuAddress = 0x26;

}  // namespace

std::uint8_t SimSmbus::in8(std::uint16_t port) {
  if (port == kDelayPort) {
    ++delay_reads;
    if (!log.empty() && log.back().dir == Dir::kDelay) {
      ++log.back().value;
    } else {
      log.push_back({Dir::kDelay, port, 1});
    }
    return 0xFF;
  }
  const std::uint8_t value = read_register(port);
  log.push_back({Dir::kIn, port, value});
  return value;
}

std::uint8_t SimSmbus::read_register(std::uint16_t port) {
  switch (port) {
    case kSmbHstSts:
      if (busy_polls != 0) {
        if (busy_polls > 0) --busy_polls;
        return hst_sts | kSmbInUse;
      }
      if (in_use) return hst_sts | kSmbInUse;
      in_use = true;
      return hst_sts;
    case kSmbHstCnt:
      block_index = 0;
      return hst_cnt;
    case kSmbHstCmd:
      return hst_cmd;
    case kSmbXmitSlva:
      return xmit_slva;
    case kSmbHstD0:
      return hst_d0;
    case kSmbHostBlockDb: {
      const std::size_t i = block_index++;
      return i < kBufferSize ? buffer[i] : 0xFF;
    }
    case kSmbAuxCtl:
      return aux_ctl;
    case kTco2Sts:
      return tco2_sts;
    default:
      return 0xFF;
  }
}

void SimSmbus::out8(std::uint16_t port, std::uint8_t value) {
  log.push_back({Dir::kOut, port, value});
  switch (port) {
    case kSmbHstSts:
      hst_sts &= static_cast<std::uint8_t>(~(value & 0xFE));
      if (value & kSmbInUse) in_use = false;
      break;
    case kSmbHstCnt:
      hst_cnt = value & static_cast<std::uint8_t>(~kStart);
      if (value & kStart) run_command(value);
      break;
    case kSmbHstCmd:
      hst_cmd = value;
      break;
    case kSmbXmitSlva:
      xmit_slva = value;
      break;
    case kSmbHstD0:
      hst_d0 = value;
      break;
    case kSmbHostBlockDb:
      if (block_index < kBufferSize) buffer[block_index] = value;
      ++block_index;
      break;
    case kSmbAuxCtl:
      aux_ctl = value;
      break;
    case kTco2Sts:
      tco2_sts &= static_cast<std::uint8_t>(~value);
      break;
    default:
      break;
  }
}

void SimSmbus::run_command(std::uint8_t control) {
  if ((control & kProtocolMask) != kBlockProtocol || !(aux_ctl & kSmbBlockBufferEnable) ||
      (xmit_slva >> 1) != kMcuAddress) {
    hst_sts |= kDevErr;
    return;
  }
  if (xmit_slva & 1) {
    hst_d0 = answer_count;
    buffer.fill(0);
    std::copy_n(answer_bytes.begin(), std::min(answer_bytes.size(), kBufferSize), buffer.begin());
  } else {
    const std::size_t n = std::min<std::size_t>(hst_d0, kBufferSize);
    delivered.push_back({hst_cmd, hst_d0, {buffer.begin(), buffer.begin() + n}});
  }
  hst_sts |= kIntr;
}

}  // namespace nvram

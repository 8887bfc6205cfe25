// Which fault falls due on a request and how its response is rewritten.

#include "server/fault_plan.h"

#include "modbus/functions.h"
#include "modbus/rtu_framer.h"

namespace {

bool IsExceptionCodeOffered(uint8_t code) { return (code >= 1 && code <= 4) || code == 6; }

uint32_t Index(FaultKind kind) { return static_cast<uint32_t>(kind) - 1; }

}  // namespace

FaultSettings ClampFaultSettings(const FaultSettings& settings) {
  FaultSettings clamped = settings;
  if (clamped.delayMs > kFaultMaxDelayMs) clamped.delayMs = kFaultMaxDelayMs;
  if (!IsExceptionCodeOffered(clamped.exceptionCode)) clamped.exceptionCode = kServerDeviceFailure;
  return clamped;
}

bool AnyFaultOn(const FaultSettings& settings) {
  for (uint32_t i = 0; i < kFaultKindCount; ++i)
    if (settings.every[i] != 0) return true;
  return false;
}

FaultKind NextFault(FaultPlan* plan) {
  const uint32_t n = ++plan->requests;
  for (uint32_t i = 0; i < kFaultKindCount; ++i) {
    const FaultKind kind = static_cast<FaultKind>(i + 1);
    const uint16_t every = plan->settings.every[Index(kind)];
    if (every == 0 || n % every != 0) continue;
    if (kind == FaultKind::kClose && !plan->tcp) continue;
    return kind;
  }
  return FaultKind::kNone;
}

void RewriteForFault(FaultKind kind, bool mbap, uint8_t* adu, uint32_t length) {
  if (mbap) {
    if (length < 7) return;
    if (kind == FaultKind::kDamage) adu[0] ^= 0x80;
    if (kind == FaultKind::kOtherUnit) adu[6] = static_cast<uint8_t>(adu[6] + 1);
    return;
  }
  if (length < 4) return;
  if (kind == FaultKind::kDamage) {
    adu[length - 2] ^= 0xFF;
    adu[length - 1] ^= 0xFF;
  } else if (kind == FaultKind::kOtherUnit) {
    adu[0] = adu[0] >= kHighestSlaveId ? 1 : static_cast<uint8_t>(adu[0] + 1);
    const uint16_t crc = Crc16(adu, length - 2);
    adu[length - 2] = static_cast<uint8_t>(crc & 0xFF);  // the RTU CRC goes low byte first
    adu[length - 1] = static_cast<uint8_t>(crc >> 8);
  }
}

uint32_t SplitPoint(uint32_t length) { return length < 2 ? length : length / 2; }

const Unit* FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::kDrop: return u"answer dropped";
    case FaultKind::kLate: return u"answer delayed";
    case FaultKind::kException: return u"exception instead of the answer";
    case FaultKind::kDamage: return u"answer damaged";
    case FaultKind::kOtherUnit: return u"answer from another unit";
    case FaultKind::kSplit: return u"answer split";
    case FaultKind::kClose: return u"connection closed instead of answering";
    default: return u"";
  }
}

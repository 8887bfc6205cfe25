#include "modbus/framing.h"

#include "common/memory.h"
#include "modbus/ascii_framer.h"
#include "modbus/functions.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"

namespace {

Framer* NewRtu() { return mem::New<RtuFramer>(false); }
Framer* NewAscii() { return mem::New<AsciiFramer>(); }
Framer* NewMbap() { return mem::New<MbapFramer>(); }
Framer* NewRtuStream() { return mem::New<RtuFramer>(true); }

// In the order of FramingKind.
constexpr FramingTraits kFramings[] = {
    {FramingKind::kRtu, FrameReceipt::kWhole, true, false, kHighestSlaveId, kLowestSlaveId, NewRtu},
    {FramingKind::kAscii, FrameReceipt::kDelimited, true, false, kHighestSlaveId, kLowestSlaveId, NewAscii},
    {FramingKind::kMbap, FrameReceipt::kMbapLength, false, true, kHighestUnitId, kHighestUnitId, NewMbap},
    {FramingKind::kRtuStream, FrameReceipt::kRtuLength, true, false, kHighestSlaveId, kLowestSlaveId, NewRtuStream},
};

constexpr uint32_t kFramingCount = sizeof kFramings / sizeof kFramings[0];

constexpr bool InKindOrder() {
  for (uint32_t i = 0; i < kFramingCount; ++i) {
    if (static_cast<uint32_t>(kFramings[i].kind) != i) return false;
  }
  return true;
}
static_assert(InKindOrder(), "the table is indexed by FramingKind");

}  // namespace

const FramingTraits& TraitsOf(FramingKind kind) {
  const uint32_t index = static_cast<uint32_t>(kind);
  return kFramings[index < kFramingCount ? index : 0];
}

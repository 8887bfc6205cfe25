// The bus monitor fed what a listener on a shared RTU line might hear:
// pieces of any bytes at any gaps. The first byte picks t3.5; then each
// piece is one control byte (low four bits: length 1-16, high four bits:
// the gap before it in steps of 3 ms, 0 to 45 ms, across t3.5 and the burst
// gap) and its bytes. Every frame reported lies within the buffer, every
// request and answer checks its CRC, the buffer never overflows, and a
// long silence at the end leaves nothing unresolved.

#include <stddef.h>
#include <stdint.h>

#include "fuzz/fuzz_input.h"
#include "modbus/bus_monitor.h"
#include "modbus/rtu_framer.h"

namespace {

void CheckFrame(void*, const BusFrame& frame) {
  if (frame.kind == BusFrameKind::kTimeout) {
    FUZZ_CHECK(frame.length == 0 && frame.bytes == nullptr);
    return;
  }
  FUZZ_CHECK(frame.length >= 1 && frame.length <= BusMonitor::kBufferCapacity);
  if (frame.kind == BusFrameKind::kNoise) return;
  FUZZ_CHECK(frame.length >= 4);
  if (frame.kind == BusFrameKind::kDamaged) return;
  FUZZ_CHECK(frame.length <= kMaxRtuAdu);
  const uint16_t crc = Crc16(frame.bytes, frame.length - 2);
  FUZZ_CHECK(crc == (frame.bytes[frame.length - 2] | (frame.bytes[frame.length - 1] << 8)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  BusTiming timing;
  timing.silenceMs = 2 + (input.Byte() & 7);
  timing.answerTimeoutMs = 100;
  BusMonitor bus(timing, &CheckFrame, nullptr);
  BusMonitor* monitor = &bus;
  uint32_t tick = 0xFFFFFF00u;  // wraps during the input
  uint8_t piece[16];
  while (input.Left() > 0) {
    const uint8_t control = input.Byte();
    const uint32_t length = (control & 0x0F) + 1u;
    tick += (control >> 4) * 3u;
    uint32_t taken = 0;
    while (taken < length && input.Left() > 0) piece[taken++] = input.Byte();
    monitor->Feed(piece, taken, tick);
    FUZZ_CHECK(monitor->BufferedBytes() <= BusMonitor::kBufferCapacity);
  }
  monitor->Idle(tick + 1000);
  FUZZ_CHECK(monitor->BufferedBytes() == 0);
  FUZZ_CHECK(monitor->SeenCount() <= BusMonitor::kUnitCount);
  return 0;
}

// The bus monitor's framing, pairing and counts, fed byte streams as a
// listener on a shared RTU line hears them: frames back to back with no
// silence (a driver that hands over two frames at once), noise, damaged
// CRCs, exceptions, units that never answer, answers in an adapter's bursts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/bus_monitor.h"
#include "modbus/frames.h"
#include "modbus/functions.h"

namespace {

Bytes Rtu(uint8_t unit, uint8_t function, const Bytes& data) {
  RtuFramer framer;
  return Build(framer, unit, 0, function, data);
}

Bytes Damaged(Bytes frame) {
  frame[frame.size() - 2] ^= 0x5A;
  return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// What happens on the line: bytes arriving at a tick, or a silence up to a tick.
struct Piece {
  uint32_t tick;
  Bytes bytes;  // empty: nothing arrived until tick
};

struct Expected {
  uint8_t unit;
  uint32_t requests, answers, exceptions, crcErrors, timeouts;
  uint8_t lastFunction;
  int32_t responseMs;  // -1: none
};

struct Case {
  const char* name;
  std::vector<Piece> pieces;
  std::vector<Expected> units;  // exactly the units seen
  bool noise;                   // some bytes were noise
  std::string kinds;            // q request, a answer, x exception, d damaged, n noise, u unpaired answer, t time-out
};

const Bytes kRead1 = Rtu(1, kReadHoldingRegisters, {0x00, 0x00, 0x00, 0x02});
const Bytes kAnswer1 = Rtu(1, kReadHoldingRegisters, {0x04, 0x00, 0x0A, 0x00, 0x0B});
const Bytes kWrite2 = Rtu(2, kWriteSingleRegister, {0x00, 0x05, 0x12, 0x34});
const Bytes kRead2 = Rtu(2, kReadInputRegisters, {0x00, 0x10, 0x00, 0x01});
const Bytes kException2 = Rtu(2, kReadInputRegisters | kExceptionFlag, {kIllegalDataAddress});
const Bytes kRead5 = Rtu(5, kReadCoils, {0x00, 0x00, 0x00, 0x08});
// An answer of 8 bytes, the length of a read request to the same unit.
const Bytes kShortAnswer1 = Rtu(1, kReadHoldingRegisters, {0x03, 0x00, 0x0A, 0x00});
const Bytes kWriteMany3 = Rtu(3, kWriteMultipleRegisters, {0x00, 0x01, 0x00, 0x02, 0x04, 0xAA, 0xBB, 0xCC, 0xDD});
const Bytes kWriteManyAnswer3 = Rtu(3, kWriteMultipleRegisters, {0x00, 0x01, 0x00, 0x02});
const Bytes kEcho4 = Rtu(4, kDiagnostics, {0x00, 0x00, 0x12, 0x34, 0x56, 0x78});
const Bytes kBroadcast = Rtu(0, kWriteSingleCoil, {0x00, 0x01, 0xFF, 0x00});
const Bytes kUnknown6 = Rtu(6, 0x41, {0x01, 0x02, 0x03});

// 9600 baud: t3.5 5 ms, a USB adapter's bursts up to 40 ms apart.
const BusTiming kTiming{5, 40, 1000};

std::vector<Case> Cases() {
  return {
      {"one exchange",
       {{10, kRead1}, {30, kAnswer1}, {200, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 20}}, false, "qa"},
      {"back to back, no silence",
       {{10, Join({kRead1, kAnswer1, kWrite2, kWrite2, kRead2, kException2})}, {500, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 0}, {2, 2, 2, 1, 0, 0, kReadInputRegisters, 0}},
       false, "qaqaqx"},
      {"noise before a frame",
       {{10, Join({{0xFF, 0x13, 0xA5, 0x01, 0x03}, kRead1})}, {20, kAnswer1}, {500, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 10}}, true, "nqa"},
      {"noise that looks like the start of a long frame",
       {{10, Join({{0x02, 0x10, 0x00, 0x00, 0x00, 0x02, 0x7F}, kRead1, kAnswer1})}, {500, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 0}}, true, "nqa"},
      {"a damaged answer, then a good exchange",
       {{10, kRead1}, {20, Damaged(kAnswer1)}, {300, kRead1}, {310, kAnswer1}, {900, {}}},
       {{1, 2, 1, 0, 1, 0, kReadHoldingRegisters, 10}}, false, "qdqa"},
      {"a damaged request the slave ignores, back to back with the next",
       {{10, Join({Damaged(kRead5), kRead1, kAnswer1})}, {900, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 0}, {5, 0, 0, 0, 1, 0, 0, -1}}, false, "dqa"},
      {"an exception",
       {{10, kRead2}, {14, kException2}, {100, {}}},
       {{2, 1, 1, 1, 0, 0, kReadInputRegisters, 4}}, false, "qx"},
      {"a unit that never answers, then the next request",
       {{10, kRead5}, {600, kRead1}, {620, kAnswer1}, {700, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 20}, {5, 1, 0, 0, 0, 1, kReadCoils, -1}}, false, "qtqa"},
      {"the last request unanswered past the answer time-out; a late answer pairs with nothing",
       {{10, kRead1}, {1200, {}}, {1300, kAnswer1}, {1400, {}}},
       {{1, 1, 0, 0, 0, 1, kReadHoldingRegisters, -1}}, false, "qtu"},
      {"an answer in an adapter's bursts 16 ms apart",
       {{10, kRead1}, {20, Bytes(kAnswer1.begin(), kAnswer1.begin() + 4)},
        {36, Bytes(kAnswer1.begin() + 4, kAnswer1.end())}, {200, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 10}}, false, "qa"},
      {"a frame cut short by a silence longer than the burst gap",
       {{10, kRead1}, {20, Bytes(kAnswer1.begin(), kAnswer1.begin() + 4)}, {100, {}}, {300, kRead1}},
       {{1, 2, 0, 0, 0, 1, kReadHoldingRegisters, -1}}, true, "qntq"},
      {"an answer as long as a request goes to the request pending",
       {{10, Join({kRead1, kShortAnswer1})}, {200, {}}},
       {{1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 0}}, false, "qa"},
      {"write multiple, function 8 with data, a broadcast that nobody answers",
       {{10, Join({kWriteMany3, kWriteManyAnswer3, kEcho4, kEcho4, kBroadcast})}, {100, kRead1}, {110, kAnswer1},
        {300, {}}},
       {{0, 1, 0, 0, 0, 0, kWriteSingleCoil, -1},
        {1, 1, 1, 0, 0, 0, kReadHoldingRegisters, 10},
        {3, 1, 1, 0, 0, 0, kWriteMultipleRegisters, 0},
        {4, 1, 1, 0, 0, 0, kDiagnostics, 0}},
       false, "qaqaqqa"},
      {"a function no rule knows, ended by a silence",
       {{10, kUnknown6}, {100, {}}},
       {{6, 1, 0, 0, 0, 0, 0x41, -1}}, false, "q"},
  };
}

struct Recorder {
  std::string kinds;
};

void Record(void* context, const BusFrame& frame) {
  Recorder* recorder = static_cast<Recorder*>(context);
  switch (frame.kind) {
    case BusFrameKind::kRequest: recorder->kinds += 'q'; break;
    case BusFrameKind::kAnswer: recorder->kinds += frame.paired ? 'a' : 'u'; break;
    case BusFrameKind::kException: recorder->kinds += 'x'; break;
    case BusFrameKind::kDamaged: recorder->kinds += 'd'; break;
    case BusFrameKind::kNoise: recorder->kinds += 'n'; break;
    case BusFrameKind::kTimeout: recorder->kinds += 't'; break;
  }
}

TEST(BusMonitor, FramesPairsAndCountsWhatTheLineCarries) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    BusMonitor monitor(kTiming, &Record, &recorder);
    for (const Piece& piece : c.pieces) {
      if (piece.bytes.empty()) monitor.Idle(piece.tick);
      else monitor.Feed(piece.bytes.data(), static_cast<uint32_t>(piece.bytes.size()), piece.tick);
    }
    EXPECT_EQ(c.kinds, recorder.kinds);
    EXPECT_EQ(0u, monitor.BufferedBytes());
    EXPECT_EQ(c.noise, monitor.NoiseBytes() > 0);
    ASSERT_EQ(c.units.size(), monitor.SeenCount());
    for (uint32_t row = 0; row < c.units.size(); ++row) {
      const Expected& e = c.units[row];
      uint8_t unit = 0;
      ASSERT_TRUE(monitor.UnitAtRow(row, &unit));
      EXPECT_EQ(e.unit, unit);
      const BusUnitCounts& got = monitor.Counts(unit);
      EXPECT_EQ(e.requests, got.requests) << "unit " << int(unit);
      EXPECT_EQ(e.answers, got.answers) << "unit " << int(unit);
      EXPECT_EQ(e.exceptions, got.exceptions) << "unit " << int(unit);
      EXPECT_EQ(e.crcErrors, got.crcErrors) << "unit " << int(unit);
      EXPECT_EQ(e.timeouts, got.timeouts) << "unit " << int(unit);
      EXPECT_EQ(e.lastFunction, got.lastFunction) << "unit " << int(unit);
      EXPECT_EQ(e.responseMs >= 0, got.hasResponseTime) << "unit " << int(unit);
      if (e.responseMs >= 0) {
        EXPECT_EQ(static_cast<uint32_t>(e.responseMs), got.lastResponseMs) << "unit " << int(unit);
      }
    }
    uint8_t past = 0;
    EXPECT_FALSE(monitor.UnitAtRow(static_cast<uint32_t>(c.units.size()), &past));
  }
}

// Every byte fed one at a time, each a tick apart (closer than t3.5): the
// same frames come out as from one piece, and noise all the way through
// never stalls the framing for longer than a buffer's worth.
TEST(BusMonitor, ByteByByteAndEndlessNoise) {
  Recorder recorder;
  BusMonitor monitor(kTiming, &Record, &recorder);
  const Bytes line = Join({kRead1, kAnswer1, kRead2, kException2, kWriteMany3, kWriteManyAnswer3});
  uint32_t tick = 100;
  for (uint8_t b : line) monitor.Feed(&b, 1, tick++);
  monitor.Idle(tick + 100);
  EXPECT_EQ("qaqxqa", recorder.kinds);

  uint32_t seed = 12345;
  for (uint32_t i = 0; i < 4 * BusMonitor::kBufferCapacity; ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint8_t b = static_cast<uint8_t>(0xF8 | (seed >> 16));  // never a unit id
    monitor.Feed(&b, 1, tick++);
    ASSERT_LE(monitor.BufferedBytes(), BusMonitor::kBufferCapacity);
  }
  EXPECT_GE(monitor.NoiseBytes(), 3 * BusMonitor::kBufferCapacity);
  monitor.Reset();
  EXPECT_EQ(0u, monitor.SeenCount());
}

}  // namespace

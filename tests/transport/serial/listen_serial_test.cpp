// The bus monitor's line on the simulated serial line: the port is opened
// for reading only and no WriteFile ever reaches the driver, not even when
// asked; and the traffic of a master and two slaves, read piece by piece as
// the driver hands it over (at once, or in a USB adapter's packets with
// gaps longer than t3.5 inside long frames), is framed and counted as it
// happened, at a slow and a fast baud rate.
#include <gtest/gtest.h>

#include <vector>

#include "common/platform.h"
#include "modbus/bus_monitor.h"
#include "modbus/functions.h"
#include "modbus/rtu_framer.h"
#include "modbus/status.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/listen_serial.h"
#include "transport/serial/rtu_adu.h"
#include "transport/serial/simulated_line.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Registers(uint8_t count) {
  Bytes data{static_cast<uint8_t>(2 * count)};
  for (uint32_t i = 0; i < 2u * count; ++i) data.push_back(static_cast<uint8_t>(i * 13 + 5));
  return data;
}

struct LineCase {
  uint32_t baud;
  bool adapter;
};

TEST(ListenSerial, OpensForReadingOnlyNeverWritesAndFramesTheBus) {
  for (const LineCase c : {LineCase{9600, false}, LineCase{9600, true}, LineCase{115200, false},
                           LineCase{115200, true}}) {
    SCOPED_TRACE(testing::Message() << c.baud << " baud" << (c.adapter ? ", USB adapter" : ""));
    SimulatedLine line;
    SerialLineSettings settings;
    settings.portName = u"COM7";
    settings.baudRate = c.baud;
    settings.parity = kParityEven;
    ListenSerialTransport port(settings, line.Api());
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(line.OpenedAccess(), static_cast<DWORD>(GENERIC_READ));
    if (c.adapter) line.SetAdapter(62, 16000);

    // The master reads 125 registers of unit 1, writes to unit 2 (which
    // answers with an exception), asks the absent unit 5, then unit 1 again.
    const uint64_t gap = 5 * line.CharacterUs();
    const std::vector<Bytes> frames = {
        RtuAdu(1, kReadHoldingRegisters, {0, 0, 0, 125}),
        RtuAdu(1, kReadHoldingRegisters, Registers(125)),
        RtuAdu(2, kWriteSingleRegister, {0, 9, 0, 1}),
        RtuAdu(2, kWriteSingleRegister | kExceptionFlag, {kIllegalDataAddress}),
        RtuAdu(5, kReadCoils, {0, 0, 0, 8}),
        RtuAdu(1, kReadHoldingRegisters, {0, 0, 0, 2}),
        RtuAdu(1, kReadHoldingRegisters, Registers(2)),
    };
    uint64_t at = line.NowUs() + 1000;
    for (size_t i = 0; i < frames.size(); ++i) {
      at = line.Arrive(at, frames[i]) + (i == 4 ? 300000 : gap);  // unit 5 leaves 300 ms of silence
    }

    BusTiming timing;
    timing.silenceMs = RtuT35Ms(c.baud);
    timing.answerTimeoutMs = 1000;
    BusMonitor monitor(timing, nullptr, nullptr);
    uint8_t buffer[kMaxRtuAdu];
    for (int round = 0; round < 10000 && line.NowUs() < at + 200000; ++round) {
      const int32_t n = port.Listen(buffer, sizeof buffer, 20);
      ASSERT_GE(n, 0);
      if (n > 0) monitor.Feed(buffer, static_cast<uint32_t>(n), plat::Tick());
      else monitor.Idle(plat::Tick());
    }
    ASSERT_EQ(monitor.SeenCount(), 3u);
    const BusUnitCounts& one = monitor.Counts(1);
    const BusUnitCounts& two = monitor.Counts(2);
    const BusUnitCounts& five = monitor.Counts(5);
    EXPECT_EQ(one.requests, 2u);
    EXPECT_EQ(one.answers, 2u);
    EXPECT_EQ(two.requests, 1u);
    EXPECT_EQ(two.exceptions, 1u);
    EXPECT_EQ(five.timeouts, 1u);
    EXPECT_EQ(one.crcErrors + two.crcErrors + five.crcErrors + monitor.NoiseBytes(), 0u);

    const uint8_t byte = 0x55;
    EXPECT_EQ(port.Write(&byte, 1, 100), TransportIoError);
    EXPECT_EQ(line.WriteFileCalls(), 0);
    EXPECT_TRUE(line.SentBytes().empty());
  }
}

}  // namespace

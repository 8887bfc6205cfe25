// RTU frames through a USB serial adapter: the adapter hands received bytes
// to the driver in packets of 62 or when its 16 ms latency timer runs out,
// so a long frame reaches us as bursts with gaps far longer than t1.5. Our
// master and our slave read every frame whole anyway, with the adapter and
// without; a frame that really lost bytes is still an error once the line
// has been quiet for the adapter limit; a slave on a shared bus reads the
// other devices' long frames whole too, so their tails never pass for
// frames of their own.
#include <gtest/gtest.h>

#include <vector>

#include "modbus/ascii_framer.h"
#include "modbus/functions.h"
#include "modbus/link.h"
#include "modbus/rtu_framer.h"
#include "modbus/status.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/rtu_serial.h"
#include "transport/serial/rtu_adu.h"
#include "transport/serial/simulated_line.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Filled(size_t count, uint8_t first, Bytes head = {}) {
  for (size_t i = 0; head.size() < count; ++i) head.push_back(static_cast<uint8_t>(first + i * 7));
  return head;
}

// One exchange: the request a master sends and the answer it gets.
struct Exchange {
  const char* name;
  Bytes request, answer;
};

std::vector<Exchange> Exchanges() {
  return {
      {"read of 125 registers", RtuAdu(1, kReadHoldingRegisters, {0, 0, 0, 125}),
       RtuAdu(1, kReadHoldingRegisters, Filled(251, 0x11, {250}))},
      {"write of 123 registers", RtuAdu(1, kWriteMultipleRegisters, Filled(251, 0x22, {0, 9, 0, 123, 246})),
       RtuAdu(1, kWriteMultipleRegisters, {0, 9, 0, 123})},
      {"function 8 with 200 data bytes", RtuAdu(1, kDiagnostics, Filled(202, 0x33, {0, 0})),
       RtuAdu(1, kDiagnostics, Filled(202, 0x33, {0, 0}))},
      {"exception", RtuAdu(1, kReadHoldingRegisters, {0xFF, 0, 0, 125}),
       RtuAdu(1, kReadHoldingRegisters | kExceptionFlag, {kIllegalDataAddress})},
  };
}

struct RtuEnd {
  RtuEnd(uint32_t baud, uint8_t parity, uint8_t role, bool adapter) : port(Settings(baud, parity), line.Api()) {
    link = LinkCreate(&port, &framer, role, nullptr, nullptr, nullptr);
    EXPECT_EQ(port.Open(), 1);
    EXPECT_EQ(port.PrepareExchange(), 1);
    if (adapter) line.SetAdapter(62, 16000);
  }
  ~RtuEnd() { LinkDestroy(link); }
  static SerialLineSettings Settings(uint32_t baud, uint8_t parity) {
    SerialLineSettings settings;
    settings.portName = u"COM7";
    settings.baudRate = baud;
    settings.parity = parity;
    return settings;
  }
  int32_t Receive() {
    AduHeader header;
    Pdu pdu;
    return ReceiveAdu(link, &header, &pdu, 3000);
  }
  SimulatedLine line;
  RtuSerialTransport port;
  RtuFramer framer;
  Link* link = nullptr;
};

TEST(UsbAdapterBursts, MasterAndSlaveReadEveryFrameWhole) {
  for (uint32_t baud : {9600u, 19200u, 115200u}) {
    for (uint8_t parity : {kParityNone, kParityEven}) {
      for (bool adapter : {true, false}) {
        for (const Exchange& e : Exchanges()) {
          SCOPED_TRACE(testing::Message() << e.name << ", " << baud << (parity ? " 8E1" : " 8N1")
                                          << (adapter ? ", adapter" : ", no adapter"));
          {
            RtuEnd slave(baud, parity, kLinkRoleServer, adapter);
            slave.line.Arrive(slave.line.NowUs() + 10000, e.request);
            EXPECT_EQ(slave.Receive(), static_cast<int32_t>(e.request.size()));
          }
          RtuEnd master(baud, parity, kLinkRoleClient, adapter);  // one simulated line at a time
          ASSERT_EQ(SendAdu(master.link, e.request.data(), static_cast<uint32_t>(e.request.size())),
                    static_cast<int32_t>(e.request.size()));
          master.line.Arrive(master.line.NowUs() + 10000, e.answer);
          EXPECT_EQ(master.Receive(), static_cast<int32_t>(e.answer.size()));
        }
      }
    }
  }
}

// Bytes lost on the way: the frame is reported as broken once nothing more
// came for the adapter limit, not held until the response time-out, and the
// next answer is read whole.
TEST(UsbAdapterBursts, AFrameCutShortIsAnErrorAfterTheLimit) {
  const Exchange e = Exchanges()[0];
  for (size_t kept : {size_t{2}, size_t{62}, size_t{250}}) {
    SCOPED_TRACE(kept);
    RtuEnd master(19200, kParityNone, kLinkRoleClient, true);
    ASSERT_GT(SendAdu(master.link, e.request.data(), static_cast<uint32_t>(e.request.size())), 0);
    const uint64_t end = master.line.Arrive(master.line.NowUs() + 10000, Bytes(e.answer.begin(), e.answer.begin() + kept));
    const int32_t status = master.Receive();
    EXPECT_TRUE(status == StatusCrcError || status == StatusInvalidLength) << status;
    const uint64_t quietUs = master.line.NowUs() - end;
    EXPECT_GE(quietUs, kRtuBurstGapMs * 1000u);
    EXPECT_LE(quietUs, (kRtuBurstGapMs + 16u + 10u) * 1000u);

    ASSERT_GT(SendAdu(master.link, e.request.data(), static_cast<uint32_t>(e.request.size())), 0);
    master.line.Arrive(master.line.NowUs() + 10000, e.answer);
    EXPECT_EQ(master.Receive(), static_cast<int32_t>(e.answer.size()));
  }
}

// A shared bus seen by slave 1 through an adapter: another master's long
// write to slave 2 and slave 2's long answer come whole and pass by. A
// frame of unknown function cannot be placed: the burst gaps cut it into
// broken pieces, none of which passes for a frame, and its own request
// after it is read whole.
TEST(UsbAdapterBursts, ASlaveOnASharedBusReadsOtherDevicesFramesWhole) {
  const Bytes others[] = {
      RtuAdu(2, kWriteMultipleRegisters, Filled(251, 0x55, {0, 0, 0, 123, 246})),
      RtuAdu(2, kWriteMultipleRegisters, {0, 0, 0, 123}),
      RtuAdu(2, kReadHoldingRegisters, {0, 0, 0, 125}),
      RtuAdu(2, kReadHoldingRegisters, Filled(251, 0x66, {250})),
  };
  const Bytes unknown = RtuAdu(2, 0x41, Filled(60, 0x44));
  const Bytes own = RtuAdu(1, kReadHoldingRegisters, {0, 0, 0, 125});
  for (uint32_t baud : {9600u, 19200u}) {
    SCOPED_TRACE(baud);
    RtuEnd slave(baud, kParityNone, kLinkRoleServer, true);
    uint64_t at = slave.line.NowUs() + 10000;
    for (const Bytes& frame : others) at = slave.line.Arrive(at, frame) + 20000;  // 20 ms turnarounds
    at = slave.line.Arrive(at, unknown) + 20000;
    slave.line.Arrive(at, own);
    AduHeader header;
    Pdu pdu;
    for (const Bytes& frame : others) {
      ASSERT_EQ(ReceiveAdu(slave.link, &header, &pdu, 3000), static_cast<int32_t>(frame.size()));
      EXPECT_EQ(pdu.function, frame[1]);
    }
    int pieces = 0;
    int32_t status = 0;
    while ((status = ReceiveAdu(slave.link, &header, &pdu, 3000)) < 0 && status != StatusTimeout) ++pieces;
    EXPECT_GE(pieces, 2);
    EXPECT_EQ(status, static_cast<int32_t>(own.size()));
    EXPECT_EQ(header.unitId, 1);
  }
}

// ASCII frames end at their CR LF; the pause the link allows between two
// characters (a second) spans every burst gap of the adapter.
TEST(UsbAdapterBursts, AsciiFramesSurviveTheGapsToo) {
  SimulatedLine line;
  line.SetAdapter(62, 16000);
  AsciiSerialTransport port(RtuEnd::Settings(9600, kParityNone), line.Api());
  AsciiFramer framer;
  Link* link = LinkCreate(&port, &framer, kLinkRoleServer, nullptr, nullptr, nullptr);
  ASSERT_EQ(port.Open(), 1);
  AduHeader header;
  header.unitId = 1;
  Pdu pdu;
  pdu.function = kWriteMultipleRegisters;
  const Bytes data = Filled(251, 0x22, {0, 9, 0, 123, 246});
  pdu.length = static_cast<uint32_t>(data.size());
  for (size_t i = 0; i < data.size(); ++i) pdu.data[i] = data[i];
  uint8_t adu[kAduBufferSize];
  const int32_t length = framer.BuildAdu(header, pdu, adu, sizeof adu);
  ASSERT_GT(length, 500);
  line.Arrive(line.NowUs() + 10000, Bytes(adu, adu + length));
  EXPECT_EQ(ReceiveAdu(link, &header, &pdu, 3000), length);
  LinkDestroy(link);
}

}  // namespace

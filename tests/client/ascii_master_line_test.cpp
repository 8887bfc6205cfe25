// The ASCII master end to end on a simulated serial line: the client
// framework with the ASCII framer and the real ASCII serial transport behind
// the communications seam, 7 data bits and even parity (which Wine refuses
// on a pseudo-terminal), answered by a simulated device on the line's far
// end. Virtual time: the line lets time pass instead of sleeping.
#include <gtest/gtest.h>

#include "client_harness.h"
#include "common/memory.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/simulated_line.h"

namespace {

// Answers every complete frame ("...\r\n") written to the line 2 ms after
// it left the port, checking every millisecond of virtual time.
void Respond(SimulatedLine& line, SimDevice& device, size_t* consumed) {
  std::vector<uint8_t> sent = line.SentBytes();
  for (size_t i = *consumed; i < sent.size(); ++i) {
    if (sent[i] != '\n') continue;
    Frame request(sent.begin() + static_cast<long>(*consumed), sent.begin() + static_cast<long>(i) + 1);
    *consumed = i + 1;
    Frame response;
    if (device.Respond(request, &response)) line.Arrive(line.NowUs() + 2000, response);
  }
  line.At(line.NowUs() + 1000, [&line, &device, consumed] { Respond(line, device, consumed); });
}

// Passes of the worker loop; waits between polls let line time pass.
void RunFor(SimulatedLine& line, ClientHarness& h, uint32_t ms) {
  uint64_t end = line.NowUs() + ms * 1000ull;
  for (int guard = 0; guard < 10000 && line.NowUs() < end; ++guard) {
    uint32_t waitMs = 0;
    if (h.context()->worker.Pass(&waitMs) == kPassWait) {
      uint64_t left = end - line.NowUs();
      line.AdvanceUs(waitMs * 1000ull < left ? waitMs * 1000ull : left);
    }
  }
}

std::u16string AsciiLine(const char16_t* prefix, const char* frame) {
  return HexLine(prefix, std::vector<uint8_t>(frame, frame + strlen(frame)));
}

TEST(AsciiMasterOnALine, ValuesExceptionsAndTimeouts) {
  SimulatedLine line;
  ClientHarness h(FramingKind::kAscii, 1000);
  ViewHost& v = *h.view;
  SimDevice device(FramingKind::kAscii);
  device.map.LockMap();
  device.map.SetCell(kAreaHoldingRegisters, 0, 0xBEEF);
  device.map.SetCell(kAreaHoldingRegisters, 1, 7);
  device.map.UnlockMap();
  size_t consumed = 0;
  Respond(line, device, &consumed);

  SerialLineSettings settings;
  settings.portName = u"COM22";
  settings.baudRate = 19200;
  settings.dataBits = 7;
  settings.parity = kParityEven;
  settings.stopBits = kStopBitsOne;
  v.EditField(3, u"1000");
  ASSERT_TRUE(h.StartPasses(mem::New<AsciiSerialTransport>(settings, line.Api())));
  EXPECT_EQ(line.State().ByteSize, 7);
  EXPECT_EQ(line.State().Parity, EVENPARITY);

  RunFor(line, h, 500);
  v.Pump();
  EXPECT_EQ(v.txLine, AsciiLine(u"TX: ", ":010300000002FA\r\n"));
  EXPECT_EQ(v.rxLine, AsciiLine(u"RX: ", ":010304BEEF000744\r\n"));
  EXPECT_EQ(v.Cell(0, 1), u"48879");
  EXPECT_EQ(v.Cell(1, 1), u"7");

  ExpectExceptionThenTimeout(device, v, 1, u"RX: Exception 01 - Illegal function", [&] { RunFor(line, h, 2000); });

  // A write of two registers goes out as one ASCII frame with its LRC.
  v.ChooseFunction(16);
  v.EditCell(0, 1, u"4660");
  v.EditCell(1, 1, u"22136");
  RunFor(line, h, 1000);
  v.Pump();
  EXPECT_EQ(v.txLine, AsciiLine(u"TX: ", ":0110000000020412345678D5\r\n"));
  EXPECT_EQ(v.rxLine, AsciiLine(u"RX: ", ":011000000002ED\r\n"));
  device.map.LockMap();
  EXPECT_EQ(device.map.Cell(kAreaHoldingRegisters, 0), 0x1234);
  EXPECT_EQ(device.map.Cell(kAreaHoldingRegisters, 1), 0x5678);
  device.map.UnlockMap();
}

// The adapter is pulled out while the master polls every 200 ms, and
// plugged back in 3.5 s later, for each error a removed device's driver
// gives. The RX line says "Transport error" once, then that the port does not
// reopen; the port is tried again about once a second, not at every poll;
// once the adapter is back, polling resumes with no call from the user and
// the table shows the device's new values.
TEST(AsciiMasterOnALine, AnUnpluggedAdapterIsReopenedWhenItReturns) {
  for (DWORD error : {ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_OPERATION_ABORTED, ERROR_GEN_FAILURE}) {
    SCOPED_TRACE(error);
    SimulatedLine line;
    ClientHarness h(FramingKind::kAscii, 1000);
    ViewHost& v = *h.view;
    SimDevice device(FramingKind::kAscii);
    size_t consumed = 0;
    Respond(line, device, &consumed);
    SerialLineSettings settings;
    settings.portName = u"COM22";
    settings.baudRate = 19200;
    v.EditField(3, u"200");
    ASSERT_TRUE(h.StartPasses(mem::New<AsciiSerialTransport>(settings, line.Api())));
    RunFor(line, h, 500);
    v.Pump();
    EXPECT_EQ(v.Cell(0, 1), u"0");

    const uint64_t removed = line.NowUs() + 50000;
    line.At(removed, [&line, error] { line.RemoveDevice(error); });
    line.At(removed + 3500000, [&line] { line.ReturnDevice(); });
    const int createsBefore = line.CreateCalls();
    const size_t postsBefore = v.log.size();
    RunFor(line, h, 3000);
    v.Pump();
    EXPECT_EQ(v.rxLine, u"RX: Reconnect failed");  // the harness composition's reopen text
    EXPECT_TRUE(v.rxError);
    const int attempts = line.CreateCalls() - createsBefore;
    printf("[ measured ] error %lu: %d reopen attempts in the 3 s the adapter was away\n",
           static_cast<unsigned long>(error), attempts);
    EXPECT_GE(attempts, 2);
    EXPECT_LE(attempts, 4) << "a calm pace, not one attempt per poll";
    size_t transportErrors = 0;
    for (size_t i = postsBefore; i < v.log.size(); ++i) transportErrors += v.log[i].text == u"RX: Transport error";
    EXPECT_EQ(transportErrors, 1u);

    device.map.LockMap();
    device.map.SetCell(kAreaHoldingRegisters, 0, 4321);
    device.map.UnlockMap();
    RunFor(line, h, 2000);
    v.Pump();
    EXPECT_TRUE(line.PortOpen());
    EXPECT_FALSE(v.rxError) << std::string(v.rxLine.begin(), v.rxLine.end());
    EXPECT_EQ(v.Cell(0, 1), u"4321");
  }
}

}  // namespace

// The serial port transport against a simulated line: opening and line
// set-up, reads with line errors, writes and the wire-time arithmetic, and
// cancellation.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "modbus/status.h"
#include "settings/settings_records.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/rtu_serial.h"
#include "transport/serial/simulated_line.h"

namespace {

SerialLineSettings Line(uint32_t baud, uint8_t handshake = kHandshakeNone, const char16_t* name = u"COM5") {
  SerialLineSettings settings;
  settings.portName = name;
  settings.baudRate = baud;
  settings.handshake = handshake;
  return settings;
}

std::wstring Wide(const char16_t* text) { return std::wstring(reinterpret_cast<const wchar_t*>(text)); }

// The settings page produces names of up to 31 characters; a longer name
// is refused, never cut down to the name of some other port.
TEST(SerialPortOpen, DevicePathGetsThePrefixAndLongNamesAreRefused) {
  struct Case {
    const char16_t* name;
    const wchar_t* path;  // empty: refused
  } cases[] = {
      {u"COM10", L"\\\\.\\COM10"},
      {u"\\\\.\\COM3", L"\\\\.\\COM3"},
      {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", L"\\\\.\\ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
      {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", L""},
      {u"\\\\.\\ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", L"\\\\.\\ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
      {u"\\\\.\\ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", L""},
      {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << Wide(c.name).size() << " characters");
    SimulatedLine line;
    AsciiSerialTransport port(Line(9600, kHandshakeNone, c.name), line.Api());
    EXPECT_EQ(Wide(port.DevicePath()), c.path);
    const bool refused = c.path[0] == 0;
    EXPECT_EQ(port.Open(), refused ? 0 : 1);
    EXPECT_EQ(line.CreateCalls(), refused ? 0 : 1);
    if (!refused) {
      EXPECT_EQ(line.OpenedPath(), c.path);
    }
    EXPECT_LE(Wide(port.DevicePath()).size(), SerialPortTransport::kMaxPathLength);
  }
}

TEST(SerialPortOpen, EmptyNameNeverOpens) {
  SimulatedLine line;
  AsciiSerialTransport port(Line(9600, kHandshakeNone, u""), line.Api());
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(line.CreateCalls(), 0);
}

// The serial plug-ins' records as the pages leave them, through the
// conversion Connect uses, reach the driver whole. This is what proves the
// line settings: the end-to-end tests on a Wine pty run the 8-E-1 slaves and
// masters against 8-N-1 peers, since a pty carries no parity bits.
TEST(SerialPortOpen, PluginRecordsReachTheDriverAsSet) {
  struct Case {
    const char* name;
    SerialFraming framing;
    uint8_t parity, stopBits;
    BYTE byteSize, dcbParity, dcbStopBits;
    DWORD fParity;
  } cases[] = {
      {"RTU default 8-E-1", SerialFraming::Rtu, kParityEven, kStopBitsOne, 8, EVENPARITY, ONESTOPBIT, TRUE},
      {"ASCII default 7-E-1", SerialFraming::Ascii, kParityEven, kStopBitsOne, 7, EVENPARITY, ONESTOPBIT, TRUE},
      {"RTU 8-N-2", SerialFraming::Rtu, kParityNone, kStopBitsTwo, 8, NOPARITY, TWOSTOPBITS, FALSE},
      {"ASCII 7-O-1", SerialFraming::Ascii, kParityOdd, kStopBitsOne, 7, ODDPARITY, ONESTOPBIT, TRUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SerialSettings record{c.framing};
    if (c.parity != kParityEven) {
      record.parity = c.parity;
      record.stopBits = c.stopBits;
    }
    SimulatedLine line;
    RtuSerialTransport rtu(LineSettingsOf(record), line.Api());
    AsciiSerialTransport ascii(LineSettingsOf(record), line.Api());
    ASSERT_EQ(c.framing == SerialFraming::Rtu ? rtu.Open() : ascii.Open(), 1);
    DCB dcb = line.State();
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, c.byteSize);
    EXPECT_EQ(dcb.Parity, c.dcbParity);
    EXPECT_EQ(dcb.StopBits, c.dcbStopBits);
    EXPECT_EQ(dcb.fParity, c.fParity);
  }
}

TEST(SerialPortOpen, LineSettingsAndHandshakeReachTheDriver) {
  struct Case {
    uint8_t handshake;
    BOOL cts, dsr;
    DWORD rts;
  } cases[] = {
      {kHandshakeNone, FALSE, FALSE, RTS_CONTROL_ENABLE},
      {kHandshakeCts, TRUE, FALSE, RTS_CONTROL_ENABLE},
      {kHandshakeDsr, FALSE, TRUE, RTS_CONTROL_ENABLE},
      {kHandshakeCtsDsr, TRUE, TRUE, RTS_CONTROL_ENABLE},
      {kHandshakeRtsToggle, FALSE, FALSE, RTS_CONTROL_TOGGLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handshake);
    SimulatedLine line;
    SerialLineSettings settings = Line(19200, c.handshake);
    settings.dataBits = 7;
    settings.parity = kParityEven;
    settings.stopBits = kStopBitsTwo;
    RtuSerialTransport port(settings, line.Api());
    ASSERT_EQ(port.Open(), 1);
    DCB dcb = line.State();
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_TRUE(dcb.fParity);
    EXPECT_EQ(dcb.fOutxCtsFlow, static_cast<DWORD>(c.cts));
    EXPECT_EQ(dcb.fOutxDsrFlow, static_cast<DWORD>(c.dsr));
    EXPECT_EQ(dcb.fRtsControl, c.rts);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_FALSE(dcb.fOutX || dcb.fInX || dcb.fNull || dcb.fErrorChar || dcb.fAbortOnError ||
                 dcb.fDsrSensitivity);
    EXPECT_EQ(port.BitsPerCharacter(), 11u);
  }
}

// A port keeps the control block of whoever used it last. Whatever it held
// (every flag set, every flag clear, an earlier handshake of ours), Open
// leaves exactly the line settings and the handshake asked for.
TEST(SerialPortOpen, NothingOfTheEarlierControlBlockSurvives) {
  struct Case {
    bool startSet;       // the port's control block before the first open
    uint8_t parity;
    uint8_t handshakes[3];  // opened one after the other on the same port
  } cases[] = {
      {true, kParityNone, {kHandshakeNone, kHandshakeCtsDsr, kHandshakeNone}},
      {true, kParityEven, {kHandshakeRtsToggle, kHandshakeCts, kHandshakeDsr}},
      {false, kParityNone, {kHandshakeCtsDsr, kHandshakeRtsToggle, kHandshakeNone}},
      {false, kParityOdd, {kHandshakeDsr, kHandshakeNone, kHandshakeRtsToggle}},
  };
  for (const Case& c : cases) {
    SimulatedLine line;
    line.SetAllDcbFlags(c.startSet);
    for (uint8_t handshake : c.handshakes) {
      SCOPED_TRACE(testing::Message() << "start set " << c.startSet << ", parity " << int(c.parity)
                                      << ", handshake " << int(handshake));
      SerialLineSettings settings = Line(9600, handshake);
      settings.parity = c.parity;
      AsciiSerialTransport port(settings, line.Api());
      ASSERT_EQ(port.Open(), 1);
      DCB dcb = line.State();
      EXPECT_EQ(dcb.fBinary, 1u);
      EXPECT_EQ(dcb.fParity, c.parity != kParityNone ? 1u : 0u);
      EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
      EXPECT_EQ(dcb.fOutxCtsFlow, handshake == kHandshakeCts || handshake == kHandshakeCtsDsr ? 1u : 0u);
      EXPECT_EQ(dcb.fOutxDsrFlow, handshake == kHandshakeDsr || handshake == kHandshakeCtsDsr ? 1u : 0u);
      EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(handshake == kHandshakeRtsToggle ? RTS_CONTROL_TOGGLE
                                                                                   : RTS_CONTROL_ENABLE));
      EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
      EXPECT_EQ(dcb.fDsrSensitivity | dcb.fOutX | dcb.fInX | dcb.fErrorChar | dcb.fNull | dcb.fAbortOnError, 0u);
      port.Close();
    }
  }
}

// Until the framing programs its own, the port reads what is there and
// returns (interval MAXDWORD with a 50 ms limit) and gives a write two
// seconds.
TEST(SerialPortOpen, OpenSetsQuickReadsBeforeTheFramingTimeouts) {
  SimulatedLine line;
  RtuSerialTransport port(Line(1200), line.Api());
  ASSERT_EQ(port.Open(), 1);
  std::vector<COMMTIMEOUTS> history = line.TimeoutHistory();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(history[0].ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(history[0].ReadTotalTimeoutConstant, 50u);
  EXPECT_EQ(history[0].WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(history[0].WriteTotalTimeoutConstant, 2000u);
  EXPECT_EQ(history[1].ReadIntervalTimeout, 22u);  // the framing's, last
}

TEST(SerialPortOpen, RefusalsLeaveThePortClosed) {
  {
    SimulatedLine line;
    AsciiSerialTransport port(Line(9600, 5), line.Api());
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(line.CreateCalls(), 0);  // handshake 5 never reaches the driver
    EXPECT_EQ(port.IsReady(), 0);
  }
  {
    SimulatedLine line;
    line.FailCreate(true);
    AsciiSerialTransport port(Line(9600), line.Api());
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.IsReady(), 0);
  }
  // The line settings (first SetCommState) and the handshake (second).
  for (int failingCall : {1, 2}) {
    SimulatedLine line;
    line.FailSetCommStateFrom(failingCall);
    RtuSerialTransport port(Line(9600), line.Api());
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.IsReady(), 0);
    EXPECT_FALSE(line.PortOpen());
  }
}

TEST(SerialPortOpen, LineTimeoutsFollowTheFraming) {
  struct Case {
    uint32_t baud;
    DWORD rtuInterval, rtuWrite, asciiWrite;
  } cases[] = {{1200, 22, 10, 9}, {9600, 3, 2, 2}, {115200, 2, 1, 1}, {0, 2, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    {
      SimulatedLine line;
      RtuSerialTransport port(Line(c.baud), line.Api());
      ASSERT_EQ(port.Open(), 1);
      COMMTIMEOUTS t = line.Timeouts();
      EXPECT_EQ(t.ReadIntervalTimeout, c.rtuInterval);
      EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
      EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
      EXPECT_EQ(t.WriteTotalTimeoutMultiplier, c.rtuWrite);
      EXPECT_EQ(t.WriteTotalTimeoutConstant, 2000u);
    }
    {
      SimulatedLine line;
      AsciiSerialTransport port(Line(c.baud), line.Api());
      ASSERT_EQ(port.Open(), 1);
      COMMTIMEOUTS t = line.Timeouts();
      EXPECT_EQ(t.ReadIntervalTimeout, 0u);
      EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
      EXPECT_EQ(t.WriteTotalTimeoutMultiplier, c.asciiWrite);
      EXPECT_EQ(t.WriteTotalTimeoutConstant, 2000u);
    }
  }
  SimulatedLine line;
  AsciiSerialTransport closed(Line(9600), line.Api());
  EXPECT_EQ(closed.ApplyLineTimeouts(), 0);
}

// --- reads and line errors -------------------------------------------------------

TEST(SerialPortRead, DeliversBytesAndTimesOut) {
  SimulatedLine line;
  AsciiSerialTransport port(Line(9600), line.Api());
  ASSERT_EQ(port.Open(), 1);
  line.Arrive(line.NowUs() + 10000, {':', '0', '1'});
  uint8_t buffer[8] = {};
  EXPECT_EQ(port.Read(buffer, 3, 100), 3);
  EXPECT_EQ(buffer[0], ':');
  // Fewer bytes than asked for when the time-out ends the read: those
  // bytes are delivered, not dropped.
  line.Arrive(line.NowUs() + 1000, {'0', '3'});
  EXPECT_EQ(port.Read(buffer, 8, 50), 2);
  EXPECT_EQ(buffer[1], '3');
  uint32_t before = plat::Tick();
  EXPECT_EQ(port.Read(buffer, 1, 40), 0);
  EXPECT_EQ(plat::Tick() - before, 40u);
  EXPECT_EQ(port.Read(nullptr, 1, 40), 0);
  EXPECT_EQ(port.Read(buffer, 0, 40), 0);
}

TEST(SerialPortRead, LineErrorsAreReportedOnceAndCleared) {
  struct Case {
    DWORD errors;
    int32_t result;
  } cases[] = {
      {CE_RXPARITY, TransportLineError}, {CE_FRAME, TransportLineError},
      {CE_BREAK, TransportLineError},    {CE_OVERRUN, TransportOverrun},
      {CE_RXOVER, TransportOverrun},     {CE_RXPARITY | CE_OVERRUN, TransportOverrun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errors);
    SimulatedLine line;
    AsciiSerialTransport port(Line(9600), line.Api());
    ASSERT_EQ(port.Open(), 1);
    line.RaiseErrors(line.NowUs() + 5000, c.errors, true);
    uint8_t buffer[4];
    EXPECT_EQ(port.Read(buffer, 1, 100), c.result);
    line.Arrive(line.NowUs() + 1000, {'A'});
    EXPECT_EQ(port.Read(buffer, 1, 100), 1);  // the error state is gone
    EXPECT_EQ(buffer[0], 'A');
  }
}

TEST(SerialPortRead, ClosedOrStoppedPortReportsCancelled) {
  SimulatedLine line;
  AsciiSerialTransport port(Line(9600), line.Api());
  uint8_t buffer[4];
  EXPECT_EQ(port.Read(buffer, 1, 10), TransportCancelled);
  ASSERT_EQ(port.Open(), 1);
  port.Close();
  EXPECT_EQ(port.IsReady(), 0);
  EXPECT_FALSE(line.PortOpen());
  EXPECT_EQ(port.Read(buffer, 1, 10), TransportCancelled);
  EXPECT_EQ(port.Write(buffer, 1, 10), TransportCancelled);
  port.Close();  // twice is harmless
}

// --- writing and the wire time ---------------------------------------------------

TEST(SerialPortWrite, BudgetCountsTheWireTimePlusTwoSeconds) {
  struct Case {
    uint32_t baud;
    uint8_t parity, stopBits;
    uint32_t length, budget;
  } cases[] = {
      {9600, kParityNone, kStopBitsOne, 8, 2009},  {1200, kParityNone, kStopBitsOne, 100, 2834},
      {9600, kParityEven, kStopBitsTwo, 256, 2320}, {0, kParityNone, kStopBitsOne, 256, 2000},
      {1, kParityEven, kStopBitsTwo, 0xFFFFFFFFu, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SimulatedLine line;
    SerialLineSettings settings = Line(c.baud);
    settings.parity = c.parity;
    settings.stopBits = c.stopBits;
    RtuSerialTransport port(settings, line.Api());
    EXPECT_EQ(port.WriteBudget(c.length), c.budget) << c.baud << " " << c.length;
  }
}

TEST(SerialPortWrite, FinishTransmitWaitsForTheWireAndTheQueue) {
  SimulatedLine line;
  AsciiSerialTransport port(Line(9600), line.Api());
  ASSERT_EQ(port.Open(), 1);
  const uint8_t frame[8] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  uint32_t start = plat::Tick();
  EXPECT_EQ(port.Write(frame, 8, 2009), 8);
  EXPECT_EQ(port.FinishTransmit(2009), 1);
  // 8 characters of 10 bits at 9600 baud: 8.3 ms, waited as 9 ms.
  EXPECT_GE(plat::Tick() - start, 9u);
  EXPECT_LE(plat::Tick() - start, 11u);
  EXPECT_EQ(line.SentBytes(), std::vector<uint8_t>(frame, frame + 8));
  // Nothing written since: nothing to wait for.
  start = plat::Tick();
  EXPECT_EQ(port.FinishTransmit(100), 1);
  EXPECT_EQ(plat::Tick(), start);
}

// Drivers that complete a write only when its bytes have left the port
// spend the wire time inside Write; FinishTransmit must not wait it again.
// Either kind of driver: the send ends when the last byte has left, give or
// take the 2 ms polls of the output queue.
TEST(SerialPortWrite, WireTimeIsWaitedOnceWhateverTheDriver) {
  struct Case {
    uint32_t baud;
    uint8_t parity;
    uint32_t length;
    bool onWire;
  } cases[] = {
      {1200, kParityEven, 255, true}, {1200, kParityEven, 255, false}, {9600, kParityNone, 255, true},
      {9600, kParityNone, 8, true},   {9600, kParityNone, 8, false},   {115200, kParityNone, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.baud << " baud, " << c.length << " bytes, on wire " << c.onWire);
    SimulatedLine line;
    line.SetWriteCompletesOnWire(c.onWire);
    SerialLineSettings settings = Line(c.baud);
    settings.parity = c.parity;
    AsciiSerialTransport port(settings, line.Api());
    ASSERT_EQ(port.Open(), 1);
    std::vector<uint8_t> bytes(c.length, 0x3C);
    const uint32_t budget = port.WriteBudget(c.length);
    const uint32_t wire = WireTimeMs(c.length, port.BitsPerCharacter(), c.baud);
    uint32_t start = plat::Tick();
    ASSERT_EQ(port.Write(bytes.data(), c.length, budget), static_cast<int32_t>(c.length));
    EXPECT_EQ(port.FinishTransmit(budget - (plat::Tick() - start)), 1);
    EXPECT_GE(plat::Tick() - start, wire - 1);
    EXPECT_LE(plat::Tick() - start, wire + 2);
    EXPECT_EQ(line.SentBytes().size(), c.length);
  }
}

// 100 bytes at 1200 baud are 834 ms on the wire: they cannot leave within
// 500 ms, and FinishTransmit says so at once. Close (here through a reset)
// forgets them: after reopening only the character that was leaving the
// port when it was cleared is waited for.
TEST(SerialPortWrite, FinishTransmitRefusesAWireTimeThatCannotFit) {
  for (bool reopened : {false, true}) {
    SCOPED_TRACE(reopened);
    SimulatedLine line;
    AsciiSerialTransport port(Line(1200), line.Api());
    ASSERT_EQ(port.Open(), 1);
    std::vector<uint8_t> bytes(100, 0x55);
    ASSERT_EQ(port.Write(bytes.data(), 100, 3000), 100);
    if (reopened) {
      port.ResetAfterError();
      ASSERT_EQ(port.Open(), 1);
    }
    uint32_t start = plat::Tick();
    EXPECT_EQ(port.FinishTransmit(500), reopened ? 1 : 0);
    EXPECT_LE(plat::Tick() - start, reopened ? 10u : 0u);
  }
}

TEST(SerialPortWrite, StalledOutputTimesOutAndResetClosesThePort) {
  SimulatedLine line;
  AsciiSerialTransport port(Line(9600, kHandshakeCts), line.Api());
  ASSERT_EQ(port.Open(), 1);
  line.SetOutputStalled(true);
  const uint8_t bytes[4] = {1, 2, 3, 4};
  ASSERT_EQ(port.Write(bytes, 4, 100), 4);
  uint32_t start = plat::Tick();
  EXPECT_EQ(port.FinishTransmit(100), 0);
  EXPECT_EQ(plat::Tick() - start, 100u);
  port.ResetAfterError();
  EXPECT_EQ(port.IsReady(), 0);
  EXPECT_TRUE(line.SentBytes().empty());  // the queued bytes were cleared
}

// Every line-error bit is a receive-side condition: errors flagged while we
// send do not fail the send; the next receive reports them, once.
TEST(SerialPortWrite, LineErrorsWhileDrainingAreLeftToTheNextReceive) {
  SimulatedLine line;
  AsciiSerialTransport port(Line(9600), line.Api());
  ASSERT_EQ(port.Open(), 1);
  const uint8_t bytes[4] = {1, 2, 3, 4};
  ASSERT_EQ(port.Write(bytes, 4, 100), 4);
  line.RaiseErrors(line.NowUs() + 1000, CE_FRAME, false);
  EXPECT_EQ(port.FinishTransmit(100), 1);
  uint8_t buffer[4];
  EXPECT_EQ(port.Read(buffer, 1, 10), TransportLineError);
  EXPECT_EQ(port.Read(buffer, 1, 10), 0);
}

TEST(SerialPortPrepare, DiscardsStaleInput) {
  SimulatedLine line;
  AsciiSerialTransport port(Line(9600), line.Api());
  EXPECT_EQ(port.PrepareExchange(), 0);
  ASSERT_EQ(port.Open(), 1);
  line.Arrive(line.NowUs(), {1, 2, 3});
  line.AdvanceUs(10000);
  EXPECT_EQ(line.QueuedInput(), 3);
  EXPECT_EQ(port.PrepareExchange(), 1);
  EXPECT_EQ(line.QueuedInput(), 0);
}

// --- cancellation ----------------------------------------------------------------

// Each operation is cancelled 30 ms into its wait; it must end then, not at
// its own time-out, with the operation's cancelled result.
TEST(SerialPortCancel, EndsEveryPendingWaitAtOnce) {
  struct Case {
    const char* name;
    std::function<int32_t(RtuSerialTransport&)> operation;
    int32_t cancelled;
  } cases[] = {
      {"Read", [](RtuSerialTransport& p) { uint8_t b[4]; return p.Read(b, 4, 5000); }, TransportCancelled},
      {"ReadFrame", [](RtuSerialTransport& p) { uint8_t b[257]; return p.ReadFrame(b, 257, 5000); },
       TransportCancelled},
      {"FinishTransmit",
       [](RtuSerialTransport& p) {
         std::vector<uint8_t> bytes(200, 0);
         p.Write(bytes.data(), 200, 1000);
         return p.FinishTransmit(5000);
       },
       TransportCancelled},
      {"BeginTransmit",
       [](RtuSerialTransport& p) {
         const uint8_t frame[1] = {0};
         p.Write(frame, 1, 100);
         p.FinishTransmit(1000);  // next frame only after 5 s of silence below
         return p.BeginTransmit();
       },
       0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedLine line;
    SerialLineSettings settings = Line(c.cancelled == 0 ? 1 : 9600);
    RtuSerialTransport port(settings, line.Api());
    ASSERT_EQ(port.Open(), 1);
    uint32_t start = plat::Tick();
    uint64_t cancelAt = line.NowUs() + 30000;
    line.At(cancelAt, [&port] { port.Cancel(); });
    EXPECT_EQ(c.operation(port), c.cancelled);
    EXPECT_LE(plat::Tick() - start, 31u);
    EXPECT_EQ(port.IsReady(), 1);  // the port stays open
    uint8_t buffer[4];
    EXPECT_EQ(port.Read(buffer, 1, 10), TransportCancelled);
    EXPECT_FALSE(line.Stuck());
    // The next Open clears the stop event.
    ASSERT_EQ(port.Open(), 1);
    line.Arrive(line.NowUs(), {7});
    EXPECT_EQ(port.Read(buffer, 1, 20000), 1);
  }
}

TEST(SerialPortCancel, PrepareExchangeFailsWhenCancelledInItsSilenceWait) {
  SimulatedLine line;
  RtuSerialTransport port(Line(1200), line.Api());
  ASSERT_EQ(port.Open(), 1);
  // A chattering line keeps the silence wait busy until the cancel.
  for (int i = 0; i < 50; ++i) line.Arrive(line.NowUs() + 10000u * i, {0xAA});
  line.At(line.NowUs() + 200000, [&port] { port.Cancel(); });
  EXPECT_EQ(port.PrepareExchange(), 0);
  EXPECT_LE(plat::Tick() - 1000u, 201u);
}

TEST(SerialPortCancel, AnotherThreadEndsARealWait) {
  SimulatedLine line;
  line.SetRealWaitLimit(60000);
  AsciiSerialTransport port(Line(9600), line.Api());
  ASSERT_EQ(port.Open(), 1);
  std::atomic<int32_t> result{1};
  std::thread worker([&] {
    uint8_t buffer[4];
    result = port.Read(buffer, 4, 60000);
  });
  // The read is blocked in the driver's wait now; 30 s without it means hung.
  EXPECT_EQ(WaitForSingleObject(line.RealWaitBegun(), 30000), WAIT_OBJECT_0);
  auto before = std::chrono::steady_clock::now();
  port.Cancel();
  worker.join();
  EXPECT_EQ(result.load(), TransportCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
}

}  // namespace

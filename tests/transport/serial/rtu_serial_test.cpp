// The RTU line discipline on the simulated line: frame ends at gaps longer
// than t1.5, frames followed too soon, resynchronisation, the silence
// before sending; and ASCII frames collected across reads by the link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/ascii_framer.h"
#include "modbus/link.h"
#include "modbus/rtu_framer.h"
#include "modbus/status.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/rtu_serial.h"
#include "transport/serial/simulated_line.h"

namespace {

SerialLineSettings Line(uint32_t baud) {
  SerialLineSettings settings;
  settings.portName = u"COM7";
  settings.baudRate = baud;
  return settings;
}

std::vector<uint8_t> Frame(uint8_t unit, size_t length) {
  std::vector<uint8_t> frame(length);
  for (size_t i = 0; i < length; ++i) frame[i] = static_cast<uint8_t>(unit + i);
  return frame;
}

// An open RTU transport whose start-up resynchronisation is done.
struct RtuLine {
  explicit RtuLine(uint32_t baud) : port(Line(baud), line.Api()) {
    EXPECT_EQ(port.Open(), 1);
    EXPECT_EQ(port.PrepareExchange(), 1);
  }
  SimulatedLine line;
  RtuSerialTransport port;
  uint8_t buffer[257] = {};
};

TEST(RtuFrameGaps, SecondFrameTooSoonIsRejectedAndLaterOneIsReceived) {
  // Silences between the end of the first frame and the start bit of the
  // second. The driver measures gaps from character to character, so a
  // silence counts one character time more.
  struct Case {
    uint32_t baud;
    uint64_t gapUs;
    int32_t first;   // result of the first ReadFrame
    int32_t second;  // result of the next one
  } cases[] = {
      {9600, 500, 16, 0},                       // under t1.5 between characters: one frame
      {9600, 3000, TransportInvalidFrame, 0},   // between t1.5 and t3.5: rejected, both consumed
      {9600, 5000, 8, 8},                       // t3.5 or more: two frames
      {9600, 8000, 8, 8},
      {1200, 20000, TransportInvalidFrame, 0},  // t1.5 14 ms, t3.5 33 ms
      {1200, 40000, 8, 8},
      {115200, 2500, 8, 8},                     // above 19200 baud no extra check
      {115200, 1000, 16, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.baud << " baud, gap " << c.gapUs << " us");
    RtuLine rtu(c.baud);
    uint64_t end = rtu.line.Arrive(rtu.line.NowUs() + 10000, Frame(1, 8));
    rtu.line.Arrive(end + c.gapUs, Frame(0x41, 8));
    EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), c.first);
    if (c.first == 8) {
      EXPECT_EQ(rtu.buffer[0], 1);
    }
    int32_t second = rtu.port.ReadFrame(rtu.buffer, 257, 500);
    EXPECT_EQ(second, c.second);
    if (c.second == 8) {
      EXPECT_EQ(rtu.buffer[0], 0x41);
    }
    // Only a read that found nothing asks for a resynchronisation.
    EXPECT_EQ(rtu.port.ResynchroniseDue(), c.second == 0);
  }
}

// The driver's interval time-out runs from one character's arrival to the
// next and so includes the next character's own time on the wire. A pause
// inside a frame shorter than t1.5 must not cut it: at 1200 baud 8N1 (a
// character is 8.3 ms, t1.5 14 ms) a pause of one character or of one and
// a half is inside the frame, one of two characters ends it. At 9600 baud
// (a character 1.04 ms, t1.5 2 ms) whole milliseconds put the edge at
// 1.96 ms: a pause of 1.8 characters is inside, 1.9 ends the frame.
// A frame cut in two is rejected: its second part follows before t3.5.
TEST(RtuFrameGaps, PauseInsideAFrameUpToT15KeepsItWhole) {
  struct Case {
    uint32_t baud;
    uint32_t pauseTenths;  // of a character, between bytes 4 and 5
    int32_t result;
  } cases[] = {
      {1200, 10, 8}, {1200, 15, 8}, {1200, 20, TransportInvalidFrame},
      {9600, 10, 8}, {9600, 18, 8}, {9600, 19, TransportInvalidFrame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.baud << " baud, pause " << c.pauseTenths << " tenths");
    RtuLine rtu(c.baud);
    const std::vector<uint8_t> frame = Frame(1, 8);
    uint64_t end = rtu.line.Arrive(rtu.line.NowUs() + 1000, {frame.begin(), frame.begin() + 4});
    rtu.line.Arrive(end + rtu.line.CharacterUs() * c.pauseTenths / 10, {frame.begin() + 4, frame.end()});
    EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), c.result);
    if (c.result == 8) {
      EXPECT_EQ(std::vector<uint8_t>(rtu.buffer, rtu.buffer + 8), frame);
    }
    EXPECT_EQ(rtu.line.QueuedInput(), 0);
  }
}

TEST(RtuFrameGaps, FrameEndsAtTheFirstGapLongerThanT15) {
  RtuLine rtu(9600);
  uint64_t end = rtu.line.Arrive(rtu.line.NowUs() + 10000, Frame(1, 8));
  ASSERT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 8);
  // t1.5 to end the read, then the rest of t3.5 without a character.
  uint64_t returnedUs = rtu.line.NowUs();
  EXPECT_GE(returnedUs, end + 5000);
  EXPECT_LE(returnedUs, end + 6000);
}

TEST(RtuFrameGaps, NoExtraSilenceCheckAt115200) {
  RtuLine rtu(115200);
  uint64_t end = rtu.line.Arrive(rtu.line.NowUs() + 10000, Frame(1, 8));
  ASSERT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 8);
  EXPECT_LE(rtu.line.NowUs(), end + 2000 + 1);
}

TEST(RtuFrameGaps, OversizedFrameIsConsumed) {
  RtuLine rtu(19200);
  rtu.line.Arrive(rtu.line.NowUs() + 1000, Frame(0, 300));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), TransportFrameTooLarge);
  EXPECT_FALSE(rtu.port.ResynchroniseDue());
  EXPECT_EQ(rtu.line.QueuedInput(), 0);
  uint64_t start = rtu.line.NowUs() + 1000;
  rtu.line.Arrive(start, Frame(9, 6));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 6);
}

// A rejected frame is consumed up to a silence of t3.5; when that silence
// comes the line is at a frame boundary again and the next exchange needs
// no resynchronisation of its own, whatever was due before. A line that
// never falls quiet leaves one due.
TEST(RtuFrameGaps, RejectedFrameResynchronisesWhenTheLineFallsQuiet) {
  struct Case {
    const char* name;
    bool resynchronised;  // PrepareExchange ran after Open
    uint64_t secondFrameGapUs;  // 0: no second frame
    size_t firstLength;
    bool chatterAfter;
    int32_t result;
    bool dueAfter;
  } cases[] = {
      {"oversized, due before", false, 0, 300, false, TransportFrameTooLarge, false},
      {"too soon, due before", false, 3000, 8, false, TransportInvalidFrame, false},
      {"too soon, none due", true, 3000, 8, false, TransportInvalidFrame, false},
      {"too soon, then chatter", true, 3000, 8, true, TransportInvalidFrame, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedLine line;
    RtuSerialTransport port(Line(9600), line.Api());
    ASSERT_EQ(port.Open(), 1);
    ASSERT_TRUE(port.ResynchroniseDue());
    if (c.resynchronised) {
      ASSERT_EQ(port.PrepareExchange(), 1);
    }
    uint64_t end = line.Arrive(line.NowUs() + 1000, Frame(1, c.firstLength));
    if (c.secondFrameGapUs) end = line.Arrive(end + c.secondFrameGapUs, Frame(0x41, 8));
    if (c.chatterAfter) {
      for (uint64_t t = end + 3000; t < end + 4000000; t += 3000) line.Arrive(t, {0x55});
    }
    uint8_t buffer[257];
    EXPECT_EQ(port.ReadFrame(buffer, 257, 1000), c.result);
    EXPECT_EQ(port.ResynchroniseDue(), c.dueAfter);
  }
}

TEST(RtuFrameGaps, LineThatNeverFallsQuietGivesUpWithinTheBudget) {
  SimulatedLine line;
  RtuSerialTransport port(Line(9600), line.Api());
  ASSERT_EQ(port.Open(), 1);
  // A character every 3 ms for four seconds.
  for (uint64_t t = 0; t < 4000000; t += 3000) line.Arrive(t, {0x55});
  uint32_t start = plat::Tick();
  EXPECT_EQ(port.PrepareExchange(), 0);
  // 257 characters at 9600 baud (268 ms) plus two seconds.
  EXPECT_GE(plat::Tick() - start, 2268u);
  EXPECT_LE(plat::Tick() - start, 2275u);
  EXPECT_TRUE(port.ResynchroniseDue());
}

TEST(RtuFrameGaps, LineErrorsInAFrameAreReportedAndResynchronise) {
  struct Case {
    DWORD errors;
    int32_t result;
  } cases[] = {{CE_RXPARITY, TransportLineError}, {CE_OVERRUN, TransportOverrun}};
  for (const Case& c : cases) {
    RtuLine rtu(9600);
    uint64_t start = rtu.line.NowUs() + 1000;
    rtu.line.Arrive(start, Frame(1, 8));
    rtu.line.RaiseErrors(start + 4000, c.errors, false);
    EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), c.result);
    EXPECT_TRUE(rtu.port.ResynchroniseDue());
    EXPECT_EQ(rtu.port.PrepareExchange(), 1);
    EXPECT_FALSE(rtu.port.ResynchroniseDue());
  }
}

// Wine ends a pending comm-event wait as aborted some milliseconds after it
// began; that must neither look like a cancel nor end the frame early. Each
// such wait leaks inside Wine, so after the first the port polls the queued
// count instead of waiting again, until it is reopened.
TEST(RtuFrameGaps, WaitsThatEndWithoutAnEventAreResumedByPolling) {
  RtuLine rtu(19200);
  rtu.line.SetSpuriousWaitEnd(15000);
  const int before = rtu.line.WaitCommEventCalls();
  rtu.line.Arrive(rtu.line.NowUs() + 50000, Frame(1, 45));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1500), 45);
  const int waits = rtu.line.WaitCommEventCalls();
  EXPECT_EQ(waits, before + 1);
  uint32_t start = plat::Tick();
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 100), 0);
  EXPECT_EQ(plat::Tick() - start, 100u);
  // Frames are still found, and their silences still end them.
  uint64_t end = rtu.line.Arrive(rtu.line.NowUs() + 20000, Frame(1, 45));
  rtu.line.Arrive(end + 5000, Frame(2, 8));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1500), 45);
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1500), 8);
  EXPECT_EQ(rtu.buffer[0], 2);
  EXPECT_EQ(rtu.line.WaitCommEventCalls(), waits);
  // A real cancel still ends the wait at once.
  rtu.line.At(rtu.line.NowUs() + 40000, [&rtu] { rtu.port.Cancel(); });
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1500), TransportCancelled);
  // A reopened port trusts the wait again.
  ASSERT_EQ(rtu.port.Open(), 1);
  rtu.line.Arrive(rtu.line.NowUs() + 50000, Frame(1, 8));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1500), 8);
  EXPECT_EQ(rtu.line.WaitCommEventCalls(), waits + 1);
}

// A driver that refuses the comm-event wait at once, as aborted: the port
// polls instead, a millisecond apart, never in a tight loop.
TEST(RtuFrameGaps, RefusedWaitsAreResumedWithoutSpinning) {
  RtuLine rtu(9600);
  rtu.line.SetWaitRefusedAtOnce(true);
  const int before = rtu.line.WaitCommEventCalls();
  uint32_t start = plat::Tick();
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 100), 0);
  EXPECT_EQ(plat::Tick() - start, 100u);
  EXPECT_EQ(rtu.line.WaitCommEventCalls(), before + 1);
  // A frame arriving meanwhile is still found through the queued count.
  rtu.line.Arrive(rtu.line.NowUs() + 20000, Frame(1, 8));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 8);
}

// A driver whose comm-event wait outlives CancelIo (Wine on a serial device
// node): the wait is ended by clearing the event mask, so a time-out still
// returns, and a frame after it is still found.
TEST(RtuFrameGaps, AWaitThatOutlivesCancelIoStillTimesOut) {
  RtuLine rtu(19200);
  rtu.line.SetCancelLeavesWait(true);
  EXPECT_EQ(rtu.port.PrepareExchange(), 1);
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 100), 0);
  EXPECT_FALSE(rtu.line.Stuck());
  rtu.line.Arrive(rtu.line.NowUs() + 20000, Frame(1, 8));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 8);
}

// Without a resynchronisation due, PrepareExchange still discards what the
// driver holds: a response that came too late for the last request is not
// the answer to the next.
TEST(RtuFrameGaps, PrepareExchangeDiscardsALateResponse) {
  RtuLine rtu(9600);
  rtu.line.Arrive(rtu.line.NowUs() + 1000, Frame(1, 8));
  ASSERT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 8);
  rtu.line.Arrive(rtu.line.NowUs() + 1000, Frame(0x21, 7));  // late, unread
  rtu.line.AdvanceUs(50000);
  ASSERT_FALSE(rtu.port.ResynchroniseDue());
  ASSERT_EQ(rtu.line.QueuedInput(), 7);
  EXPECT_EQ(rtu.port.PrepareExchange(), 1);
  EXPECT_EQ(rtu.line.QueuedInput(), 0);
  rtu.line.Arrive(rtu.line.NowUs() + 20000, Frame(0x41, 6));
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 6);
  EXPECT_EQ(rtu.buffer[0], 0x41);
}

TEST(RtuFrameGaps, NothingArrivingIsATimeoutThatAsksForResynchronisation) {
  RtuLine rtu(9600);
  EXPECT_FALSE(rtu.port.ResynchroniseDue());
  uint32_t start = plat::Tick();
  EXPECT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 250), 0);
  EXPECT_EQ(plat::Tick() - start, 250u);
  EXPECT_TRUE(rtu.port.ResynchroniseDue());
}

TEST(RtuTransmit, NextFrameWaitsForT35AfterTheLineWasBusy) {
  struct Case {
    uint32_t baud;
    uint32_t t35;
  } cases[] = {{9600, 5}, {1200, 33}, {115200, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    RtuLine rtu(c.baud);
    // After a received frame: t3.5 counted from its end.
    rtu.line.Arrive(rtu.line.NowUs() + 1000, Frame(1, 8));
    ASSERT_EQ(rtu.port.ReadFrame(rtu.buffer, 257, 1000), 8);
    uint32_t start = plat::Tick();
    EXPECT_EQ(rtu.port.BeginTransmit(), 1);
    EXPECT_EQ(plat::Tick() - start, 0u);  // the read already waited t3.5 past the frame
    // After a sent frame: t3.5 after it has left the port.
    const uint8_t frame[8] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
    ASSERT_EQ(rtu.port.Write(frame, 8, 2000), 8);
    ASSERT_EQ(rtu.port.FinishTransmit(rtu.port.WriteBudget(8)), 1);
    start = plat::Tick();
    EXPECT_EQ(rtu.port.BeginTransmit(), 1);
    EXPECT_EQ(plat::Tick() - start, c.t35);
  }
}

// A client exchange through the link: request out after the silence,
// response in as one frame.
TEST(RtuTransmit, ClientExchangeThroughTheLink) {
  SimulatedLine line;
  RtuSerialTransport port(Line(9600), line.Api());
  RtuFramer framer;
  Link* link = LinkCreate(&port, &framer, kLinkRoleClient, nullptr, nullptr, nullptr);
  uint64_t quietFrom = line.NowUs();
  ASSERT_EQ(port.Open(), 1);
  ASSERT_EQ(port.PrepareExchange(), 1);

  AduHeader header;
  header.unitId = 1;
  Pdu pdu;
  pdu.function = 3;
  pdu.length = 4;
  const uint8_t request[4] = {0, 0, 0, 1};
  for (int i = 0; i < 4; ++i) pdu.data[i] = request[i];
  uint8_t adu[kAduBufferSize];
  int32_t length = framer.BuildAdu(header, pdu, adu, sizeof(adu));
  ASSERT_EQ(length, 8);
  ASSERT_EQ(SendAdu(link, adu, static_cast<uint32_t>(length)), 8);
  std::vector<SimulatedLine::SentByte> sent = line.Sent();
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_GE(sent[0].startUs, quietFrom + 5000);  // t3.5 of silence first

  const std::vector<uint8_t> response = {1, 3, 2, 0x12, 0x34, 0xB5, 0x33};
  line.Arrive(line.NowUs() + 20000, response);
  AduHeader responseHeader;
  Pdu responsePdu;
  EXPECT_EQ(ReceiveAdu(link, &responseHeader, &responsePdu, 1000), 7);
  EXPECT_EQ(responseHeader.unitId, 1);
  EXPECT_EQ(responsePdu.function, 3);
  EXPECT_EQ(responsePdu.length, 3u);

  // A corrupted response is a CRC error, not a transport failure.
  std::vector<uint8_t> corrupt = response;
  corrupt[4] ^= 0xFF;
  line.Arrive(line.NowUs() + 20000, corrupt);
  EXPECT_EQ(ReceiveAdu(link, &responseHeader, &responsePdu, 1000), StatusCrcError);
  LinkDestroy(link);
}

// Output held back by flow control: the send gives up after WriteBudget and
// closes the port, which the client worker reopens before its next poll.
TEST(RtuTransmit, SendThatCannotLeaveThePortTimesOutAndCloses) {
  SimulatedLine line;
  RtuSerialTransport port(Line(9600), line.Api());
  RtuFramer framer;
  Link* link = LinkCreate(&port, &framer, kLinkRoleClient, nullptr, nullptr, nullptr);
  ASSERT_EQ(port.Open(), 1);
  ASSERT_EQ(port.PrepareExchange(), 1);
  line.SetOutputStalled(true);
  const uint8_t frame[8] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  uint32_t start = plat::Tick();
  EXPECT_EQ(SendAdu(link, frame, 8), StatusTimeout);
  EXPECT_LE(plat::Tick() - start, port.WriteBudget(8) + 1);
  EXPECT_EQ(port.IsReady(), 0);
  EXPECT_FALSE(line.PortOpen());
  LinkDestroy(link);
}

// --- a serial slave on a real driver -------------------------------------------

// An RTU slave through the link: requests in, responses out.
struct RtuSlave {
  RtuSlave(uint32_t baud, uint8_t parity, bool writeOnWire) : port(Settings(baud, parity), line.Api()) {
    line.SetWriteCompletesOnWire(writeOnWire);
    link = LinkCreate(&port, &framer, kLinkRoleServer, nullptr, nullptr, nullptr);
    EXPECT_EQ(port.Open(), 1);
  }
  ~RtuSlave() { LinkDestroy(link); }
  static SerialLineSettings Settings(uint32_t baud, uint8_t parity) {
    SerialLineSettings settings = Line(baud);
    settings.parity = parity;
    return settings;
  }
  std::vector<uint8_t> Adu(uint8_t function, const std::vector<uint8_t>& data) {
    AduHeader header;
    header.unitId = 1;
    Pdu pdu;
    pdu.function = function;
    pdu.length = static_cast<uint32_t>(data.size());
    for (size_t i = 0; i < data.size(); ++i) pdu.data[i] = data[i];
    uint8_t adu[kAduBufferSize];
    int32_t length = framer.BuildAdu(header, pdu, adu, sizeof(adu));
    return std::vector<uint8_t>(adu, adu + (length > 0 ? length : 0));
  }
  // A read of 125 registers arrives 20 ms from now.
  void RequestArrives() { line.Arrive(line.NowUs() + 20000, Adu(3, {0, 0, 0, 125})); }
  int32_t Receive() {
    AduHeader header;
    Pdu pdu;
    return ReceiveAdu(link, &header, &pdu, 2000);
  }
  // The 255-byte answer: 125 registers.
  int32_t Answer() {
    std::vector<uint8_t> data(251, 0x5A);
    data[0] = 250;
    std::vector<uint8_t> adu = Adu(3, data);
    return SendAdu(link, adu.data(), static_cast<uint32_t>(adu.size()));
  }
  SimulatedLine line;
  RtuSerialTransport port;
  RtuFramer framer;
  Link* link = nullptr;
};

// The 255-byte response at 1200 baud 8E1 is 2.34 s on the wire. A driver
// that completes the write only then must not make the send wait that time
// again (which would overrun the two seconds of slack, fail the send and
// close the port): the answer goes out, in its wire time plus the drain of
// the output queue, and the slave serves the next request.
TEST(RtuSlave, LongAnswerAtLowSpeedOnADriverThatCompletesOnTheWire) {
  struct Case {
    uint32_t baud;
    uint8_t parity;
  } cases[] = {{1200, kParityEven}, {9600, kParityNone}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    RtuSlave slave(c.baud, c.parity, true);
    for (int round = 0; round < 2; ++round) {
      slave.RequestArrives();
      ASSERT_EQ(slave.Receive(), 8);
      size_t sentBefore = slave.line.Sent().size();
      ASSERT_EQ(slave.Answer(), 255);
      std::vector<SimulatedLine::SentByte> sent = slave.line.Sent();
      ASSERT_EQ(sent.size(), sentBefore + 255);
      const uint64_t wireUs = 255 * slave.line.CharacterUs();
      EXPECT_LE(slave.line.NowUs() - sent[sentBefore].startUs, wireUs + 3000);
      EXPECT_EQ(slave.port.IsReady(), 1);
    }
  }
}

// Line errors are receive-side conditions. Noise on the idle line before
// the answer, or another node's damaged frame while the answer is going
// out, must not fail the answer (which would close the port and stop the
// slave); the next receive reports them once, as a bus error, and the slave
// goes on serving.
TEST(RtuSlave, LineErrorsDoNotFailItsAnswers) {
  struct Case {
    const char* name;
    bool duringAnswer;  // else while idle, before it
    DWORD errors;
    bool writeOnWire;
    int32_t reported;
  } cases[] = {
      {"idle framing", false, CE_FRAME, false, StatusSerialFramingError},
      {"idle break", false, CE_BREAK, true, StatusSerialFramingError},
      {"answer parity", true, CE_RXPARITY, false, StatusSerialFramingError},
      {"answer overrun", true, CE_OVERRUN, true, StatusSerialOverrun},
      {"answer framing", true, CE_FRAME, true, StatusSerialFramingError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RtuSlave slave(9600, kParityNone, c.writeOnWire);
    slave.RequestArrives();
    ASSERT_EQ(slave.Receive(), 8);
    // The answer starts t3.5 after the request; it takes 266 ms.
    slave.line.RaiseErrors(slave.line.NowUs() + (c.duringAnswer ? 100000 : 1000), c.errors, false);
    if (!c.duringAnswer) slave.line.AdvanceUs(2000);
    EXPECT_EQ(slave.Answer(), 255);
    EXPECT_EQ(slave.port.IsReady(), 1);
    // The next request is already waiting when the error is reported; it is
    // not lost.
    slave.RequestArrives();
    slave.line.AdvanceUs(40000);
    EXPECT_EQ(slave.Receive(), c.reported);
    EXPECT_EQ(slave.Receive(), 8);
    EXPECT_EQ(slave.Answer(), 255);
    slave.RequestArrives();
    EXPECT_EQ(slave.Receive(), 8);
  }
}

// --- ASCII -------------------------------------------------------------------

TEST(AsciiSerial, FramesSplitAcrossReadsAreCollected) {
  const std::string frame = ":010300000001FB\r\n";
  struct Case {
    size_t splitAt;
    uint64_t pauseUs;
    int32_t result;
  } cases[] = {
      {1, 300000, 17},                      // pause after the colon
      {8, 900000, 17},                      // under a second between characters
      {16, 50000, 17},                      // the LF alone
      {8, 1200000, StatusIncompleteFrame},  // over a second: incomplete
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.splitAt);
    SimulatedLine line;
    AsciiSerialTransport port(Line(9600), line.Api());
    AsciiFramer framer;
    Link* link = LinkCreate(&port, &framer, kLinkRoleServer, nullptr, nullptr, nullptr);
    ASSERT_EQ(port.Open(), 1);
    ASSERT_EQ(port.PrepareExchange(), 1);
    std::vector<uint8_t> head(frame.begin(), frame.begin() + static_cast<long>(c.splitAt));
    std::vector<uint8_t> tail(frame.begin() + static_cast<long>(c.splitAt), frame.end());
    std::vector<uint8_t> noise = {'x', 'y'};
    uint64_t end = line.Arrive(line.NowUs() + 1000, noise);
    end = line.Arrive(end, head);
    line.Arrive(end + c.pauseUs, tail);
    AduHeader header;
    Pdu pdu;
    EXPECT_EQ(ReceiveAdu(link, &header, &pdu, 5000), c.result);
    if (c.result > 0) {
      EXPECT_EQ(header.unitId, 1);
      EXPECT_EQ(pdu.function, 3);
      EXPECT_EQ(pdu.length, 4u);
    }
    LinkDestroy(link);
  }
}

TEST(AsciiSerial, LineErrorsSurfaceAsSerialStatuses) {
  struct Case {
    DWORD errors;
    int32_t status;
  } cases[] = {{CE_FRAME, StatusSerialFramingError}, {CE_RXOVER, StatusSerialOverrun}};
  for (const Case& c : cases) {
    SimulatedLine line;
    AsciiSerialTransport port(Line(9600), line.Api());
    AsciiFramer framer;
    Link* link = LinkCreate(&port, &framer, kLinkRoleServer, nullptr, nullptr, nullptr);
    ASSERT_EQ(port.Open(), 1);
    uint64_t end = line.Arrive(line.NowUs() + 1000, {':', '0'});
    line.RaiseErrors(end + 1000, c.errors, true);
    AduHeader header;
    Pdu pdu;
    EXPECT_EQ(ReceiveAdu(link, &header, &pdu, 1000), c.status);
    LinkDestroy(link);
  }
}

}  // namespace

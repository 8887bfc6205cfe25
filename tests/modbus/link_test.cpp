// The link: ReadExact, ReceiveAdu for the four ways of collecting an ADU,
// and SendAdu, driven by the scripted transport on the controllable clock.

#include "modbus/link.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/memory.h"
#include "modbus/frames.h"
#include "support/fake_clock.h"
#include "support/scripted_transport.h"

namespace {

struct Rig {
  explicit Rig(Framer* f, uint8_t role = kLinkRoleClient, uint32_t startTick = 1000)
      : clock(startTick), framer(f) {
    link = LinkCreate(&transport, framer.get(), role, this, &Rig::OnTransmit, nullptr);
  }
  ~Rig() { LinkDestroy(link); }

  int32_t Receive(uint32_t timeoutMs) { return ReceiveAdu(link, &header, &pdu, timeoutMs); }
  Bytes Received(int32_t n) const { return Bytes(link->receiveBuffer, link->receiveBuffer + (n > 0 ? n : 0)); }
  uint32_t Elapsed() const { return FakeClock::Now() - start; }

  static void OnTransmit(void* context, const uint8_t* bytes, uint32_t length) {
    Rig* rig = static_cast<Rig*>(context);
    rig->monitored.push_back(Bytes(bytes, bytes + length));
    rig->writesBeforeMonitor = rig->transport.writeCalls;
  }

  FakeClock clock;
  uint32_t start = FakeClock::Now();
  std::unique_ptr<Framer> framer;
  ScriptedTransport transport;
  Link* link = nullptr;
  AduHeader header;
  Pdu pdu;
  std::vector<Bytes> monitored;
  int writesBeforeMonitor = -1;
};

Bytes Repeat(uint8_t value, size_t n) { return Bytes(n, value); }

// --- ReadExact -----------------------------------------------------------------

TEST(ReadExact, CountsChunksAndReportsShortReads) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, Bytes>> chunks;
    int32_t expected;
  } cases[] = {
      {"all at once", {{0, {1, 2, 3, 4}}}, 4},
      {"in pieces before the deadline", {{10, {1}}, {20, {2, 3}}, {99, {4}}}, 4},
      {"part, then silence", {{10, {1, 2}}}, StatusIncompleteFrame},
      {"last byte after the deadline", {{10, {1, 2, 3}}, {100, {4}}}, StatusIncompleteFrame},
      {"nothing", {}, StatusTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new RtuFramer(true));
    for (const auto& chunk : c.chunks) rig.transport.Deliver(chunk.first, chunk.second);
    uint8_t buffer[4] = {};
    EXPECT_EQ(ReadExact(rig.link, buffer, 4, DeadlineAfter(100)), c.expected);
    EXPECT_LE(rig.Elapsed(), 100u);
    if (c.expected == 4) {
      EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{1, 2, 3, 4}));
    }
  }
}

TEST(ReadExact, MapsEveryTransportResult) {
  struct Case {
    int32_t result;
    int32_t status;
  } cases[] = {
      {TransportIoError, StatusTransportError},       {TransportCancelled, StatusCancelled},
      {TransportLineError, StatusSerialFramingError}, {TransportOverrun, StatusSerialOverrun},
      {TransportFrameTooLarge, StatusTransportError}, {TransportInvalidFrame, StatusTransportError},
      {-77, StatusTransportError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    Rig rig(new RtuFramer(true));
    rig.transport.Deliver(0, {1});
    rig.transport.Inject(5, c.result);
    uint8_t buffer[2];
    EXPECT_EQ(ReadExact(rig.link, buffer, 2, DeadlineAfter(100)), c.status);
    EXPECT_EQ(rig.transport.resets, 0);
  }
}

// --- whole frames (serial RTU, RTU over UDP) ------------------------------------

TEST(ReceiveWholeFrame, MapsResultsAndSizes) {
  Bytes good = Rtu(1, 3, {2, 0, 7});
  Bytes bad = good;
  bad.back() ^= 1;
  struct Case {
    const char* name;
    int32_t inject;  // 1: deliver bytes
    Bytes bytes;
    int32_t status;
  } cases[] = {
      {"good frame", 1, good, 7},
      {"CRC error", 1, bad, StatusCrcError},
      {"3 bytes", 1, {1, 3, 0}, StatusInvalidLength},
      {"257 bytes", 1, Repeat(1, 257), StatusFrameTooLarge},
      {"larger than the buffer", 1, Repeat(1, 300), StatusFrameTooLarge},
      {"nothing", 0, {}, StatusTimeout},
      {"I/O error", TransportIoError, {}, StatusTransportError},
      {"cancelled", TransportCancelled, {}, StatusCancelled},
      {"line error", TransportLineError, {}, StatusSerialFramingError},
      {"overrun", TransportOverrun, {}, StatusSerialOverrun},
      {"too large", TransportFrameTooLarge, {}, StatusFrameTooLarge},
      {"silence violated", TransportInvalidFrame, {}, StatusInvalidFrame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new RtuFramer());
    rig.transport.frameMode = true;
    if (c.inject == 1) rig.transport.Deliver(10, c.bytes);
    if (c.inject < 0) rig.transport.Inject(10, c.inject);
    EXPECT_EQ(rig.Receive(500), c.status);
    EXPECT_EQ(rig.transport.resets, 0);
    if (c.status > 0) {
      EXPECT_EQ(rig.Received(c.status), good);
      EXPECT_EQ(rig.header.unitId, 1);
      EXPECT_EQ(rig.pdu.function, 3);
      EXPECT_EQ(rig.pdu.length, 3u);
    }
  }
}

TEST(ReceiveAdu, ClearsTheBufferAndRefusesUnknownKinds) {
  static const FramingTraits kOdd = {static_cast<FramingKind>(9), static_cast<FrameReceipt>(9), false, false, 0, 0,
                                     nullptr};
  struct OddFramer : Framer {
    OddFramer() : Framer(kOdd) {}
    int32_t BuildAdu(const AduHeader&, const Pdu&, uint8_t*, uint32_t) const override { return 0; }
    int32_t ParseAdu(const uint8_t*, uint32_t, AduHeader*, Pdu*) const override { return StatusOk; }
    uint32_t MinAduLength() const override { return 1; }
  };
  Rig rig(new OddFramer());
  rig.link->receiveBuffer[100] = 0x55;
  EXPECT_EQ(rig.Receive(100), StatusInvalidFrame);
  EXPECT_EQ(rig.link->receiveBuffer[100], 0);
}

// --- ASCII stream ----------------------------------------------------------------

TEST(ReceiveAsciiStream, FindsTheFrame) {
  Bytes frame = Text(":010300000001FB\r\n");
  struct Case {
    const char* name;
    Bytes stream;
    int32_t status;
  } cases[] = {
      {"clean", frame, 17},
      {"garbage before ':'", Concat(Text("xx\r\n01FB"), frame), 17},
      {"second ':' restarts", Concat(Text(":0103"), frame), 17},
      {"CR LF too soon", Text(":01\r\n"), StatusInvalidFrame},
      {"bad LRC", Text(":010300000001FC\r\n"), StatusLrcError},
      {"only garbage", Text("0103\r\n"), StatusTimeout},
      {"stops after ':'", Text(":0103"), StatusIncompleteFrame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new AsciiFramer());
    rig.transport.Deliver(5, c.stream);
    EXPECT_EQ(rig.Receive(3000), c.status);
    if (c.status > 0) {
      EXPECT_EQ(rig.Received(c.status), frame);
    }
    EXPECT_EQ(rig.transport.resets, 0);
  }
}

// After the ':' only a silence becomes an incomplete frame; what the line or
// the transport reports is passed on as it stands.
TEST(ReceiveAsciiStream, FailureAfterTheStartIsPassedOn) {
  struct Case {
    int32_t result;
    int32_t status;
  } cases[] = {
      {TransportLineError, StatusSerialFramingError},
      {TransportOverrun, StatusSerialOverrun},
      {TransportIoError, StatusTransportError},
      {TransportCancelled, StatusCancelled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    Rig rig(new AsciiFramer());
    rig.transport.Deliver(5, Text(":0103"));
    rig.transport.Inject(6, c.result);
    rig.transport.Deliver(7, Text("00000001FB\r\n"));
    EXPECT_EQ(rig.Receive(3000), c.status);
    EXPECT_EQ(rig.transport.resets, 0);
  }
}

TEST(ReceiveAsciiStream, OneSecondBetweenCharactersWhateverTheCallerAllows) {
  Bytes frame = Text(":010300000001FB\r\n");
  struct Case {
    const char* name;
    uint32_t gap;         // between consecutive characters after the ':'
    uint32_t callerMs;    // timeout given to ReceiveAdu
    int32_t status;
  } cases[] = {
      {"999 ms gaps, beyond a short caller timeout", 999, 200, 17},
      {"1000 ms gap", 1000, 60000, StatusIncompleteFrame},
      {"1001 ms gap, long caller timeout", 1001, 60000, StatusIncompleteFrame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new AsciiFramer());
    for (size_t i = 0; i < frame.size(); ++i) {
      rig.transport.Deliver(static_cast<uint32_t>(10 + i * c.gap), {frame[i]});
    }
    EXPECT_EQ(rig.Receive(c.callerMs), c.status);
  }
}

TEST(ReceiveAsciiStream, FrameLengthLimit) {
  AsciiFramer builder;
  Bytes longest = Build(builder, 1, 0, 16, Repeat(0xAB, 252));
  ASSERT_EQ(longest.size(), 513u);
  Bytes endless = Concat(Text(":"), Repeat('0', 600));
  struct Case {
    const char* name;
    Bytes stream;
    int32_t status;
  } cases[] = {
      {"end character is the 513th", longest, 513},
      {"513 characters without an end", endless, StatusFrameTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new AsciiFramer());
    rig.transport.Deliver(0, c.stream);
    EXPECT_EQ(rig.Receive(1000), c.status);
  }
}

TEST(ReceiveAsciiStream, ChangedEndCharacter) {
  Rig rig(new AsciiFramer());
  ASSERT_EQ(rig.framer->SetEndCharacter('!'), 1);
  rig.transport.Deliver(0, Concat(Text(":010300000001FB\r\n"), Text(":010300000001FB\r!")));
  // The CR LF frame never completes; its characters run into the next ':'.
  EXPECT_EQ(rig.Receive(1000), 17);
  EXPECT_EQ(rig.Received(17), Text(":010300000001FB\r!"));
}

// --- MBAP --------------------------------------------------------------------------

TEST(ReceiveMbapStream, LengthField) {
  Bytes longest = Mbap(5, 1, 3, Repeat(0x11, 252));
  struct Case {
    const char* name;
    Bytes stream;
    int32_t status;
    int resets;
  } cases[] = {
      {"good", Mbap(5, 1, 3, {2, 0, 9}), 11, 0},
      {"L=254, 260 bytes", longest, 260, 0},
      {"L=0", {0, 5, 0, 0, 0, 0, 1, 3}, StatusInvalidLength, 1},
      {"L=1", {0, 5, 0, 0, 0, 1, 1, 3}, StatusInvalidLength, 1},
      {"L=255", {0, 5, 0, 0, 0, 255, 1, 3}, StatusFrameTooLarge, 1},
      {"L=65535", {0, 5, 0, 0, 0xFF, 0xFF, 1, 3}, StatusFrameTooLarge, 1},
      {"protocol id 1", {0, 5, 0, 1, 0, 2, 1, 3}, StatusInvalidFrame, 0},
      {"body missing", {0, 5, 0, 0, 0, 6, 1, 3}, StatusIncompleteFrame, 1},
      {"header missing", {0, 5, 0}, StatusIncompleteFrame, 1},
      {"nothing", {}, StatusTimeout, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new MbapFramer());
    // One byte at a time: the link must not depend on how the stream is cut.
    for (size_t i = 0; i < c.stream.size(); ++i) rig.transport.Deliver(static_cast<uint32_t>(i), {c.stream[i]});
    EXPECT_EQ(rig.Receive(500), c.status);
    EXPECT_EQ(rig.transport.resets, c.resets);
    if (c.status > 0) {
      EXPECT_EQ(rig.header.transactionId, 5);
    }
  }
}

TEST(ReceiveMbapStream, RestOfFrameHasTwoSecondsAfterTheFirstByte) {
  Bytes frame = Mbap(1, 1, 6, {0, 1, 0, 2});
  struct Case {
    uint32_t lastAt;
    int32_t status;
  } cases[] = {{1999 + 100, 12}, {2000 + 100, StatusIncompleteFrame}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastAt);
    Rig rig(new MbapFramer());
    rig.transport.Deliver(100, Bytes(frame.begin(), frame.end() - 1));
    rig.transport.Deliver(c.lastAt, {frame.back()});
    EXPECT_EQ(rig.Receive(150), c.status);
  }
}

TEST(ReceiveMbapStream, FailureAfterTheFirstByteIsNotMasked) {
  Rig rig(new MbapFramer());
  rig.transport.Deliver(0, {0, 1, 0});
  rig.transport.Inject(5, TransportCancelled);
  EXPECT_EQ(rig.Receive(100), StatusCancelled);
  EXPECT_EQ(rig.transport.resets, 0);
}

TEST(ReceiveMbapDatagram, OneDatagramPerAdu) {
  Bytes longest = Mbap(5, 1, 3, Repeat(0x11, 252));
  struct Case {
    const char* name;
    int32_t inject;
    Bytes datagram;
    int32_t status;
  } cases[] = {
      {"good", 1, Mbap(5, 1, 3, {2, 0, 9}), 11},
      {"260 bytes", 1, longest, 260},
      {"261 bytes", 1, Concat(longest, {0}), StatusFrameTooLarge},
      {"beyond the buffer", 1, Repeat(0, 600), StatusFrameTooLarge},
      {"length field disagrees", 1, {0, 5, 0, 0, 0, 9, 1, 3}, StatusInvalidLength},
      {"empty datagram", TransportInvalidFrame, {}, StatusInvalidFrame},
      {"cancelled", TransportCancelled, {}, StatusCancelled},
      {"socket error", TransportIoError, {}, StatusTransportError},
      {"nothing", 0, {}, StatusTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new MbapFramer());
    rig.transport.frameMode = true;
    rig.transport.messageOriented = 1;
    if (c.inject == 1) rig.transport.Deliver(1, c.datagram);
    if (c.inject < 0) rig.transport.Inject(1, c.inject);
    EXPECT_EQ(rig.Receive(100), c.status);
    EXPECT_EQ(rig.transport.resets, 0);
  }
}

// --- RTU stream ----------------------------------------------------------------------

TEST(ReceiveRtuStream, PredictsTheLengthByRole) {
  Bytes next = Rtu(9, 6, {0, 1, 0, 2});  // must stay unread
  struct Case {
    const char* name;
    uint8_t role;
    Bytes frame;
    int32_t status;
    int resets;
  } cases[] = {
      {"response 0x83", kLinkRoleClient, Rtu(1, 0x83, {2}), 5, 0},
      {"request 0x83", kLinkRoleServer, Rtu(1, 0x83, {2}), StatusInvalidFrame, 1},
      {"response 3", kLinkRoleClient, Rtu(1, 3, {4, 1, 2, 3, 4}), 9, 0},
      {"request 3", kLinkRoleServer, Rtu(1, 3, {0, 0, 0, 2}), 8, 0},
      {"response 6", kLinkRoleClient, Rtu(1, 6, {0, 1, 0, 2}), 8, 0},
      {"request 8", kLinkRoleServer, Rtu(1, 8, {0, 0, 0xA5, 0x37}), 8, 0},
      {"response 16", kLinkRoleClient, Rtu(1, 16, {0, 1, 0, 2}), 8, 0},
      {"request 16", kLinkRoleServer, Rtu(1, 16, {0, 1, 0, 2, 4, 1, 2, 3, 4}), 13, 0},
      {"request 15, no data", kLinkRoleServer, Rtu(1, 15, {0, 1, 0, 0, 0}), 9, 0},
      {"response 7", kLinkRoleClient, Rtu(1, 7, {0}), StatusInvalidFrame, 1},
      {"response, 252 bytes counted", kLinkRoleClient, {1, 3, 252}, StatusFrameTooLarge, 1},
      {"request, 248 bytes counted", kLinkRoleServer, {1, 16, 0, 0, 0, 124, 248}, StatusFrameTooLarge, 1},
      // A frame that fails its check leaves the stream out of step.
      {"response, CRC damaged", kLinkRoleClient, {1, 6, 0, 1, 0, 2, 0, 0}, StatusCrcError, 1},
      {"request, CRC damaged", kLinkRoleServer, {1, 3, 0, 1, 0, 2, 0, 0}, StatusCrcError, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new RtuFramer(true), c.role);
    rig.transport.Deliver(3, Concat(c.frame, next));
    EXPECT_EQ(rig.Receive(100), c.status);
    EXPECT_EQ(rig.transport.resets, c.resets);
    if (c.status > 0) {
      EXPECT_EQ(rig.Received(c.status), c.frame);
      // The next frame is intact for the next receive.
      EXPECT_EQ(rig.Receive(100), 8);
      EXPECT_EQ(rig.Received(8), next);
    }
  }
}

TEST(ReceiveRtuStream, TimeoutsBeforeAndAfterTheFirstByte) {
  struct Case {
    const char* name;
    Bytes partial;
    int32_t status;
    int resets;
  } cases[] = {
      {"nothing", {}, StatusTimeout, 0},
      {"address only", {1}, StatusIncompleteFrame, 1},
      {"no byte count", {1, 3}, StatusIncompleteFrame, 1},
      {"short body", {1, 3, 4, 0, 0}, StatusIncompleteFrame, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new RtuFramer(true));
    if (!c.partial.empty()) rig.transport.Deliver(10, c.partial);
    EXPECT_EQ(rig.Receive(100), c.status);
    EXPECT_EQ(rig.transport.resets, c.resets);
    // After the first byte the rest has two seconds, not the caller's 100 ms.
    EXPECT_EQ(rig.Elapsed(), c.partial.empty() ? 100u : 2010u);
  }
}

// Every function code on both sides of an RTU stream: the frame the standard
// gives it is read whole and the next frame stays intact; a code whose length
// cannot be told is refused and the stream reset.
TEST(ReceiveRtuStream, LengthOfEveryFunction) {
  const Bytes next = Rtu(9, 6, {0, 1, 0, 2});
  // Requests of the functions outside our supported set that masters send
  // (data after the function code, as the standard lays it out).
  struct Request {
    uint8_t function;
    Bytes data;
  };
  const std::vector<Request> requests = {
      {1, {0, 0x13, 0, 0x25}}, {2, {0, 0xC4, 0, 0x16}}, {3, {0, 0x6B, 0, 3}}, {4, {0, 8, 0, 1}},
      {5, {0, 0xAC, 0xFF, 0}}, {6, {0, 1, 0, 3}},
      {7, {}}, {11, {}}, {12, {}}, {17, {}},
      {8, {0, 0, 0xA5, 0x37}},
      {15, {0, 0x13, 0, 0x0A, 2, 0xCD, 1}}, {16, {0, 1, 0, 2, 4, 0, 0x0A, 1, 2}},
      {20, {14, 6, 0, 4, 0, 1, 0, 2, 6, 0, 3, 0, 9, 0, 2}},
      {21, {13, 6, 0, 4, 0, 7, 0, 3, 6, 0xAF, 4, 0xBE, 0x10, 0x0D}},
      {22, {0, 4, 0, 0xF2, 0, 0x25}},
      {23, {0, 3, 0, 6, 0, 0x0E, 0, 3, 6, 0, 0xFF, 0, 0xFF, 0, 0xFF}},
      {24, {4, 0xDE}},
      {43, {14, 1, 0}},
  };
  for (int f = 0; f < 256; ++f) {
    const uint8_t function = static_cast<uint8_t>(f);
    SCOPED_TRACE("function " + std::to_string(f));
    // Responses: the client's functions and every exception response.
    Bytes response;
    if (f >= 1 && f <= 4) response = Rtu(1, function, {2, 0x12, 0x34});
    if (f == 5 || f == 6 || f == 8 || f == 15 || f == 16) response = Rtu(1, function, {0, 1, 0, 2});
    if (f >= 128) response = Rtu(1, function, {2});
    Bytes request;
    for (const Request& r : requests) {
      if (r.function == function) request = Rtu(1, function, r.data);
    }
    for (uint8_t role : {kLinkRoleClient, kLinkRoleServer}) {
      SCOPED_TRACE(role == kLinkRoleClient ? "response" : "request");
      const Bytes& frame = role == kLinkRoleClient ? response : request;
      Rig rig(new RtuFramer(true), role);
      rig.transport.Deliver(3, Concat(frame.empty() ? Rtu(1, function, {0, 1, 0, 2}) : frame, next));
      const int32_t n = rig.Receive(100);
      if (frame.empty()) {
        EXPECT_EQ(n, StatusInvalidFrame);
        EXPECT_EQ(rig.transport.resets, 1);
        continue;
      }
      ASSERT_EQ(n, static_cast<int32_t>(frame.size()));
      EXPECT_EQ(rig.Received(n), frame);
      EXPECT_EQ(rig.transport.resets, 0);
      EXPECT_EQ(rig.Receive(100), 8);
      EXPECT_EQ(rig.Received(8), next);
    }
  }
}

// Diagnostics and the MEI types other than Read Device Identification carry
// data of any length: the request is the shortest frame whose CRC checks.
TEST(ReceiveRtuStream, RequestsFoundByTheirCrc) {
  const Bytes next = Rtu(9, 6, {0, 1, 0, 2});
  Bytes echo200;
  for (int i = 0; i < 200; ++i) echo200.push_back(static_cast<uint8_t>(i * 7 + 1));
  struct Case {
    const char* name;
    Bytes frame;
    bool followed;  // the next frame comes right behind
    int32_t status;
    uint32_t elapsed;  // virtual ms
  } cases[] = {
      {"return query data, nothing", Rtu(1, 8, {0, 0}), true, 6, 3},
      {"return query data, 2 bytes", Rtu(1, 8, {0, 0, 0x12, 0x34}), true, 8, 3},
      {"return query data, 4 bytes", Rtu(1, 8, {0, 0, 1, 2, 3, 4}), true, 10, 3},
      {"return query data, 200 bytes", Rtu(1, 8, Concat({0, 0}, echo200)), true, 206, 3},
      {"return query data, 250 bytes", Rtu(1, 8, Concat({0, 0}, Repeat(0x5A, 250))), true, 256, 3},
      {"a counter of the diagnostics", Rtu(1, 8, {0, 0x0B, 0, 0}), true, 8, 3},
      {"CANopen reference, 3 bytes", Rtu(1, 43, {13, 1, 2, 3}), true, 8, 3},
      {"CANopen reference, nothing", Rtu(1, 43, {13}), true, 5, 3},
      // What never checks waits out the frame's two seconds, then the
      // stream is given up.
      {"damaged diagnostics", {1, 8, 0, 0, 0x12, 0x34, 0, 0}, false, StatusIncompleteFrame, 2003},
      {"odd diagnostic data", Rtu(1, 8, {0, 0, 1}), false, StatusIncompleteFrame, 2003},
      {"256 bytes that never check", Concat({1, 8}, Repeat(0, 254)), false, StatusCrcError, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new RtuFramer(true), kLinkRoleServer);
    rig.transport.Deliver(3, c.followed ? Concat(c.frame, next) : c.frame);
    const int32_t n = rig.Receive(100);
    EXPECT_EQ(n, c.status);
    EXPECT_EQ(rig.Elapsed(), c.elapsed);
    if (n > 0) {
      EXPECT_EQ(rig.Received(n), c.frame);
      EXPECT_EQ(rig.pdu.length, c.frame.size() - 4);
      EXPECT_EQ(rig.transport.resets, 0);
      EXPECT_EQ(rig.Receive(100), 8);
      EXPECT_EQ(rig.Received(8), next);
    } else {
      EXPECT_EQ(rig.transport.resets, 1);
    }
  }
}

// --- SendAdu -------------------------------------------------------------------------

TEST(SendAdu, WritesWithinTheBudget) {
  const Bytes frame = Rtu(1, 16, {0, 0, 0, 2, 4, 1, 2, 3, 4});
  struct WriteStep {
    uint32_t delay;
    int32_t accept;
  };
  struct Case {
    const char* name;
    std::vector<WriteStep> writes;
    int32_t finish;
    uint32_t finishDelay;
    int32_t status;
    int resets;
  } cases[] = {
      {"at once", {}, 1, 0, 13, 0},
      {"in pieces", {{300, 4}, {300, 1}, {300, 6}}, 1, 0, 13, 0},
      {"pieces outlast the budget", {{900, 4}, {900, 4}, {300, 6}}, 1, 0, StatusTimeout, 1},
      {"write times out", {{0, 0}}, 1, 0, StatusTimeout, 1},
      {"cancelled", {{0, 3}, {0, TransportCancelled}}, 1, 0, StatusCancelled, 1},
      {"write fails", {{0, TransportIoError}}, 1, 0, StatusTransportError, 1},
      {"line error while writing", {{0, TransportLineError}}, 1, 0, StatusTransportError, 1},
      {"drain times out", {}, 0, 10, StatusTimeout, 1},
      {"drain cancelled", {}, TransportCancelled, 0, StatusCancelled, 1},
      {"drain fails", {}, TransportIoError, 0, StatusTransportError, 1},
      {"drain outlasts the budget", {{1500, 15}}, 1, 600, StatusTimeout, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(new RtuFramer());
    for (const WriteStep& w : c.writes) rig.transport.ScriptWrite(w.delay, w.accept);
    rig.transport.finishResult = c.finish;
    rig.transport.finishDelayMs = c.finishDelay;
    EXPECT_EQ(SendAdu(rig.link, frame.data(), static_cast<uint32_t>(frame.size())), c.status);
    EXPECT_EQ(rig.transport.resets, c.resets);
    EXPECT_LE(rig.Elapsed(), 2000u);
    ASSERT_EQ(rig.monitored.size(), 1u);
    EXPECT_EQ(rig.monitored[0], frame);
    EXPECT_EQ(rig.writesBeforeMonitor, 0);
    if (c.status > 0) {
      EXPECT_EQ(rig.transport.written, frame);
      EXPECT_EQ(rig.transport.frames.size(), 1u);
    }
  }
}

TEST(SendAdu, RefusedStartSendsNothing) {
  Rig rig(new RtuFramer());
  rig.transport.beginResult = 0;
  const Bytes frame = Rtu(1, 6, {0, 1, 0, 2});
  EXPECT_EQ(SendAdu(rig.link, frame.data(), static_cast<uint32_t>(frame.size())), StatusCancelled);
  EXPECT_TRUE(rig.monitored.empty());
  EXPECT_EQ(rig.transport.writeCalls, 0);
  EXPECT_EQ(rig.transport.resets, 0);
}

TEST(Link, StopEventEndsReceiveAndSend) {
  struct Case {
    const char* name;
    Framer* framer;
    bool frames;
  };
  Case cases[] = {
      {"whole frames", new RtuFramer(), true},
      {"RTU stream", new RtuFramer(true), false},
      {"ASCII", new AsciiFramer(), false},
      {"MBAP stream", new MbapFramer(), false},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.framer);
    rig.transport.frameMode = c.frames;
    rig.transport.Deliver(0, Rtu(1, 6, {0, 1, 0, 2}));
    rig.transport.Cancel();
    EXPECT_EQ(rig.Receive(1000), StatusCancelled);
    const Bytes frame = Rtu(1, 6, {0, 1, 0, 2});
    EXPECT_EQ(SendAdu(rig.link, frame.data(), static_cast<uint32_t>(frame.size())), StatusCancelled);
    EXPECT_EQ(rig.Elapsed(), 0u);
  }
}

// --- the tick counter wraps ----------------------------------------------------------

TEST(Deadlines, TickWrapInTheMiddleOfAWait) {
  struct Case {
    const char* name;
    Framer* framer;
    Bytes frame;
  };
  Case cases[] = {
      {"RTU stream", new RtuFramer(true), Rtu(1, 6, {0, 1, 0, 2})},
      {"MBAP stream", new MbapFramer(), Mbap(3, 1, 6, {0, 1, 0, 2})},
      {"ASCII stream", new AsciiFramer(), Ascii(1, 6, {0, 1, 0, 2})},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The frame arrives 300 ms after the counter passed 0xFFFFFFFF, split
    // around the wrap; nothing expires early or late.
    Rig rig(c.framer, kLinkRoleClient, 0xFFFFFF00u);
    size_t half = c.frame.size() / 2;
    rig.transport.Deliver(0x80, Bytes(c.frame.begin(), c.frame.begin() + half));
    rig.transport.Deliver(0x100 + 300, Bytes(c.frame.begin() + half, c.frame.end()));
    EXPECT_EQ(rig.Receive(1000), static_cast<int32_t>(c.frame.size()));
    EXPECT_EQ(FakeClock::Now(), 300u);
    // Nothing more: the timeout runs its full length across no wrap.
    EXPECT_EQ(rig.Receive(1000), StatusTimeout);
    EXPECT_EQ(FakeClock::Now(), 1300u);
  }
  Rig rig(new RtuFramer(), kLinkRoleClient, 0xFFFFFFF0u);
  rig.transport.frameMode = true;
  EXPECT_EQ(rig.Receive(100), StatusTimeout);
  EXPECT_EQ(FakeClock::Now(), 0x54u);
  EXPECT_EQ(rig.transport.lastReadTimeout, 100u);
}

// --- every framing ---------------------------------------------------------------

// The framer each framing's row makes builds a request that the link, reading
// as the row says, collects whole: as one frame or datagram, or over a byte
// stream in pieces as TCP and a serial line deliver it.
TEST(ReceiveAdu, EveryFramingCollectsWhatItsFramerBuilds) {
  struct Case {
    FramingKind kind;
    bool frames;  // the transport reads whole frames (datagrams, RTU silences)
  } cases[] = {{FramingKind::kRtu, true},
               {FramingKind::kAscii, false},
               {FramingKind::kMbap, false},
               {FramingKind::kMbap, true},
               {FramingKind::kRtuStream, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(c.kind) << (c.frames ? " frames" : " stream"));
    FakeClock clock(1000);
    ScriptedTransport transport;
    transport.frameMode = c.frames;
    transport.messageOriented = c.frames ? 1 : 0;
    std::unique_ptr<Framer, void (*)(Framer*)> framer(CreateFramer(c.kind), [](Framer* f) { mem::Delete(f); });
    ASSERT_EQ(framer->Kind(), c.kind);
    EXPECT_EQ(&framer->Traits(), &TraitsOf(c.kind));
    const Bytes adu = Build(*framer, 17, 9, 3, {0x00, 0x6B, 0x00, 0x03});
    ASSERT_FALSE(adu.empty());
    if (c.frames) {
      transport.Deliver(5, adu);
    } else {
      transport.Deliver(5, Bytes(adu.begin(), adu.begin() + 3));
      transport.Deliver(15, Bytes(adu.begin() + 3, adu.end()));
    }
    Link* link = LinkCreate(&transport, framer.get(), kLinkRoleServer, nullptr, nullptr, nullptr);
    AduHeader header;
    Pdu pdu;
    EXPECT_EQ(ReceiveAdu(link, &header, &pdu, 1000), static_cast<int32_t>(adu.size()));
    EXPECT_EQ(Bytes(link->receiveBuffer, link->receiveBuffer + adu.size()), adu);
    EXPECT_EQ(header.unitId, 17);
    EXPECT_EQ(pdu.function, 3);
    LinkDestroy(link);
  }
}

}  // namespace

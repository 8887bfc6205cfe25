// The client transaction engine: request encoding and its limits, the
// unit-id rules of each framing, and whole exchanges against the scripted
// transport on the controllable clock.

#include "client/transaction.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "modbus/frames.h"
#include "modbus/status.h"
#include "support/fake_clock.h"
#include "support/scripted_transport.h"

namespace {

ClientRequest Request(uint8_t unit, uint8_t function, uint16_t address, uint16_t quantity,
                      const Bytes& data = {}) {
  ClientRequest r;
  r.unitId = unit;
  r.function = function;
  r.address = address;
  r.quantity = quantity;
  r.byteCount = static_cast<uint8_t>(data.size());
  for (size_t i = 0; i < data.size() && i < kMaxRequestData; ++i) r.data[i] = data[i];
  return r;
}

// --- BuildRequestPdu -----------------------------------------------------------------

TEST(BuildRequestPdu, LimitsByFunction) {
  struct Case {
    const char* name;
    ClientRequest request;
    int32_t status;
  } cases[] = {
      {"1: 2000 coils", Request(1, 1, 0, 2000), StatusOk},
      {"1: 2001 coils", Request(1, 1, 0, 2001), StatusInvalidRequest},
      {"2: quantity 0", Request(1, 2, 0, 0), StatusInvalidRequest},
      {"2: last input", Request(1, 2, 65535, 1), StatusOk},
      {"3: 125 registers", Request(1, 3, 0, 125), StatusOk},
      {"3: 126 registers", Request(1, 3, 0, 126), StatusInvalidRequest},
      {"3: 65535 + 2", Request(1, 3, 65535, 2), StatusInvalidRequest},
      {"4: 65411 + 125", Request(1, 4, 65411, 125), StatusOk},
      {"4: 65412 + 125", Request(1, 4, 65412, 125), StatusInvalidRequest},
      {"5: 0xFF00", Request(1, 5, 7, 0xFF00), StatusOk},
      {"5: 0x0000", Request(1, 5, 7, 0x0000), StatusOk},
      {"5: 0x0001", Request(1, 5, 7, 0x0001), StatusInvalidRequest},
      {"6: any value", Request(1, 6, 65535, 0xFFFF), StatusOk},
      {"15: 1968 coils", Request(1, 15, 0, 1968, Bytes(246, 0xAA)), StatusOk},
      {"15: 1969 coils", Request(1, 15, 0, 1969, Bytes(247 & 0xFF, 0)), StatusInvalidRequest},
      {"15: 9 coils, 1 byte", Request(1, 15, 0, 9, Bytes(1, 0)), StatusInvalidRequest},
      {"15: 9 coils, 2 bytes", Request(1, 15, 0, 9, Bytes(2, 0)), StatusOk},
      {"15: past the end", Request(1, 15, 65530, 7, Bytes(1, 0)), StatusInvalidRequest},
      {"16: 123 registers", Request(1, 16, 0, 123, Bytes(246, 0x55)), StatusOk},
      {"16: 124 registers", Request(1, 16, 0, 124, Bytes(246, 0)), StatusInvalidRequest},
      {"16: odd byte count", Request(1, 16, 0, 2, Bytes(3, 0)), StatusInvalidRequest},
      {"16: quantity 0", Request(1, 16, 0, 0, {}), StatusInvalidRequest},
      {"7", Request(1, 7, 0, 0), StatusUnsupportedFunction},
      {"8", Request(1, 8, 0, 0), StatusUnsupportedFunction},
      {"0", Request(1, 0, 0, 1), StatusUnsupportedFunction},
      {"0x83", Request(1, 0x83, 0, 1), StatusUnsupportedFunction},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pdu pdu;
    EXPECT_EQ(BuildRequestPdu(c.request, &pdu), c.status);
  }
}

// --- BuildRequestAdu -----------------------------------------------------------------

TEST(BuildRequestAdu, UnitIdRangeByFraming) {
  RtuFramer rtu;
  RtuFramer rtuStream(true);
  AsciiFramer ascii;
  MbapFramer mbap;
  struct Case {
    const char* name;
    const Framer* framer;
    uint8_t unit;
    uint8_t function;
    int32_t status;  // > 0: the ADU length
  } cases[] = {
      {"RTU read, unit 0", &rtu, 0, 3, StatusInvalidRequest},
      {"RTU read, unit 1", &rtu, 1, 3, 8},
      {"RTU read, unit 247", &rtu, 247, 4, 8},
      {"RTU read, unit 248", &rtu, 248, 1, StatusInvalidRequest},
      {"RTU write, unit 0", &rtu, 0, 6, 8},
      {"RTU write, unit 255", &rtu, 255, 5, StatusInvalidRequest},
      {"RTU stream read, unit 0", &rtuStream, 0, 2, StatusInvalidRequest},
      {"ASCII write, unit 0", &ascii, 0, 6, 17},
      {"ASCII read, unit 0", &ascii, 0, 3, StatusInvalidRequest},
      {"MBAP read, unit 0", &mbap, 0, 3, 12},
      {"MBAP read, unit 255", &mbap, 255, 3, 12},
      {"RTU unsupported, unit 0", &rtu, 0, 7, StatusInvalidRequest},
      {"MBAP unsupported", &mbap, 1, 7, StatusUnsupportedFunction},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientRequest request = Request(c.unit, c.function, 0, c.function == 5 ? 0xFF00 : 1);
    uint8_t buffer[kAduBufferSize];
    EXPECT_EQ(BuildRequestAdu(*c.framer, 0x0102, request, buffer, sizeof buffer), c.status);
  }
  uint8_t buffer[kAduBufferSize];
  ClientRequest read = Request(1, 3, 0, 1);
  EXPECT_EQ(BuildRequestAdu(mbap, 0x0102, read, buffer, sizeof buffer), 12);
  EXPECT_EQ(Bytes(buffer, buffer + 12), Mbap(0x0102, 1, 3, {0, 0, 0, 1}));
  EXPECT_EQ(BuildRequestAdu(mbap, 0, read, nullptr, 513), StatusFrameTooLarge);
  EXPECT_EQ(BuildRequestAdu(mbap, 0, read, buffer, 0), StatusFrameTooLarge);
  EXPECT_EQ(BuildRequestAdu(mbap, 0, read, buffer, 11), StatusInvalidLength);
  ClientRequest longest = Request(1, 16, 0, 123, Bytes(246, 1));
  EXPECT_EQ(BuildRequestAdu(ascii, 0, longest, buffer, sizeof buffer), 2 * 251 + 9);
}

// --- ParseResponsePdu and ResponseMatches ------------------------------------------

TEST(ParseResponsePdu, Shapes) {
  struct Case {
    const char* name;
    uint8_t function;
    Bytes data;
    bool accepted;
  } cases[] = {
      {"exception 2", 0x83, {2}, true},
      {"exception code 0", 0x83, {0}, false},
      {"exception with two bytes", 0x83, {2, 0}, false},
      {"exception without code", 0x83, {}, false},
      {"read, 2 bytes", 3, {2, 0, 1}, true},
      {"read, count 0", 1, {0}, false},
      {"read, count too big for data", 3, {4, 0, 1}, false},
      {"read, data beyond count", 3, {2, 0, 1, 9}, false},
      {"read, count 250", 4, Concat({250}, Bytes(250, 7)), true},
      {"read, count 251", 4, Concat({251}, Bytes(251, 7)), false},
      {"write echo", 16, {0, 1, 0, 2}, true},
      {"write echo short", 6, {0, 1, 0}, false},
      {"write echo long", 5, {0, 1, 0xFF, 0, 0}, false},
      {"function 7", 7, {0, 0, 0, 0}, false},
      {"function 0", 0, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientResponse response;
    EXPECT_EQ(ParseResponsePdu(MakePdu(c.function, c.data), &response), c.accepted);
  }
  ClientResponse r;
  ASSERT_TRUE(ParseResponsePdu(MakePdu(0x90, {4}), &r));
  EXPECT_EQ(r.function, 16);
  EXPECT_TRUE(r.isException);
  EXPECT_EQ(r.exceptionCode, 4);
  ASSERT_TRUE(ParseResponsePdu(MakePdu(15, {0x12, 0x34, 0x00, 0x0A}), &r));
  EXPECT_EQ(r.echoAddress, 0x1234);
  EXPECT_EQ(r.echoValue, 10);
  ASSERT_TRUE(ParseResponsePdu(MakePdu(2, {1, 0x5A}), &r));
  EXPECT_EQ(r.byteCount, 1);
  EXPECT_EQ(r.data[0], 0x5A);
}

TEST(ResponseMatches, AnswersTheRequest) {
  auto parsed = [](uint8_t function, const Bytes& data) {
    ClientResponse r;
    EXPECT_TRUE(ParseResponsePdu(MakePdu(function, data), &r));
    return r;
  };
  struct Case {
    const char* name;
    ClientRequest request;
    ClientResponse response;
    bool matches;
  } cases[] = {
      {"9 coils in 2 bytes", Request(1, 1, 0, 9), parsed(1, {2, 0, 0}), true},
      {"9 coils in 1 byte", Request(1, 1, 0, 9), parsed(1, {1, 0}), false},
      {"2 registers", Request(1, 3, 0, 2), parsed(3, {4, 0, 0, 0, 0}), true},
      {"other function", Request(1, 3, 0, 1), parsed(4, {2, 0, 0}), false},
      {"exception, same function", Request(1, 3, 0, 1), parsed(0x83, {2}), true},
      {"exception, other function", Request(1, 3, 0, 1), parsed(0x84, {2}), false},
      {"16 echo", Request(1, 16, 5, 2, {0, 1, 0, 2}), parsed(16, {0, 5, 0, 2}), true},
      {"16 echo, other quantity", Request(1, 16, 5, 2, {0, 1, 0, 2}), parsed(16, {0, 5, 0, 3}), false},
      {"6 echo, other address", Request(1, 6, 5, 9), parsed(6, {0, 6, 0, 9}), false},
      {"5 echo", Request(1, 5, 5, 0xFF00), parsed(5, {0, 5, 0xFF, 0}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ResponseMatches(c.request, c.response), c.matches);
  }
}

// --- Transact ------------------------------------------------------------------------

enum class Carrier { RtuSerial, RtuUdp, RtuTcp, Ascii, MbapTcp, MbapUdp };

struct Exchange {
  explicit Exchange(Carrier carrier, uint32_t startTick = 5000) : clock(startTick) {
    switch (carrier) {
      case Carrier::RtuSerial:
      case Carrier::RtuUdp:
        framer.reset(new RtuFramer());
        transport.frameMode = true;
        transport.messageOriented = carrier == Carrier::RtuUdp;
        break;
      case Carrier::RtuTcp: framer.reset(new RtuFramer(true)); break;
      case Carrier::Ascii: framer.reset(new AsciiFramer()); break;
      case Carrier::MbapTcp: framer.reset(new MbapFramer()); break;
      case Carrier::MbapUdp:
        framer.reset(new MbapFramer());
        transport.frameMode = true;
        transport.messageOriented = 1;
        break;
    }
    link = LinkCreate(&transport, framer.get(), kLinkRoleClient, this, nullptr, &Exchange::OnReceive);
  }
  ~Exchange() { LinkDestroy(link); }

  // A response frame in this exchange's framing for the transaction id the
  // next request will carry (plus skew).
  Bytes Frame(uint8_t unit, uint8_t function, const Bytes& data, int skew = 0) const {
    return Build(*framer, unit, static_cast<uint16_t>(link->transactionCounter + skew), function, data);
  }
  int32_t Run(const ClientRequest& request, uint32_t timeoutMs) {
    return Transact(link, request, &response, timeoutMs);
  }
  uint32_t Elapsed() const { return FakeClock::Now() - start; }

  static void OnReceive(void* context, const uint8_t* bytes, uint32_t length) {
    static_cast<Exchange*>(context)->monitored.push_back(Bytes(bytes, bytes + length));
  }

  FakeClock clock;
  uint32_t start = FakeClock::Now();
  std::unique_ptr<Framer> framer;
  ScriptedTransport transport;
  Link* link = nullptr;
  ClientResponse response;
  std::vector<Bytes> monitored;
};

const Carrier kAllCarriers[] = {Carrier::RtuSerial, Carrier::RtuUdp, Carrier::RtuTcp,
                                Carrier::Ascii, Carrier::MbapTcp, Carrier::MbapUdp};

TEST(Transact, ReadsAndWritesOnEveryCarrier) {
  for (Carrier carrier : kAllCarriers) {
    SCOPED_TRACE(static_cast<int>(carrier));
    Exchange x(carrier);
    Bytes answer = x.Frame(17, 3, {4, 0x12, 0x34, 0x56, 0x78});
    x.transport.Deliver(20, answer);
    EXPECT_EQ(x.Run(Request(17, 3, 100, 2), 1000), 5);
    EXPECT_EQ(x.transport.frames.size(), 1u);
    EXPECT_EQ(x.transport.frames[0], x.Frame(17, 3, {0, 100, 0, 2}, -1));
    EXPECT_EQ(x.response.function, 3);
    EXPECT_EQ(x.response.byteCount, 4);
    EXPECT_EQ(Bytes(x.response.data, x.response.data + 4), (Bytes{0x12, 0x34, 0x56, 0x78}));
    ASSERT_EQ(x.monitored.size(), 1u);
    EXPECT_EQ(x.monitored[0], answer);
    EXPECT_EQ(x.Elapsed(), 20u);

    x.transport.Rebase();
    x.transport.Deliver(5, x.Frame(17, 16, {0, 100, 0, 2}));
    EXPECT_EQ(x.Run(Request(17, 16, 100, 2, {0, 1, 0, 2}), 1000), 4);
    EXPECT_EQ(x.response.echoAddress, 100);
    EXPECT_EQ(x.response.echoValue, 2);
    EXPECT_EQ(x.link->transactionCounter, 2);
  }
}

TEST(Transact, KeepsListeningAndReportsTheLastProblem) {
  struct Step {
    uint32_t at;
    enum { Good, OtherUnit, OtherTransaction, BadCrc, Exception2, BadException, WrongEcho, Injected } kind;
    int32_t injected;
  };
  struct Case {
    const char* name;
    Carrier carrier;
    std::vector<Step> steps;
    int32_t status;
    bool monitored;
  } cases[] = {
      {"nothing", Carrier::RtuSerial, {}, StatusTimeout, false},
      {"other unit, then silence", Carrier::RtuSerial, {{10, Step::OtherUnit, 0}}, StatusInvalidFrame, false},
      {"other unit, then the answer", Carrier::MbapTcp, {{10, Step::OtherUnit, 0}, {20, Step::Good, 0}}, 4, true},
      {"wrong transaction, then right", Carrier::MbapTcp,
       {{10, Step::OtherTransaction, 0}, {20, Step::Good, 0}}, 4, true},
      {"wrong transaction only", Carrier::MbapUdp, {{10, Step::OtherTransaction, 0}}, StatusTransactionMismatch, false},
      {"RTU ignores the transaction id", Carrier::RtuTcp, {{10, Step::OtherTransaction, 0}}, 4, true},
      {"CRC error, then the answer", Carrier::RtuSerial, {{10, Step::BadCrc, 0}, {20, Step::Good, 0}}, 4, true},
      {"CRC error only", Carrier::RtuUdp, {{10, Step::BadCrc, 0}}, StatusCrcError, false},
      {"exception 2", Carrier::Ascii, {{10, Step::Exception2, 0}}, -1002, false},
      {"malformed exception", Carrier::RtuSerial, {{10, Step::BadException, 0}}, StatusInvalidFrame, false},
      {"wrong echo", Carrier::MbapTcp, {{10, Step::WrongEcho, 0}}, StatusResponseMismatch, false},
      {"invalid frame, then silence", Carrier::RtuSerial, {{10, Step::Injected, TransportInvalidFrame}},
       StatusInvalidFrame, false},
      {"I/O error ends at once", Carrier::RtuSerial,
       {{10, Step::Injected, TransportIoError}, {20, Step::Good, 0}}, StatusTransportError, false},
      {"cancel ends at once", Carrier::MbapTcp,
       {{10, Step::Injected, TransportCancelled}, {20, Step::Good, 0}}, StatusCancelled, false},
      {"line error ends at once", Carrier::Ascii, {{10, Step::Injected, TransportLineError}},
       StatusSerialFramingError, false},
      {"overrun ends at once", Carrier::RtuSerial, {{10, Step::Injected, TransportOverrun}},
       StatusSerialOverrun, false},
      {"answer after the deadline", Carrier::MbapTcp, {{10, Step::OtherUnit, 0}, {1000, Step::Good, 0}},
       StatusInvalidFrame, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exchange x(c.carrier);
    // Write single register 7 = 0x0102 at unit 5; the answer echoes it.
    const ClientRequest request = Request(5, 6, 7, 0x0102);
    for (const Step& s : c.steps) {
      switch (s.kind) {
        case Step::Good: x.transport.Deliver(s.at, x.Frame(5, 6, {0, 7, 1, 2})); break;
        case Step::OtherUnit: x.transport.Deliver(s.at, x.Frame(6, 6, {0, 7, 1, 2})); break;
        case Step::OtherTransaction: x.transport.Deliver(s.at, x.Frame(5, 6, {0, 7, 1, 2}, 1)); break;
        case Step::BadCrc: {
          Bytes frame = x.Frame(5, 6, {0, 7, 1, 2});
          frame.back() ^= 0xFF;
          x.transport.Deliver(s.at, frame);
          break;
        }
        case Step::Exception2: x.transport.Deliver(s.at, x.Frame(5, 0x86, {2})); break;
        case Step::BadException: x.transport.Deliver(s.at, x.Frame(5, 0x86, {2, 0})); break;
        case Step::WrongEcho: x.transport.Deliver(s.at, x.Frame(5, 6, {0, 7, 1, 3})); break;
        case Step::Injected: x.transport.Inject(s.at, s.injected); break;
      }
    }
    EXPECT_EQ(x.Run(request, 1000), c.status);
    EXPECT_EQ(x.monitored.size(), c.monitored ? 1u : 0u);
    const bool endsEarly = c.status > 0 || IsExceptionStatus(c.status) || c.status == StatusTransportError ||
                           c.status == StatusCancelled || c.status == StatusSerialFramingError ||
                           c.status == StatusSerialOverrun;
    if (!endsEarly) {
      EXPECT_EQ(x.Elapsed(), 1000u);
    }
    if (IsExceptionStatus(c.status)) {
      EXPECT_TRUE(x.response.isException);
      EXPECT_EQ(x.response.exceptionCode, 2);
    }
  }
}

TEST(Transact, Broadcast) {
  struct Case {
    const char* name;
    Carrier carrier;
    ClientRequest request;
    int32_t status;
    size_t framesSent;
  } cases[] = {
      {"RTU write", Carrier::RtuSerial, Request(0, 6, 1, 2), 0, 1},
      {"RTU over TCP write", Carrier::RtuTcp, Request(0, 16, 1, 1, {0, 2}), 0, 1},
      {"ASCII coil", Carrier::Ascii, Request(0, 5, 1, 0xFF00), 0, 1},
      {"RTU over UDP coil off", Carrier::RtuUdp, Request(0, 5, 1, 0x0000), 0, 1},
      {"RTU coil value 1", Carrier::RtuSerial, Request(0, 5, 1, 0x0001), StatusInvalidRequest, 0},
      {"RTU read", Carrier::RtuSerial, Request(0, 3, 1, 1), StatusInvalidRequest, 0},
      {"MBAP write waits", Carrier::MbapTcp, Request(0, 6, 1, 2), StatusTimeout, 1},
      {"MBAP read is sent", Carrier::MbapUdp, Request(0, 3, 1, 1), StatusTimeout, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exchange x(c.carrier);
    EXPECT_EQ(x.Run(c.request, 700), c.status);
    EXPECT_EQ(x.transport.frames.size(), c.framesSent);
    EXPECT_EQ(x.Elapsed(), c.status == StatusTimeout ? 700u : 0u);
    EXPECT_EQ(x.transport.reads + x.transport.frameReads, c.status == StatusTimeout ? 1 : 0);
  }
  // Unit 0 over MBAP is answered like any other unit.
  Exchange x(Carrier::MbapTcp);
  x.transport.Deliver(3, x.Frame(0, 6, {0, 1, 0, 2}));
  EXPECT_EQ(x.Run(Request(0, 6, 1, 2), 700), 4);
}

TEST(Transact, NothingIsSentWhenTheExchangeCannotStart) {
  struct Case {
    const char* name;
    int32_t open;
    int32_t prepare;
    ClientRequest request;
    int32_t status;
    int prepares;
    uint16_t counter;  // the transaction id is taken before the request is built
  } cases[] = {
      {"not connected", 0, 1, Request(1, 3, 0, 1), StatusNotConnected, 0, 0},
      {"prepare fails", 1, 0, Request(1, 3, 0, 1), StatusTransportError, 1, 0},
      {"coil value 1", 1, 1, Request(1, 5, 0, 0x0001), StatusInvalidRequest, 1, 1},
      {"126 registers", 1, 1, Request(1, 3, 0, 126), StatusInvalidRequest, 1, 1},
      {"function 7", 1, 1, Request(1, 7, 0, 1), StatusUnsupportedFunction, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exchange x(Carrier::RtuSerial);
    if (!c.open) x.transport.Close();
    x.transport.prepareResult = c.prepare;
    x.response.byteCount = 99;
    EXPECT_EQ(x.Run(c.request, 1000), c.status);
    EXPECT_TRUE(x.transport.written.empty());
    EXPECT_EQ(x.transport.prepares, c.prepares);
    EXPECT_EQ(x.link->transactionCounter, c.counter);
    if (c.prepares) {
      EXPECT_EQ(x.response.byteCount, 0);  // cleared before the exchange starts
    }
    EXPECT_EQ(x.Elapsed(), 0u);
  }
}

TEST(Transact, SendFailuresAreReturned) {
  struct Case {
    const char* name;
    int32_t begin;
    int32_t write;
    int32_t status;
  } cases[] = {
      {"cancelled before sending", 0, 1, StatusCancelled},
      {"write fails", 1, TransportIoError, StatusTransportError},
      {"write times out", 1, 0, StatusTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exchange x(Carrier::MbapTcp);
    x.transport.beginResult = c.begin;
    if (c.write <= 0) x.transport.ScriptWrite(0, c.write);
    x.transport.Deliver(1, x.Frame(1, 3, {2, 0, 0}));
    EXPECT_EQ(x.Run(Request(1, 3, 0, 1), 1000), c.status);
    EXPECT_TRUE(x.monitored.empty());
  }
}

TEST(Transact, StreamResetEndsTheWaitWithTheRealProblem) {
  // A TCP client closes its connection when the link resets it after a
  // malformed header; the next read would only see a closed socket.
  Exchange x(Carrier::MbapTcp);
  x.transport.closeOnReset = true;
  x.transport.Deliver(10, {0, 0, 0, 0, 0, 0, 5, 6});
  EXPECT_EQ(x.Run(Request(5, 6, 7, 1), 1000), StatusInvalidLength);
  EXPECT_EQ(x.transport.resets, 1);
  EXPECT_EQ(x.transport.IsReady(), 0);
}

TEST(Transact, TransactionCounterWraps) {
  Exchange x(Carrier::MbapTcp);
  x.link->transactionCounter = 0xFFFF;
  x.transport.Deliver(1, Mbap(0xFFFF, 1, 6, {0, 1, 0, 1}));
  EXPECT_EQ(x.Run(Request(1, 6, 1, 1), 100), 4);
  EXPECT_EQ(x.link->transactionCounter, 0);
  x.transport.Rebase();
  x.transport.Deliver(1, Mbap(0, 1, 6, {0, 1, 0, 1}));
  EXPECT_EQ(x.Run(Request(1, 6, 1, 1), 100), 4);
  EXPECT_EQ(x.transport.frames[1][0], 0);
  EXPECT_EQ(x.transport.frames[1][1], 0);
}

TEST(Transact, DeadlineAcrossTheTickWrap) {
  for (Carrier carrier : kAllCarriers) {
    SCOPED_TRACE(static_cast<int>(carrier));
    Exchange x(carrier, 0xFFFFFE00u);
    // Wrong unit before the wrap, the answer 100 ms after it.
    x.transport.Deliver(0x100, x.Frame(9, 6, {0, 1, 0, 2}));
    x.transport.Deliver(0x200 + 100, x.Frame(1, 6, {0, 1, 0, 2}));
    EXPECT_EQ(x.Run(Request(1, 6, 1, 2), 1000), 4);
    EXPECT_EQ(FakeClock::Now(), 100u);
    // The next one times out exactly 1000 ms later.
    x.transport.Rebase();
    EXPECT_EQ(x.Run(Request(1, 6, 1, 2), 1000), StatusTimeout);
    EXPECT_EQ(FakeClock::Now(), 1100u);
  }
}

}  // namespace

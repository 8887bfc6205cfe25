// Request processing end to end over the scripted transport: raw request
// ADUs in, exact response ADUs out, for every framing of both families.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "server/serve.h"
#include "serve_rig.h"

namespace {

constexpr unsigned kSerial = 1;  // RTU frame, RTU stream, ASCII
constexpr unsigned kMbap = 2;    // MBAP stream, MBAP datagram
constexpr unsigned kBoth = kSerial | kMbap;

const Framing kAllFramings[] = {Framing::kRtuFrame, Framing::kRtuStream, Framing::kAscii, Framing::kMbapStream,
                                Framing::kMbapDatagram};

struct CellValue {
  uint8_t area;
  uint16_t address;
  uint16_t value;
};

std::string Zeros(size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += "00";
  return out;
}

struct ExchangeCase {
  const char* name;
  unsigned families;
  bool rtuStream;  // the RTU stream can frame it (its length follows from the function code)
  std::vector<CellValue> before;
  uint8_t unit;
  std::string request;   // PDU: function code and data
  std::string response;  // PDU; empty when nothing may be sent
  std::vector<CellValue> after;
  uint8_t own = 1;  // the configured slave ID or unit ID
};

const std::vector<ExchangeCase>& Cases() {
  static const std::vector<ExchangeCase> cases = {
      // Reads.
      {"read coils packs coil 0 into bit 0", kBoth, true, {{0, 0, 1}, {0, 9, 1}, {0, 10, 1}}, 1,
       "01 0000 000A", "01 02 01 02", {}},
      {"read discrete inputs", kBoth, true, {{1, 5, 1}, {1, 7, 1}, {0, 6, 1}}, 1, "02 0005 0003", "02 01 05", {}},
      {"read holding registers high byte first", kBoth, true, {{3, 100, 0x1234}, {3, 101, 0xABCD}}, 1,
       "03 0064 0002", "03 04 1234 ABCD", {}},
      {"function 4 reads input registers", kBoth, true, {{2, 7, 0x0102}, {3, 7, 0x0304}}, 1, "04 0007 0001",
       "04 02 0102", {}},
      {"2000 coils up to the last address", kBoth, true, {{0, 65535, 1}}, 1, "01 F830 07D0",
       "01 FA" + Zeros(249) + "80", {}},
      {"last register is readable", kBoth, true, {{3, 65535, 0x00FF}}, 1, "03 FFFF 0001", "03 02 00FF", {}},
      // Read limits and their exceptions.
      {"quantity 126 is exception 3", kBoth, true, {}, 1, "03 0000 007E", "83 03", {}},
      {"quantity 0 is exception 3", kBoth, true, {}, 1, "03 0000 0000", "83 03", {}},
      {"2001 coils is exception 3", kBoth, true, {}, 1, "01 0000 07D1", "81 03", {}},
      {"address 65535 quantity 2 is exception 2", kBoth, true, {}, 1, "03 FFFF 0002", "83 02", {}},
      {"past the end wins over a bad quantity", kBoth, true, {}, 1, "04 FFF0 007E", "84 02", {}},
      {"a short read PDU is exception 3", kBoth, false, {}, 1, "03 0000 00", "83 03", {}},
      {"a long read PDU is exception 3", kBoth, false, {}, 1, "02 0000 0001 00", "82 03", {}},
      // Single writes.
      {"coil value 0x00FF is exception 3", kBoth, true, {}, 1, "05 0003 00FF", "85 03", {{0, 3, 0}}},
      {"coil value 0xFF00 sets the coil", kBoth, true, {}, 1, "05 0003 FF00", "05 0003 FF00", {{0, 3, 1}}},
      {"coil value 0x0000 clears the coil", kBoth, true, {{0, 3, 1}}, 1, "05 0003 0000", "05 0003 0000",
       {{0, 3, 0}}},
      {"write single register", kBoth, true, {}, 1, "06 0010 BEEF", "06 0010 BEEF", {{3, 16, 0xBEEF}, {2, 16, 0}}},
      // Multiple writes.
      {"write multiple registers", kBoth, true, {{3, 34, 9}}, 1, "10 0020 0002 04 0102 0304", "10 0020 0002",
       {{3, 32, 0x0102}, {3, 33, 0x0304}, {3, 34, 9}}},
      {"register byte count not twice the quantity", kBoth, true, {}, 1, "10 0020 0002 03 010203", "90 03",
       {{3, 32, 0}}},
      {"124 registers is exception 3", kBoth, true, {}, 1, "10 0000 007C 01 00", "90 03", {}},
      {"registers past the end are exception 2", kBoth, true, {}, 1, "10 FFFF 0002 04 0001 0002", "90 02",
       {{3, 65535, 0}}},
      {"write multiple coils from packed bits", kBoth, true, {{0, 25, 1}, {0, 26, 1}}, 1, "0F 0010 000A 02 CD 01",
       "0F 0010 000A",
       {{0, 16, 1}, {0, 17, 0}, {0, 18, 1}, {0, 19, 1}, {0, 20, 0}, {0, 21, 0}, {0, 22, 1}, {0, 23, 1}, {0, 24, 1},
        {0, 25, 0}, {0, 26, 1}}},
      {"coil byte count not (quantity + 7) / 8", kBoth, true, {}, 1, "0F 0010 000A 01 CD", "8F 03", {{0, 16, 0}}},
      {"1969 coils is exception 3", kBoth, true, {}, 1, "0F 0000 07B1 01 00", "8F 03", {}},
      // Functions outside the supported set.
      // (The standard requests of these, which the RTU stream frames too.)
      {"function 7 is exception 1", kBoth, true, {}, 1, "07", "87 01", {}},
      {"function 11 is exception 1", kBoth, true, {}, 1, "0B", "8B 01", {}},
      {"function 12 is exception 1", kBoth, true, {}, 1, "0C", "8C 01", {}},
      {"function 17 is exception 1", kBoth, true, {}, 1, "11", "91 01", {}},
      {"function 20 is exception 1", kBoth, true, {}, 1, "14 0E 06 0004 0001 0002 06 0003 0009 0002", "94 01", {}},
      {"function 21 is exception 1", kBoth, true, {}, 1, "15 0D 06 0004 0007 0003 06AF 04BE 100D", "95 01", {}},
      {"function 22 is exception 1", kBoth, true, {{3, 4, 0x12}}, 1, "16 0004 00F2 0025", "96 01", {{3, 4, 0x12}}},
      {"function 23 is exception 1", kBoth, true, {}, 1, "17 0003 0006 000E 0003 06 00FF 00FF 00FF", "97 01",
       {{3, 14, 0}}},
      {"function 24 is exception 1", kBoth, true, {}, 1, "18 04DE", "98 01", {}},
      {"function 43/14 is exception 1", kBoth, true, {}, 1, "2B 0E 01 00", "AB 01", {}},
      {"function 43/13 is exception 1", kBoth, true, {}, 1, "2B 0D 01 02 03", "AB 01", {}},
      {"function 0 is exception 1", kBoth, false, {}, 1, "00 0000 0001", "80 01", {}},
      {"an unsupported function wins over a bad length", kBoth, false, {}, 1, "07 00 00", "87 01", {}},
      {"quantity 0 at the last address is exception 3", kBoth, true, {}, 1, "03 FFFF 0000", "83 03", {}},
      {"a short single write is exception 3", kBoth, false, {}, 1, "05 0001", "85 03", {}},
      {"a short multiple write is exception 3", kBoth, false, {}, 1, "10 0001 00", "90 03", {}},
      {"a request with bit 7 set is not answered", kBoth, false, {}, 1, "83 0000 0001", "", {}},
      // Addressing of the serial and RTU-over-IP servers.
      {"broadcast write single register: executed, unanswered", kSerial, true, {}, 0, "06 0005 0007", "",
       {{3, 5, 7}}},
      {"broadcast write multiple coils: executed, unanswered", kSerial, true, {}, 0, "0F 0000 0003 01 05", "",
       {{0, 0, 1}, {0, 1, 0}, {0, 2, 1}}},
      {"broadcast read: neither executed nor answered", kSerial, true, {{3, 0, 5}}, 0, "03 0000 0001", "",
       {{3, 0, 5}}},
      {"broadcast diagnostics are not answered", kSerial, true, {}, 0, "08 0000 1234", "", {}},
      {"another slave ID is ignored", kSerial, true, {}, 2, "06 0005 0007", "", {{3, 5, 0}}},
      {"slave ID 248 is ignored", kSerial, true, {}, 248, "06 0005 0007", "", {{3, 5, 0}}},
      {"another slave ID with a bad request is ignored", kSerial, true, {}, 9, "03 0000 0000", "", {}},
      // Addressing of the MBAP servers (not "Accept any").
      {"configured unit 0: read answered", kMbap, true, {{3, 0, 0x0A0B}}, 0, "03 0000 0001", "03 02 0A0B", {}, 0},
      {"configured unit 0: write answered", kMbap, true, {}, 0, "06 0001 0002", "06 0001 0002", {{3, 1, 2}}, 0},
      {"configured unit 0: other units ignored", kMbap, true, {}, 1, "06 0001 0002", "", {{3, 1, 0}}, 0},
      {"function 8 is exception 1", kMbap, true, {}, 1, "08 0000 1234", "88 01", {}},
      {"function 8 with odd data is exception 1", kMbap, true, {}, 1, "08 0000 12", "88 01", {}},
      {"another unit is ignored", kMbap, true, {}, 2, "06 0005 0007", "", {{3, 5, 0}}},
      {"unit 255 is ignored", kMbap, true, {}, 255, "03 0000 0001", "", {}},
  };
  return cases;
}

TEST(Serve, RequestBytesInResponseBytesOut) {
  uint16_t transaction = 0x0100;
  for (const ExchangeCase& c : Cases()) {
    for (Framing framing : kAllFramings) {
      const unsigned family = IsMbap(framing) ? kMbap : kSerial;
      if (!(c.families & family)) continue;
      if (framing == Framing::kRtuStream && !c.rtuStream) continue;
      SCOPED_TRACE(std::string(c.name) + " / " + FramingName(framing));
      ServeRig rig(framing, c.own);
      for (const CellValue& v : c.before) rig.map->WriteCellFromUser(v.area, v.address, v.value);
      ++transaction;
      ServeResult result = rig.Serve(Adu(framing, c.unit, transaction, Hex(c.request)));
      EXPECT_EQ(result.frames.size(), c.response.empty() ? 0u : 1u) << "receive status " << result.receiveStatus;
      if (c.response.empty()) {
        EXPECT_TRUE(result.frames.empty());
        EXPECT_EQ(result.sendResult, 0);
      } else {
        ASSERT_EQ(result.frames.size(), 1u);
        const Bytes expected = Adu(framing, c.unit, transaction, Hex(c.response));
        EXPECT_EQ(result.frames[0], expected);
        EXPECT_EQ(result.sendResult, static_cast<int32_t>(expected.size()));
      }
      for (const CellValue& v : c.after) {
        EXPECT_EQ(rig.map->ReadCellLocked(v.area, v.address), v.value) << "area " << int(v.area) << " cell " << v.address;
      }
    }
  }
}

// Fixed frames written out byte for byte, as a client would send them.
TEST(Serve, KnownFramesOnTheWire) {
  struct Case {
    Framing framing;
    std::string request;
    std::string response;
  };
  const Case cases[] = {
      {Framing::kRtuFrame, "01 03 0000 0001 840A", "01 03 02 1234 B533"},
      {Framing::kRtuStream, "01 03 0000 0001 840A", "01 03 02 1234 B533"},
      {Framing::kMbapStream, "0102 0000 0006 01 03 0000 0001", "0102 0000 0005 01 03 02 1234"},
      {Framing::kMbapDatagram, "FFFF 0000 0006 07 03 0000 0001", "FFFF 0000 0005 07 03 02 1234"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FramingName(c.framing));
    ServeRig rig(c.framing, c.framing == Framing::kMbapDatagram ? 7 : 1);
    rig.map->WriteCellFromUser(kAreaHoldingRegisters, 0, 0x1234);
    ServeResult result = rig.Serve(Hex(c.request));
    ASSERT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.frames[0], Hex(c.response));
  }
  ServeRig ascii(Framing::kAscii);
  ascii.map->WriteCellFromUser(kAreaHoldingRegisters, 0, 0x1234);
  const std::string request = ":010300000001FB\r\n";
  ServeResult result = ascii.Serve(Bytes(request.begin(), request.end()));
  ASSERT_EQ(result.frames.size(), 1u);
  const std::string response = ":0103021234B4\r\n";
  EXPECT_EQ(result.frames[0], Bytes(response.begin(), response.end()));
}

TEST(Serve, WrittenRangeNamesTheChangedCells) {
  struct Case {
    std::string request;
    uint8_t unit;
    WrittenRange range;
  };
  const Case cases[] = {
      {"05 0009 FF00", 1, {kAreaCoils, 9, 1}},
      {"06 FFFF 0001", 1, {kAreaHoldingRegisters, 65535, 1}},
      {"0F 0010 000A 02 CD 01", 1, {kAreaCoils, 16, 10}},
      {"10 0020 0002 04 0102 0304", 0, {kAreaHoldingRegisters, 32, 2}},  // broadcast too
      {"03 0000 0001", 1, {0, 0, 0}},
      {"10 0020 0002 03 010203", 1, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    ServeRig rig(Framing::kRtuFrame);
    ServeResult result = rig.Serve(RtuAdu(c.unit, Hex(c.request)));
    EXPECT_EQ(result.written.count, c.range.count);
    if (c.range.count) {
      EXPECT_EQ(result.written.area, c.range.area);
      EXPECT_EQ(result.written.start, c.range.start);
    }
  }
}

TEST(Serve, MbapAcceptAnyAnswersEveryUnit) {
  for (Framing framing : {Framing::kMbapStream, Framing::kMbapDatagram}) {
    ServeRig rig(framing, 9, true);
    for (int unit : {0, 1, 9, 200, 255}) {
      SCOPED_TRACE(unit);
      const uint8_t u = static_cast<uint8_t>(unit);
      ServeResult result = rig.Serve(MbapAdu(static_cast<uint16_t>(unit * 3), u, Hex("03 0000 0001")));
      ASSERT_EQ(result.frames.size(), 1u);
      EXPECT_EQ(result.frames[0], MbapAdu(static_cast<uint16_t>(unit * 3), u, Hex("03 02 0000")));
    }
  }
}

// On the RTU stream a request must be read to its last byte before the next
// one can be found. Each request here comes with a read right behind it:
// both are answered, or the stream is given up where its length cannot be
// told or its CRC fails, and the line counts the error.
TEST(Serve, RtuStreamFindsWhereEachRequestEnds) {
  const Bytes read = RtuAdu(1, Hex("03 0000 0001"));
  const Bytes readAnswer = RtuAdu(1, Hex("03 02 0000"));
  struct Case {
    Bytes request;
    std::string response;  // PDU; empty when the stream is given up
    int32_t status;
  };
  const Case cases[] = {
      {RtuAdu(1, Hex("07")), "87 01", StatusUnsupportedFunction},
      {RtuAdu(1, Hex("11")), "91 01", StatusUnsupportedFunction},
      {RtuAdu(1, Hex("2B 0E 01 00")), "AB 01", StatusUnsupportedFunction},
      {RtuAdu(1, Hex("08 0000")), "08 0000 0000", StatusOk},
      {RtuAdu(1, Hex("08 0000 ABCD 0102")), "08 0000 ABCD 0102", StatusOk},
      {RtuAdu(1, Hex("08 000B 0000 0000")), "88 03", StatusOk},
      {RtuAdu(1, Hex("00 0000 0001")), "", StatusInvalidFrame},
      {RtuAdu(1, Hex("09")), "", StatusInvalidFrame},
      {RtuAdu(1, Hex("41 0000")), "", StatusInvalidFrame},
      {RtuAdu(1, Hex("83 0000 0001")), "", StatusInvalidFrame},
      {RtuAdu(1, Hex("03 0000 0001"), true), "", StatusCrcError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.request));
    ServeRig rig(Framing::kRtuStream);
    rig.transport.DeliverNow(Prefixed(c.request, read));
    ServeResult result = rig.ServeNext();
    EXPECT_EQ(result.receiveStatus, c.status);
    if (c.response.empty()) {
      EXPECT_TRUE(result.frames.empty());
      EXPECT_EQ(rig.diagnostics.busCommunicationErrorCount, 1);
      EXPECT_EQ(rig.transport.resets, 1);
      continue;
    }
    ASSERT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.frames[0], RtuAdu(1, Hex(c.response)));
    result = rig.ServeNext();
    ASSERT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.frames[0], readAnswer);
    EXPECT_EQ(rig.diagnostics.busCommunicationErrorCount, 0);
    EXPECT_EQ(rig.transport.resets, 0);
  }
}

TEST(Serve, ReceiveRequestClassifiesAnswerableFailures) {
  struct Case {
    uint8_t unit;
    std::string pdu;
    int32_t serial;
    int32_t mbap;
  };
  const Case cases[] = {
      {1, "03 0000 0001", StatusOk, StatusOk},
      {0, "06 0000 0001", StatusOk, StatusOk},
      {0, "03 0000 0001", StatusInvalidRequest, StatusOk},
      {0, "08 0000 0000", StatusInvalidRequest, StatusOk},
      {248, "03 0000 0001", StatusInvalidRequest, StatusOk},
      {247, "03 0000 0001", StatusOk, StatusOk},
      {1, "09 0000", StatusUnsupportedFunction, StatusUnsupportedFunction},
      {1, "01 FFFF 0002", StatusInvalidAddress, StatusInvalidAddress},
      {1, "10 FFFF 0002 03 000000", StatusInvalidAddress, StatusInvalidAddress},
      {1, "01 FFFF 0000", StatusInvalidRequest, StatusInvalidRequest},
      {1, "0F FFFF", StatusInvalidRequest, StatusInvalidRequest},
      {1, "08 0000 00", StatusInvalidRequest, StatusInvalidRequest},
      {1, "08", StatusInvalidRequest, StatusInvalidRequest},
      {1, "86 0000 0001", StatusInvalidFrame, StatusInvalidFrame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pdu + " unit " + std::to_string(c.unit));
    ServeRig serial(Framing::kRtuFrame);
    serial.transport.DeliverNow(RtuAdu(c.unit, Hex(c.pdu)));
    AduHeader header;
    ServerRequest request;
    EXPECT_EQ(ReceiveRequest(&serial.session, &header, &request, 100), c.serial);
    EXPECT_EQ(header.unitId, c.unit);
    ServeRig mbap(Framing::kMbapDatagram);
    mbap.transport.DeliverNow(MbapAdu(77, c.unit, Hex(c.pdu)));
    EXPECT_EQ(ReceiveRequest(&mbap.session, &header, &request, 100), c.mbap);
    EXPECT_EQ(header.transactionId, 77);
  }
}

TEST(Serve, ClosedTransportIsNotConnected) {
  ServeRig rig(Framing::kMbapStream);
  rig.transport.Close();
  AduHeader header;
  ServerRequest request;
  EXPECT_EQ(ReceiveRequest(&rig.session, &header, &request, 100), StatusNotConnected);
  ServerResponse response{};
  response.function = 6;
  header.unitId = 1;
  EXPECT_EQ(SendResponse(rig.link, header, response), StatusNotConnected);
}

TEST(Serve, BuildResponsePduRefusesWhatNoResponseCarries) {
  struct Case {
    const char* name;
    std::function<void(ServerResponse&)> fill;
    int32_t status;
    std::string pdu;
  };
  const Case cases[] = {
      {"exception code 0", [](ServerResponse& r) { r.function = 3; r.isException = true; }, StatusInvalidRequest, ""},
      {"exception", [](ServerResponse& r) { r.function = 16; r.isException = true; r.exceptionCode = 2; }, StatusOk,
       "90 02"},
      {"read with byte count 0", [](ServerResponse& r) { r.function = 1; }, StatusInvalidRequest, ""},
      {"read with byte count 251", [](ServerResponse& r) { r.function = 3; r.byteCount = 251; }, StatusInvalidRequest,
       ""},
      {"coil echo 0x1234", [](ServerResponse& r) { r.function = 5; r.echoValue = 0x1234; }, StatusInvalidRequest, ""},
      {"register echo 0x1234", [](ServerResponse& r) { r.function = 6; r.echoAddress = 2; r.echoValue = 0x1234; },
       StatusOk, "06 0002 1234"},
      {"coils echo quantity 1969", [](ServerResponse& r) { r.function = 15; r.echoValue = 1969; },
       StatusInvalidRequest, ""},
      {"registers echo past the end", [](ServerResponse& r) { r.function = 16; r.echoAddress = 65535; r.echoValue = 2; },
       StatusInvalidRequest, ""},
      {"registers echo quantity 0", [](ServerResponse& r) { r.function = 16; }, StatusInvalidRequest, ""},
      {"diagnostic odd echo", [](ServerResponse& r) { r.function = 8; r.echoDataLength = 3; }, StatusInvalidRequest,
       ""},
      {"diagnostic echo 252", [](ServerResponse& r) { r.function = 8; r.echoDataLength = 252; }, StatusInvalidRequest,
       ""},
      {"counter with 4 bytes", [](ServerResponse& r) { r.function = 8; r.echoAddress = 11; r.echoDataLength = 4; },
       StatusInvalidRequest, ""},
      {"echo of 250 bytes", [](ServerResponse& r) { r.function = 8; r.echoDataLength = 250; }, StatusOk,
       "08 0000" + Zeros(250)},
      {"function 7", [](ServerResponse& r) { r.function = 7; }, StatusUnsupportedFunction, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerResponse response{};
    c.fill(response);
    Pdu pdu;
    EXPECT_EQ(BuildResponsePdu(response, &pdu), c.status);
    if (c.status == StatusOk) {
      const Bytes wire = Prefixed({pdu.function}, Bytes(pdu.data, pdu.data + pdu.length));
      EXPECT_EQ(wire, Hex(c.pdu));
    }
  }
}

TEST(Serve, ExecuteRequestRefusesRequestsOutsideTheLimits) {
  auto map = std::make_unique<DeviceMap>();
  ServerRequest request{};
  request.function = 3;
  request.quantityOrValue = 126;
  ServerResponse response;
  WrittenRange written{};
  ExecuteRequest(map.get(), request, &response, &written);
  EXPECT_TRUE(response.isException);
  EXPECT_EQ(response.exceptionCode, 3);
  request.function = 16;
  request.quantityOrValue = 2;
  request.byteCount = 5;
  ExecuteRequest(map.get(), request, &response, &written);
  EXPECT_EQ(response.exceptionCode, 3);
  EXPECT_EQ(written.count, 0);
  request.function = 43;
  ExecuteRequest(map.get(), request, &response, &written);
  EXPECT_EQ(response.exceptionCode, 1);
}

}  // namespace

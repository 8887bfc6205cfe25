// The three framers: building, checking and splitting ADUs at the limits of
// each framing. The byte-exact comparison with an independent implementation
// is in tests/peers.

#include <gtest/gtest.h>

#include "modbus/frames.h"
#include "modbus/status.h"

namespace {

struct Parsed {
  int32_t status;
  AduHeader header;
  Pdu pdu;
};

Parsed Parse(const Framer& framer, const Bytes& bytes) {
  Parsed p;
  p.header.unitId = 0xEE;
  p.header.transactionId = 0xEEEE;
  p.status = framer.ParseAdu(bytes.data(), static_cast<uint32_t>(bytes.size()), &p.header, &p.pdu);
  return p;
}

Bytes Range(size_t n) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  return data;
}

struct LimitCase {
  size_t dataLength;
  size_t aduLength;  // 0: refused
};

// Builds a PDU of each data length with the given header and parses the ADU
// back. An expected transaction id of -1 is not checked.
void ExpectRoundTripAtLimits(const Framer& framer, uint8_t unit, uint16_t transaction, int32_t expectedTransaction,
                             uint8_t function, std::initializer_list<LimitCase> cases) {
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.dataLength);
    Bytes adu = Build(framer, unit, transaction, function, Range(c.dataLength));
    ASSERT_EQ(adu.size(), c.aduLength);
    if (!c.aduLength) continue;
    Parsed p = Parse(framer, adu);
    ASSERT_EQ(p.status, StatusOk);
    EXPECT_EQ(p.header.unitId, unit);
    if (expectedTransaction >= 0) {
      EXPECT_EQ(p.header.transactionId, expectedTransaction);
    }
    EXPECT_EQ(p.pdu.function, function);
    EXPECT_EQ(Bytes(p.pdu.data, p.pdu.data + p.pdu.length), Range(c.dataLength));
  }
}

TEST(Crc16, KnownFramesAndTable) {
  const uint8_t read[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(Crc16(read, 6), 0x0A84);  // sent as 84 0A
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(check, 9), 0x4B37);  // the CRC-16/MODBUS check value
  EXPECT_EQ(Crc16(read, 0), 0xFFFF);
}

TEST(RtuFramer, BuildsAndParsesAtTheLimits) {
  RtuFramer framer;
  EXPECT_EQ(Rtu(1, 3, {0, 0, 0, 1}), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
  ExpectRoundTripAtLimits(framer, 17, 999, 0, 16, {{0, 4}, {1, 5}, {252, 256}, {253, 0}});
  uint8_t small[7];
  EXPECT_EQ(framer.BuildAdu(AduHeader{}, MakePdu(3, {0, 0, 0, 1}), small, sizeof small), 0);
  EXPECT_EQ(framer.Kind(), FramingKind::kRtu);
  EXPECT_EQ(RtuFramer(true).Kind(), FramingKind::kRtuStream);
  EXPECT_EQ(framer.MinAduLength(), 4u);
  EXPECT_EQ(framer.EndCharacter(), 0);
  RtuFramer changeable;
  EXPECT_EQ(changeable.SetEndCharacter('!'), 0);
}

TEST(RtuFramer, RejectsDamagedFrames) {
  RtuFramer framer;
  Bytes good = Rtu(1, 3, {0, 0, 0, 1});
  Bytes swapped = good;
  std::swap(swapped[6], swapped[7]);
  Bytes flipped = good;
  flipped[3] ^= 0x10;
  Bytes oversize = Concat(Rtu(1, 16, Range(252)), {0});
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t status;
  } cases[] = {
      {"3 bytes", {0x01, 0x03, 0x00}, StatusInvalidLength},
      {"empty", {}, StatusInvalidLength},
      {"257 bytes", oversize, StatusInvalidLength},
      {"CRC swapped", swapped, StatusCrcError},
      {"data bit flipped", flipped, StatusCrcError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(framer, c.bytes).status, c.status);
  }
  EXPECT_EQ(framer.ParseAdu(nullptr, 8, nullptr, nullptr), StatusInvalidLength);
}

TEST(AsciiFramer, BuildsTheDocumentedFrame) {
  AsciiFramer framer;
  Bytes frame = Ascii(1, 3, {0, 0, 0, 1});
  EXPECT_EQ(frame, Text(":010300000001FB\r\n"));
  Parsed p = Parse(framer, frame);
  ASSERT_EQ(p.status, StatusOk);
  EXPECT_EQ(p.header.unitId, 1);
  EXPECT_EQ(p.header.transactionId, 0);
  EXPECT_EQ(p.pdu.function, 3);
  EXPECT_EQ(Bytes(p.pdu.data, p.pdu.data + p.pdu.length), (Bytes{0, 0, 0, 1}));
  EXPECT_EQ(Lrc(nullptr, 0), 0);
  EXPECT_EQ(framer.Kind(), FramingKind::kAscii);
  EXPECT_EQ(framer.MinAduLength(), 9u);
}

TEST(AsciiFramer, LimitsOfLength) {
  AsciiFramer framer;
  ExpectRoundTripAtLimits(framer, 0xF7, 0, -1, 0x90, {{0, 9}, {252, 513}, {253, 0}});
  uint8_t small[16];
  EXPECT_EQ(framer.BuildAdu(AduHeader{}, MakePdu(3, {0, 0, 0, 1}), small, sizeof small), 0);
}

TEST(AsciiFramer, RejectsMalformedFrames) {
  AsciiFramer framer;
  Bytes longest = Build(framer, 1, 0, 16, Range(252));
  Bytes tooLong = longest;
  tooLong.insert(tooLong.begin() + 1, '0');
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t status;
  } cases[] = {
      {"lower-case digits", Text(":010300000001fb\r\n"), StatusInvalidFrame},
      {"digit outside hex", Text(":01030000000GFB\r\n"), StatusInvalidFrame},
      {"odd digit count", Text(":0103000\r\n"), StatusInvalidFrame},
      {"no colon", Text(";010300000001FB\r\n"), StatusInvalidFrame},
      {"no CR", Text(":010300000001FB\n\n"), StatusInvalidFrame},
      {"wrong end", Text(":010300000001FB\r!"), StatusInvalidFrame},
      {"wrong LRC", Text(":010300000001FC\r\n"), StatusLrcError},
      {"7 characters", Text(":01FF\r\n"), StatusInvalidLength},
      {"514 characters", tooLong, StatusInvalidLength},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(framer, c.bytes).status, c.status);
  }
}

TEST(AsciiFramer, EndCharacter) {
  AsciiFramer framer;
  EXPECT_EQ(framer.EndCharacter(), '\n');
  for (uint8_t refused : {uint8_t{0}, uint8_t{'\r'}, uint8_t{':'}}) {
    EXPECT_EQ(framer.SetEndCharacter(refused), 0);
    EXPECT_EQ(framer.EndCharacter(), '\n');
  }
  ASSERT_EQ(framer.SetEndCharacter('!'), 1);
  EXPECT_EQ(Parse(framer, Text(":010300000001FB\r\n")).status, StatusInvalidFrame);
  EXPECT_EQ(Parse(framer, Text(":010300000001FB\r!")).status, StatusOk);
  EXPECT_EQ(Build(framer, 1, 0, 3, {0, 0, 0, 1}), Text(":010300000001FB\r!"));
}

TEST(MbapFramer, BuildsAndParsesAtTheLimits) {
  MbapFramer framer;
  EXPECT_EQ(Mbap(258, 9, 3, {0, 1, 0, 2}), (Bytes{1, 2, 0, 0, 0, 6, 9, 3, 0, 1, 0, 2}));
  ExpectRoundTripAtLimits(framer, 255, 0xFFFF, 0xFFFF, 4, {{0, 8}, {252, 260}, {253, 0}});
  uint8_t small[11];
  EXPECT_EQ(framer.BuildAdu(AduHeader{}, MakePdu(3, {0, 0, 0, 1}), small, sizeof small), 0);
  EXPECT_EQ(framer.Kind(), FramingKind::kMbap);
  EXPECT_EQ(framer.MinAduLength(), 8u);
}

TEST(MbapFramer, RejectsInconsistentHeaders) {
  MbapFramer framer;
  Bytes oversize = Concat(Mbap(1, 1, 16, Range(252)), {0});
  oversize[5] = 255;
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t status;
  } cases[] = {
      {"L=2, 8 bytes", {0, 7, 0, 0, 0, 2, 1, 3}, StatusOk},
      {"L=3, 8 bytes", {0, 7, 0, 0, 0, 3, 1, 3}, StatusInvalidLength},
      {"L=1", {0, 7, 0, 0, 0, 1, 1, 3}, StatusInvalidLength},
      {"L=0", {0, 7, 0, 0, 0, 0, 1, 3}, StatusInvalidLength},
      {"L=2, 9 bytes", {0, 7, 0, 0, 0, 2, 1, 3, 0}, StatusInvalidLength},
      {"7 bytes", {0, 7, 0, 0, 0, 1, 1}, StatusInvalidLength},
      {"261 bytes", oversize, StatusInvalidLength},
      {"protocol 1", {0, 7, 0, 1, 0, 2, 1, 3}, StatusInvalidFrame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p = Parse(framer, c.bytes);
    EXPECT_EQ(p.status, c.status);
    // The transaction id is known once the length is plausible.
    if (c.bytes.size() >= 8 && c.bytes.size() <= 260) {
      EXPECT_EQ(p.header.transactionId, 7);
    }
  }
}

}  // namespace

// The traffic log's portable half: what the decoder says of each kind of
// frame, the store's cap and dropped count in bounded memory, and the row
// texts the window shows, copies and saves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/plugin_interface.h"
#include "modbus/traffic_decode.h"
#include "shell/traffic_rows.h"
#include "shell/traffic_store.h"

namespace {

std::vector<uint8_t> Ascii(const char* text) { return std::vector<uint8_t>(text, text + std::char_traits<char>::length(text)); }

std::u16string Describe(uint8_t framing, bool request, const std::vector<uint8_t>& bytes,
                        const TrafficRequestInfo* asked = nullptr) {
  TextBuffer out;
  EXPECT_EQ(DescribeTraffic(framing, request, bytes.data(), static_cast<uint32_t>(bytes.size()), asked, out), 1);
  return out.Text();
}

TEST(TrafficDecode, NamesEveryKindOfFrame) {
  std::vector<uint8_t> registers = {0x01, 0x03, 0x14};
  registers.resize(3 + 20);
  registers.push_back(0xAA);  // CRC bytes: the decoder never checks them
  registers.push_back(0xBB);
  TrafficRequestInfo tenCoils;
  tenCoils.function = 1;
  tenCoils.quantity = 10;
  const struct {
    uint8_t framing;
    bool request;
    std::vector<uint8_t> bytes;
    const TrafficRequestInfo* asked;
    std::u16string expected;
  } cases[] = {
      {kTrafficRtu, true, {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}, nullptr,
       u"Read Holding Registers, unit 1, address 0, 10 registers"},
      {kTrafficRtu, false, registers, nullptr, u"answer: 10 registers"},
      {kTrafficRtu, false, {0x01, 0x83, 0x02, 0xC0, 0xF1}, nullptr, u"Exception 02 - Illegal data address"},
      {kTrafficMbap, true, {0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x11, 0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01},
       nullptr, u"Write Multiple Coils, unit 17, address 19, 10 coils"},
      {kTrafficMbap, false, {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x11, 0x0F, 0x00, 0x13, 0x00, 0x0A}, nullptr,
       u"answer: written, address 19, 10 coils"},
      {kTrafficAscii, true, Ascii(":0106000504D21E\r\n"), nullptr, u"Write Single Register, unit 1, address 5, value 1234"},
      {kTrafficAscii, false, Ascii(":01840B70\r\n"), nullptr, u"Exception 11 - Gateway target failed"},
      {kTrafficRtu, true, {0x07, 0x05, 0x00, 0x03, 0xFF, 0x00, 0x00, 0x00}, nullptr,
       u"Write Single Coil, unit 7, address 3, ON"},
      {kTrafficRtu, true, {0x01, 0x02, 0x00, 0x10, 0x00, 0x01, 0x00, 0x00}, nullptr,
       u"Read Discrete Inputs, unit 1, address 16, 1 input"},
      {kTrafficRtu, false, {0x01, 0x01, 0x02, 0xFF, 0x03, 0x00, 0x00}, &tenCoils, u"answer: 10 coils"},
      {kTrafficRtu, false, {0x01, 0x01, 0x02, 0xFF, 0x03, 0x00, 0x00}, nullptr, u"answer: 2 bytes of coils"},
      {kTrafficRtu, true, {0x01, 0x08, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00}, nullptr,
       u"Diagnostics, unit 1, sub-function 0"},
      {kTrafficMbap, true, {0x00, 0x02, 0x00, 0x00, 0x00, 0x05, 0x01, 0x2B, 0x0E, 0x01, 0x00}, nullptr,
       u"Encapsulated Interface Transport, unit 1"},
      {kTrafficRtu, true, {0x01, 0x63, 0x00, 0x00}, nullptr, u"Function 99, unit 1"},
      {kTrafficRtu, true, {0x01, 0x03}, nullptr, u"no Modbus frame"},
      {kTrafficAscii, true, Ascii("0103"), nullptr, u"no Modbus frame"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Describe(c.framing, c.request, c.bytes, c.asked), c.expected);
  }
  TextBuffer wire;
  const std::vector<uint8_t> ascii = Ascii(":01840B70\r\n");
  ASSERT_EQ(AppendTrafficBytes(kTrafficAscii, ascii.data(), static_cast<uint32_t>(ascii.size()), wire), 1);
  EXPECT_EQ(std::u16string(wire.Text()), u":01840B70<CR><LF>");
}

TrafficFrame Frame(uint32_t tick, uint8_t direction, const std::vector<uint8_t>& bytes, const Unit* text = nullptr,
                   uint8_t framing = kTrafficRtu) {
  TrafficFrame frame = {};
  frame.size = kTrafficFrameSize;
  frame.tick = tick;
  frame.direction = direction;
  frame.framing = framing;
  frame.role = kTrafficMaster;
  frame.failure = text ? 1 : 0;
  frame.bytes = bytes.data();
  frame.length = static_cast<uint32_t>(bytes.size());
  frame.text = text;
  return frame;
}

// More frames than the cap, and long frames that fill every chunk: the
// oldest rows leave, each counted, and memory stays within the bound.
TEST(TrafficStore, KeepsTheLatestRowsWithinBoundedMemory) {
  TrafficStore store;
  const std::vector<uint8_t> request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  const uint64_t total = kTrafficRowCap + 2345;
  uint64_t wakes = 0;
  for (uint64_t i = 0; i < total; ++i) {
    if (store.Add(Frame(static_cast<uint32_t>(i), kTrafficTx, request))) ++wakes;
    if (i % 1000 == 999) store.Woken();  // the reader reads now and then: one wake per batch
  }
  EXPECT_EQ(wakes, total / 1000 + 1);
  EXPECT_EQ(store.Next(), total);
  EXPECT_EQ(store.First(), 2345u);
  EXPECT_EQ(store.Dropped(), 2345u);
  TrafficRow row;
  EXPECT_FALSE(store.Read(2344, &row));
  ASSERT_TRUE(store.Read(2345, &row));
  EXPECT_EQ(row.tick, 2345u);
  EXPECT_EQ(std::vector<uint8_t>(row.bytes, row.bytes + row.length), request);
  // Going round the records four times more: the chunks taken are the 13
  // that 100,000 short rows need and a spare or two, not every chunk.
  for (uint64_t i = 0; i < 4 * kTrafficRowCap; ++i) store.Add(Frame(static_cast<uint32_t>(i), kTrafficTx, request));
  EXPECT_LE(store.MemoryBytes(), 24u * kTrafficRowCap + 15u * kTrafficChunkBytes);
  ASSERT_TRUE(store.Read(store.First(), &row));
  EXPECT_EQ(std::vector<uint8_t>(row.bytes, row.bytes + row.length), request);

  // Frames of the largest ASCII size need more than every chunk holds.
  const std::vector<uint8_t> large(513, 0x3A);
  const uint64_t before = store.Next();
  for (uint32_t i = 0; i < 40000; ++i) store.Add(Frame(i, kTrafficRx, large, nullptr, kTrafficAscii));
  const uint64_t held = store.Next() - store.First();
  EXPECT_LT(held, 40000u);
  EXPECT_GT(held, 30000u);
  EXPECT_EQ(store.Dropped(), 2345u + (before - 2345u) + (40000u - held));
  ASSERT_TRUE(store.Read(store.Next() - 1, &row));
  EXPECT_EQ(row.length, 513u);
  EXPECT_LE(store.MemoryBytes(), uint64_t{kTrafficChunkCount} * kTrafficChunkBytes + 24u * kTrafficRowCap);

  store.Clear();
  EXPECT_EQ(store.First(), store.Next());
  EXPECT_EQ(store.Dropped(), 0u);
}

// A master's exchange as the window shows, copies and saves it: the time of
// day from the tick, the answer named through its request, a failure row,
// a slave's peer, tabs for the clipboard and quotes for CSV.
TEST(TrafficRows, LinesOfAnExchange) {
  TrafficStore store;
  TrafficClock clock;
  clock.baseTick = 1000;
  clock.baseMsOfDay = ((23 * 60 + 59) * 60 + 59) * 1000 + 250;  // 23:59:59.250
  const std::vector<uint8_t> request = {0x01, 0x01, 0x00, 0x13, 0x00, 0x0A, 0x00, 0x00};
  const std::vector<uint8_t> answer = {0x01, 0x01, 0x02, 0xCD, 0x01, 0x00, 0x00};
  store.Add(Frame(1500, kTrafficTx, request));
  store.Add(Frame(1505, kTrafficRx, answer));
  store.Add(Frame(2800, kTrafficRx, {}, u"Timeout"));
  TrafficFrame slave = Frame(2801, kTrafficRx, request);
  slave.role = kTrafficSlave;
  slave.peerAddress = 0x7F000001;
  slave.peerPort = 50123;
  store.Add(slave);

  const std::u16string expected[] = {
      u"23:59:59.750\tTX\t\t8\t01 01 00 13 00 0A 00 00\tRead Coils, unit 1, address 19, 10 coils\r\n",
      u"23:59:59.755\tRX\t\t7\t01 01 02 CD 01 00 00\tanswer: 10 coils\r\n",
      u"00:00:01.050\tRX\t\t\t\tTimeout\r\n",
      u"00:00:01.051\tRX\t127.0.0.1:50123\t8\t01 01 00 13 00 0A 00 00\tRead Coils, unit 1, address 19, 10 coils\r\n",
  };
  TrafficRow row;
  for (uint64_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(store.Read(i, &row));
    TextBuffer line;
    ASSERT_EQ(AppendTrafficLine(store, clock, row, false, line), 1);
    EXPECT_EQ(std::u16string(line.Text()), expected[i]) << i;
  }
  ASSERT_TRUE(store.Read(0, &row));
  TextBuffer csv;
  ASSERT_EQ(AppendTrafficHeader(true, csv), 1);
  ASSERT_EQ(AppendTrafficLine(store, clock, row, true, csv), 1);
  ASSERT_EQ(AppendDroppedLine(7, true, csv), 1);
  EXPECT_EQ(std::u16string(csv.Text()),
            u"Time,Dir,Peer,Length,Frame,Meaning\r\n"
            u"23:59:59.750,TX,,8,01 01 00 13 00 0A 00 00,\"Read Coils, unit 1, address 19, 10 coils\"\r\n"
            u",,,,,7 older rows dropped\r\n");
}

}  // namespace

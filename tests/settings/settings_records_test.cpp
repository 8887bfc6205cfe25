// Settings records: defaults, clamping, the consistency rule, every summary
// and its capacity rule, and the port list's filter and numeric sort.
#include "settings/settings_records.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/port_list.h"

namespace {

TEST(SettingsRecords, DefaultsAndClamping) {
  SerialSettings rtu{SerialFraming::Rtu};
  SerialSettings ascii{SerialFraming::Ascii};
  EXPECT_EQ(std::u16string(rtu.portName), u"COM1");
  EXPECT_EQ(rtu.dataBits, 8);
  EXPECT_EQ(ascii.dataBits, 7);
  EXPECT_EQ(rtu.baudRate, 19200u);
  EXPECT_EQ(rtu.parity, kParityEven);
  SerialLineSettings line = LineSettingsOf(ascii);
  EXPECT_EQ(line.portName, ascii.portName);
  EXPECT_EQ(line.dataBits, 7);

  const uint32_t timeouts[][2] = {{0, 50}, {20, 50}, {50, 50}, {1500, 1500}, {10000, 10000}, {99999, 10000},
                                  {4294967295u, 10000}};
  for (const auto& t : timeouts) EXPECT_EQ(ClampTimeoutMs(t[0]), t[1]) << t[0];
  const uint32_t ids[][2] = {{0, 1}, {1, 1}, {247, 247}, {248, 247}, {300, 247}, {4294967295u, 247}};
  for (const auto& t : ids) EXPECT_EQ(ClampSlaveId(t[0]), t[1]) << t[0];
  EXPECT_EQ(KnownHandshake(4), 4);
  EXPECT_EQ(KnownHandshake(5), 0);
  EXPECT_EQ(StopBitsForParity(kParityNone), kStopBitsTwo);
  EXPECT_EQ(StopBitsForParity(kParityOdd), kStopBitsOne);
  EXPECT_EQ(StopBitsForParity(kParityEven), kStopBitsOne);
}

TEST(SettingsRecords, Summaries) {
  SerialSettings serial{SerialFraming::Rtu};
  SerialSettings custom{SerialFraming::Ascii};
  CopyTextCut(u"COM12", custom.portName, kPortNameCapacity);
  custom.baudRate = 115200;
  custom.parity = kParityNone;
  custom.stopBits = kStopBitsTwo;
  custom.handshake = kHandshakeRtsToggle;
  custom.slaveId = 247;
  SerialSettings odd{SerialFraming::Rtu};
  odd.parity = kParityOdd;
  odd.handshake = 9;  // not offered: reads as none
  NetworkClientSettings client;
  NetworkClientSettings remote;
  remote.address = 0xC0A80A01u;
  remote.port = 65535;
  RtuOverIpServerSettings rtuServer;
  MbapServerSettings mbap;
  MbapServerSettings mbapOne;
  mbapOne.acceptAny = 0;
  mbapOne.bindAddress = 0xFFFFFFFFu;
  mbapOne.port = 65535;

  struct Case {
    const char* name;
    int (*line)(const void* record, Unit* buffer, uint32_t capacity);
    const void* record;
    uint32_t capacity;
    int result;
    const char16_t* text;
  };
  auto serialClient = [](const void* r, Unit* b, uint32_t c) {
    return SerialConnectionLine(*static_cast<const SerialSettings*>(r), SerialRole::Client, b, c);
  };
  auto serialServer = [](const void* r, Unit* b, uint32_t c) {
    return SerialConnectionLine(*static_cast<const SerialSettings*>(r), SerialRole::Server, b, c);
  };
  auto netClient = [](const void* r, Unit* b, uint32_t c) {
    return NetworkClientConnectionLine(*static_cast<const NetworkClientSettings*>(r), b, c);
  };
  auto rtuIp = [](const void* r, Unit* b, uint32_t c) {
    return RtuOverIpServerConnectionLine(*static_cast<const RtuOverIpServerSettings*>(r), b, c);
  };
  auto mbapLine = [](const void* r, Unit* b, uint32_t c) {
    return MbapServerConnectionLine(*static_cast<const MbapServerSettings*>(r), b, c);
  };
  const Case cases[] = {
      {"serial client", serialClient, &serial, 256, 1, u"COM1: 19200-8-E-1-None"},
      {"serial client, all changed", serialClient, &custom, 64, 1, u"COM12: 115200-7-N-2-RTS toggle"},
      {"serial client, odd", serialClient, &odd, 64, 1, u"COM1: 19200-8-O-1-None"},
      {"serial client too small", serialClient, &serial, 63, 0, u"<untouched>"},
      {"serial server", serialServer, &serial, 72, 1, u"COM1: 19200-8-E-1-None, ID: 1"},
      {"serial server, all changed", serialServer, &custom, 256, 1, u"COM12: 115200-7-N-2-RTS toggle, ID: 247"},
      {"serial server too small", serialServer, &serial, 71, 0, u"<untouched>"},
      {"network client", netClient, &client, 256, 1, u"127.0.0.1:502"},
      {"network client, longest", netClient, &remote, 256, 1, u"192.168.10.1:65535"},
      {"network client, exact", netClient, &client, 14, 1, u"127.0.0.1:502"},
      {"network client, cut", netClient, &client, 10, 0, u"127.0.0.1"},
      {"rtu-over-ip server", rtuIp, &rtuServer, 40, 1, u"0.0.0.0:502, Slave ID: 1"},
      {"rtu-over-ip server too small", rtuIp, &rtuServer, 39, 0, u"<untouched>"},
      {"mbap server", mbapLine, &mbap, 48, 1, u"0.0.0.0:502, any Unit ID"},
      {"mbap server, one unit", mbapLine, &mbapOne, 48, 1, u"255.255.255.255:65535, Unit ID: 255"},
      {"mbap server too small", mbapLine, &mbap, 47, 0, u"<untouched>"},
  };
  for (const Case& c : cases) {
    Unit buffer[256];
    CopyTextCut(u"<untouched>", buffer, 256);
    EXPECT_EQ(c.line(c.record, buffer, c.capacity), c.result) << c.name;
    EXPECT_EQ(std::u16string(buffer), c.text) << c.name;
  }
  EXPECT_EQ(SerialConnectionLine(serial, SerialRole::Client, nullptr, 64), 0);
  EXPECT_EQ(NetworkClientConnectionLine(client, nullptr, 64), 0);
}

TEST(PortList, FilterAndNumericSort) {
  struct Value {
    const char16_t* data;
    bool kept;
  };
  const Value values[] = {
      {u"COM10", true}, {u"COM2", true},   {u"com3", true},  {u"COMX1", false}, {u"COM", false},
      {u"COM1a", false}, {u"LPT1", false}, {u"cOm7", true},  {u" COM4", false}, {u"COM02", true},
      {u"", false},
  };
  PortList list;
  for (const Value& v : values) {
    std::u16string data = v.data;
    EXPECT_EQ(IsSerialPortName(data.c_str(), static_cast<uint32_t>(data.size())), v.kept) << "filter";
    AddPortName(list, data.c_str(), static_cast<uint32_t>(data.size()));
  }
  SortPortNames(list);
  const char16_t* sorted[] = {u"COM2", u"COM02", u"com3", u"cOm7", u"COM10"};  // equal numbers keep their order
  ASSERT_EQ(list.count, 5u);
  for (uint32_t i = 0; i < list.count; ++i) EXPECT_EQ(std::u16string(list.names[i]), sorted[i]);
  EXPECT_EQ(FindPortName(list, u"com3"), 2);
  EXPECT_EQ(FindPortName(list, u"COM3"), -1);  // exact comparison
  EXPECT_EQ(FindPortName(list, nullptr), -1);

  // Long names are cut to 31 characters; huge numbers sort last.
  PortList large;
  std::u16string longName = u"COM" + std::u16string(40, u'9');
  ASSERT_EQ(AddPortName(large, longName.c_str(), static_cast<uint32_t>(longName.size())), 1);
  ASSERT_EQ(AddPortName(large, u"COM1", 4), 1);
  SortPortNames(large);
  EXPECT_EQ(std::u16string(large.names[0]), u"COM1");
  EXPECT_EQ(std::u16string(large.names[1]), longName.substr(0, 31));

  // At most 256 names.
  PortList full;
  for (int i = 0; i < 300; ++i) {
    std::u16string name = u"COM" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
    AddPortName(full, name.c_str(), 4);
  }
  EXPECT_EQ(full.count, kMaxPorts);
}

}  // namespace

#include "server/device_map.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The map is half a megabyte: keep it off the test thread's stack.
std::unique_ptr<DeviceMap> NewMap() { return std::make_unique<DeviceMap>(); }

std::u16string AliasOf(DeviceMap& map, uint8_t area, uint16_t address, int32_t capacity = 64) {
  std::u16string buffer(static_cast<size_t>(capacity > 0 ? capacity : 1), u'#');
  map.GetAlias(area, address, buffer.data(), capacity);
  return std::u16string(buffer.c_str());
}

TEST(DeviceMap, FreshMapIsAllZeroWithoutAliases) {
  auto map = NewMap();
  map->LockMap();
  uint32_t nonzero = 0;
  for (uint32_t area = 0; area < kAreaCount; ++area) {
    for (uint32_t address = 0; address < kCellsPerArea; ++address) {
      if (map->Cell(static_cast<uint8_t>(area), static_cast<uint16_t>(address))) ++nonzero;
    }
  }
  EXPECT_EQ(map->AliasCount(), 0u);
  map->UnlockMap();
  EXPECT_EQ(nonzero, 0u);
  EXPECT_EQ(AliasOf(*map, kAreaHoldingRegisters, 65535), u"");
}

TEST(DeviceMap, WriteCellFromUserKeepsBitsAtZeroOrOne) {
  struct Case {
    uint8_t area;
    int32_t value;
    uint16_t stored;
  };
  const Case cases[] = {
      {kAreaCoils, 5, 1},
      {kAreaCoils, 0, 0},
      {kAreaCoils, 0x10000, 0},  // low 16 bits are zero
      {kAreaCoils, -1, 1},
      {kAreaDiscreteInputs, 0x8000, 1},
      {kAreaDiscreteInputs, 0x30000, 0},
      {kAreaInputRegisters, 0x12345, 0x2345},
      {kAreaHoldingRegisters, -1, 65535},
      {kAreaHoldingRegisters, -32768, 0x8000},
      {kAreaHoldingRegisters, 65535, 65535},
  };
  auto map = NewMap();
  for (const Case& c : cases) {
    map->WriteCellFromUser(c.area, 65535, 7);  // something else first
    map->WriteCellFromUser(c.area, 65535, c.value);
    EXPECT_EQ(map->ReadCellLocked(c.area, 65535), c.stored) << int(c.area) << " " << c.value;
  }
}

TEST(DeviceMap, AreasAreSeparateTables) {
  auto map = NewMap();
  for (uint8_t area = 0; area < kAreaCount; ++area) map->WriteCellFromUser(area, 100, area + 1);
  EXPECT_EQ(map->ReadCellLocked(kAreaCoils, 100), 1);
  EXPECT_EQ(map->ReadCellLocked(kAreaDiscreteInputs, 100), 1);
  EXPECT_EQ(map->ReadCellLocked(kAreaInputRegisters, 100), 3);
  EXPECT_EQ(map->ReadCellLocked(kAreaHoldingRegisters, 100), 4);
  EXPECT_EQ(map->ReadCellLocked(kAreaHoldingRegisters, 99), 0);
  EXPECT_EQ(map->ReadCellLocked(kAreaHoldingRegisters, 101), 0);
  // An area outside 0 to 3 touches nothing.
  map->WriteCellFromUser(4, 0, 9);
  EXPECT_EQ(map->ReadCellLocked(4, 0), 0);
  EXPECT_EQ(map->ReadCellLocked(kAreaCoils, 0), 0);
}

TEST(DeviceMap, AliasIsCutToThirtyOneUnits) {
  auto map = NewMap();
  std::u16string forty(40, u'a');
  for (int i = 0; i < 40; ++i) forty[static_cast<size_t>(i)] = static_cast<char16_t>(u'A' + i % 26);
  map->SetAlias(kAreaCoils, 3, forty.c_str());
  EXPECT_EQ(AliasOf(*map, kAreaCoils, 3), forty.substr(0, 31));
  // A short buffer gets capacity - 1 units and the NUL.
  EXPECT_EQ(AliasOf(*map, kAreaCoils, 3, 5), forty.substr(0, 4));
  EXPECT_EQ(AliasOf(*map, kAreaCoils, 3, 1), u"");
  // Same address, other area: no alias.
  EXPECT_EQ(AliasOf(*map, kAreaDiscreteInputs, 3), u"");
}

TEST(DeviceMap, GetAliasIgnoresNullBufferAndZeroCapacity) {
  auto map = NewMap();
  map->SetAlias(kAreaCoils, 1, u"pump");
  map->GetAlias(kAreaCoils, 1, nullptr, 10);
  Unit untouched[2] = {u'x', u'y'};
  map->GetAlias(kAreaCoils, 1, untouched, 0);
  EXPECT_EQ(untouched[0], u'x');
}

// The alias list after a sequence of SetAlias calls, in insertion order.
std::u16string Listing(DeviceMap& map) {
  std::u16string out;
  map.LockMap();
  for (uint32_t i = 0; i < map.AliasCount(); ++i) {
    const AliasEntry& e = map.AliasAt(i);
    out += static_cast<char16_t>(u'0' + e.area);
    out += u':';
    out += std::u16string(e.text);
    out += u';';
  }
  map.UnlockMap();
  return out;
}

TEST(DeviceMap, SetAliasSequences) {
  struct Step {
    uint8_t area;
    uint16_t address;
    const char16_t* text;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    const char16_t* listing;
  };
  const Case cases[] = {
      {"empty alias on a bare cell changes nothing", {{0, 1, u"a"}, {3, 9, u""}, {3, 9, nullptr}}, u"0:a;"},
      {"removal keeps the order of the others",
       {{0, 1, u"a"}, {1, 1, u"b"}, {2, 1, u"c"}, {3, 1, u"d"}, {1, 1, u""}},
       u"0:a;2:c;3:d;"},
      {"null removes as empty does", {{0, 1, u"a"}, {0, 2, u"b"}, {0, 1, nullptr}}, u"0:b;"},
      {"second text replaces in place", {{0, 1, u"a"}, {3, 7, u"b"}, {0, 1, u"again"}}, u"0:again;3:b;"},
      {"removed and re-added goes last", {{0, 1, u"a"}, {0, 2, u"b"}, {0, 1, u""}, {0, 1, u"a"}}, u"0:b;0:a;"},
  };
  for (const Case& c : cases) {
    auto map = NewMap();
    for (const Step& s : c.steps) map->SetAlias(s.area, s.address, s.text);
    EXPECT_EQ(Listing(*map), std::u16string(c.listing)) << c.name;
  }
}

TEST(DeviceMap, ManyAliasesGrowAndStayFindable) {
  auto map = NewMap();
  const int count = 1000;
  for (int i = 0; i < count; ++i) {
    std::u16string text = u"r" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
    map->SetAlias(static_cast<uint8_t>(i % 4), static_cast<uint16_t>(i * 7), text.c_str());
  }
  map->LockMap();
  EXPECT_EQ(map->AliasCount(), static_cast<uint32_t>(count));
  map->UnlockMap();
  for (int i = 0; i < count; i += 97) {
    std::u16string expected = u"r" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
    EXPECT_EQ(AliasOf(*map, static_cast<uint8_t>(i % 4), static_cast<uint16_t>(i * 7)), expected);
  }
  for (int i = 0; i < count; i += 2) map->SetAlias(static_cast<uint8_t>(i % 4), static_cast<uint16_t>(i * 7), u"");
  map->LockMap();
  EXPECT_EQ(map->AliasCount(), static_cast<uint32_t>(count / 2));
  EXPECT_EQ(map->AliasAt(0).address, 7);
  map->UnlockMap();
}

}  // namespace

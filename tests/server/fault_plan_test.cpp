// The fault-injecting slaves' answer path over the scripted transport: which
// fault falls due on which request, what goes out for each fault on RTU and
// MBAP, what the RX line says, and that writes are carried out unless an
// exception refuses them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/fault_serve.h"
#include "serve_rig.h"

namespace {

using Kind = FaultKind;

FaultSettings Rates(std::initializer_list<std::pair<Kind, uint16_t>> rates) {
  FaultSettings settings;
  settings.delayMs = 20;
  settings.exceptionCode = 6;
  for (const auto& rate : rates) settings.every[static_cast<int>(rate.first) - 1] = rate.second;
  return settings;
}

struct DueCase {
  const char* name;
  FaultSettings settings;
  bool tcp;
  std::vector<Kind> expected;  // requests 1, 2, 3, ...
};

TEST(FaultPlan, DueFaultsAndPrecedence) {
  const Kind n = Kind::kNone;
  const DueCase cases[] = {
      {"all off", Rates({}), true, {n, n, n, n}},
      {"every request", Rates({{Kind::kSplit, 1}}), false, {Kind::kSplit, Kind::kSplit, Kind::kSplit}},
      {"every 2nd drop", Rates({{Kind::kDrop, 2}}), true, {n, Kind::kDrop, n, Kind::kDrop}},
      {"first in the list wins", Rates({{Kind::kLate, 2}, {Kind::kDrop, 4}, {Kind::kClose, 1}}), true,
       {Kind::kClose, Kind::kLate, Kind::kClose, Kind::kDrop, Kind::kClose, Kind::kLate}},
      {"exception before damage", Rates({{Kind::kDamage, 2}, {Kind::kException, 3}}), false,
       {n, Kind::kDamage, Kind::kException, Kind::kDamage, n, Kind::kException}},
      {"close only on TCP", Rates({{Kind::kClose, 1}, {Kind::kOtherUnit, 2}}), false, {n, Kind::kOtherUnit, n}},
  };
  for (const DueCase& c : cases) {
    FaultPlan plan;
    plan.settings = c.settings;
    plan.tcp = c.tcp;
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(c.expected[i], NextFault(&plan)) << c.name << " #" << i + 1;
  }
}

TEST(FaultPlan, ClampsAndSplitPoints) {
  FaultSettings wild;
  wild.delayMs = 60000;
  wild.exceptionCode = 5;
  const FaultSettings clamped = ClampFaultSettings(wild);
  EXPECT_EQ(kFaultMaxDelayMs, clamped.delayMs);
  EXPECT_EQ(4, clamped.exceptionCode);
  EXPECT_FALSE(AnyFaultOn(clamped));
  EXPECT_EQ(1u, SplitPoint(2));
  EXPECT_EQ(6u, SplitPoint(13));
}

struct SentCase {
  Kind kind;
  bool mbap;
  std::vector<std::string> frames;  // hex of what goes out
};

// Read two holding registers (0x1234, 0x5678) from unit 1, transaction 0x0102.
const char kReadPdu[] = "03 00 00 00 02";
const char kAnswerPdu[] = "03 04 12 34 56 78";

std::string HexOf(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::vector<SentCase> SentCases() {
  const Bytes rtu = RtuAdu(1, Hex(kAnswerPdu));
  Bytes rtuDamaged = rtu;
  rtuDamaged[rtu.size() - 2] ^= 0xFF;
  rtuDamaged[rtu.size() - 1] ^= 0xFF;
  const Bytes mbap = MbapAdu(0x0102, 1, Hex(kAnswerPdu));
  const Bytes split = rtu;
  const auto head = [](const Bytes& b) { return HexOf(Bytes(b.begin(), b.begin() + static_cast<long>(b.size() / 2))); };
  const auto tail = [](const Bytes& b) { return HexOf(Bytes(b.begin() + static_cast<long>(b.size() / 2), b.end())); };
  return {
      {Kind::kNone, false, {HexOf(rtu)}},
      {Kind::kDrop, false, {}},
      {Kind::kLate, false, {HexOf(rtu)}},
      {Kind::kException, false, {HexOf(RtuAdu(1, Hex("83 06")))}},
      {Kind::kDamage, false, {HexOf(rtuDamaged)}},
      {Kind::kOtherUnit, false, {HexOf(RtuAdu(2, Hex(kAnswerPdu)))}},
      {Kind::kSplit, false, {head(split), tail(split)}},
      {Kind::kNone, true, {HexOf(mbap)}},
      {Kind::kDrop, true, {}},
      {Kind::kException, true, {HexOf(MbapAdu(0x0102, 1, Hex("83 06")))}},
      {Kind::kDamage, true, {HexOf(MbapAdu(0x8102, 1, Hex(kAnswerPdu)))}},
      {Kind::kOtherUnit, true, {HexOf(MbapAdu(0x0102, 2, Hex(kAnswerPdu)))}},
      {Kind::kSplit, true, {head(mbap), tail(mbap)}},
      {Kind::kClose, true, {}},
  };
}

struct Reported {
  std::vector<std::u16string> lines;
  std::vector<Bytes> shown;  // the TX monitor's frames
};

void OnReport(void* context, const Unit* text) { static_cast<Reported*>(context)->lines.push_back(text); }
// The rig's receive monitor owns the link's monitor context.
Reported* g_transmitted = nullptr;
void OnTransmit(void*, const uint8_t* bytes, uint32_t length) {
  g_transmitted->shown.push_back(Bytes(bytes, bytes + length));
}

TEST(FaultServe, WhatGoesOutForEachFault) {
  for (const SentCase& c : SentCases()) {
    SCOPED_TRACE(std::string(c.mbap ? "MBAP " : "RTU ") + std::to_string(static_cast<int>(c.kind)));
    ServeRig rig(c.mbap ? Framing::kMbapStream : Framing::kRtuFrame);
    rig.map->WriteCellFromUser(kAreaHoldingRegisters, 0, 0x1234);
    rig.map->WriteCellFromUser(kAreaHoldingRegisters, 1, 0x5678);
    Reported reported;
    rig.link->transmitMonitor = &OnTransmit;
    g_transmitted = &reported;
    FaultServe fault;
    FaultServeInit(&fault, &OnReport, &reported);
    FaultSettings settings = Rates({});
    if (c.kind != Kind::kNone) settings.every[static_cast<int>(c.kind) - 1] = 1;
    FaultServeRestart(&fault, settings, c.mbap, 5);
    rig.session.hook = &fault.hook;

    const Bytes request = c.mbap ? MbapAdu(0x0102, 1, Hex(kReadPdu)) : RtuAdu(1, Hex(kReadPdu));
    const ServeResult result = rig.Serve(request);
    std::vector<std::string> sent;
    for (const Bytes& frame : result.frames) sent.push_back(HexOf(frame));
    EXPECT_EQ(c.frames, sent);
    // The TX line shows the whole frame once, as it went out.
    if (!c.frames.empty()) {
      ASSERT_EQ(1u, reported.shown.size());
      std::string whole;
      for (const std::string& part : c.frames) whole += (whole.empty() ? "" : " ") + part;
      EXPECT_EQ(whole, HexOf(reported.shown[0]));
    }
    EXPECT_EQ(c.kind == Kind::kNone ? 0u : 1u, FaultsInjected(&fault));
    EXPECT_EQ(c.kind == Kind::kClose ? 1 : 0, rig.transport.resets);
    if (c.kind != Kind::kNone) {
      ASSERT_EQ(1u, reported.lines.size());
      std::string hex = HexOf(request);
      std::u16string expected = u"RX: ";
      for (char ch : hex) expected += static_cast<char16_t>(ch);
      expected += u" \u2014 ";
      expected += FaultName(c.kind);
      EXPECT_EQ(expected, reported.lines[0]);
    }
  }
}

TEST(FaultServe, WritesCarriedOutUnlessRefused) {
  struct Case {
    Kind kind;
    uint16_t after;  // holding register 5 after "write 0x00AA to it"
  } const cases[] = {{Kind::kDrop, 0xAA}, {Kind::kDamage, 0xAA}, {Kind::kException, 0}, {Kind::kClose, 0xAA}};
  for (const Case& c : cases) {
    ServeRig rig(Framing::kMbapStream);
    FaultServe fault;
    FaultServeInit(&fault, nullptr, nullptr);
    FaultSettings settings = Rates({});
    settings.every[static_cast<int>(c.kind) - 1] = 1;
    FaultServeRestart(&fault, settings, true, 5);
    rig.session.hook = &fault.hook;
    rig.Serve(MbapAdu(7, 1, Hex("06 00 05 00 AA")));
    EXPECT_EQ(c.after, rig.map->ReadCellLocked(kAreaHoldingRegisters, 5)) << static_cast<int>(c.kind);
  }
  // An RTU broadcast is carried out and never answered, fault or not, and
  // does not count as a request.
  ServeRig rig(Framing::kRtuFrame);
  FaultServe fault;
  FaultServeInit(&fault, nullptr, nullptr);
  FaultServeRestart(&fault, Rates({{Kind::kOtherUnit, 1}}), false, 5);
  rig.session.hook = &fault.hook;
  EXPECT_TRUE(rig.Serve(RtuAdu(0, Hex("06 00 05 00 BB"))).frames.empty());
  EXPECT_EQ(0xBB, rig.map->ReadCellLocked(kAreaHoldingRegisters, 5));
  EXPECT_EQ(0u, fault.plan.requests);
  EXPECT_EQ(0u, FaultsInjected(&fault));
}

}  // namespace

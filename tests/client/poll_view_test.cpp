// The client framework without threads: the rules of a poll definition,
// the poll view as the shell sees it through its commands and events, and
// the polling loop pass by pass on the controllable clock against a
// simulated device.
#include <gtest/gtest.h>

#include "client_harness.h"
#include "support/fake_clock.h"
#include "view/value_format.h"

namespace {

std::u16string U(const char* text) { return std::u16string(text, text + strlen(text)); }

// --- rules of one poll ----------------------------------------------------------

TEST(PollRules, FieldsAreClampedAfterEveryChange) {
  struct Case {
    const char* name;
    FramingKind kind;
    uint32_t function;
    uint32_t start;  // set first, as typed text
    uint32_t field;
    const char16_t* text;
    uint32_t unit, address, quantity, period;
  } cases[] = {
      {"quantity 2000 at 65000 for function 1", FramingKind::kRtu, 1, 65000, 2, u"2000", 1, 65000, 536, 3000},
      {"unit 0 for a read on RTU", FramingKind::kRtu, 3, 0, 0, u"0", 1, 0, 2, 3000},
      {"unit 0 for a read on MBAP", FramingKind::kMbap, 3, 0, 0, u"0", 0, 0, 2, 3000},
      {"unit 0 for a write on RTU: broadcast", FramingKind::kRtu, 6, 0, 0, u"0", 0, 0, 1, 3000},
      {"unit 300 on ASCII", FramingKind::kAscii, 3, 0, 0, u"300", 247, 0, 2, 3000},
      {"unit 300 on MBAP", FramingKind::kMbap, 3, 0, 0, u"300", 255, 0, 2, 3000},
      {"start 12abc", FramingKind::kRtu, 3, 0, 1, u"12abc", 1, 12, 2, 3000},
      {"start abc", FramingKind::kRtu, 3, 0, 1, u"abc", 1, 0, 2, 3000},
      {"start of eleven nines", FramingKind::kRtu, 3, 0, 1, u"99999999999", 1, 65535, 1, 3000},
      {"empty start", FramingKind::kRtu, 3, 0, 1, u"", 1, 0, 2, 3000},
      {"quantity 0", FramingKind::kRtu, 3, 0, 2, u"0", 1, 0, 1, 3000},
      {"quantity 126 for function 4", FramingKind::kRtu, 4, 0, 2, u"126", 1, 0, 125, 3000},
      {"quantity 200 at 65500 for function 16", FramingKind::kRtu, 16, 65500, 2, u"200", 1, 65500, 36, 3000},
      {"quantity 2000 for function 15", FramingKind::kRtu, 15, 0, 2, u"2000", 1, 0, 1968, 3000},
      {"field 2 of function 5 is the period", FramingKind::kRtu, 5, 0, 2, u"500", 1, 0, 1, 500},
      {"period 0", FramingKind::kRtu, 3, 0, 3, u"0", 1, 0, 2, 1},
      {"period 20000", FramingKind::kRtu, 3, 0, 3, u"20000 ms", 1, 0, 2, 10000},
      {"field 4 does nothing", FramingKind::kRtu, 3, 0, 4, u"7", 1, 0, 2, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PollList list(c.kind);
    list.Lock();
    PollDefinition* poll = list.Add();
    SetPollFunction(poll, c.function);
    std::u16string start = U(std::to_string(c.start).c_str());
    SetPollField(poll, 1, start.c_str());
    SetPollField(poll, c.field, c.text);
    EXPECT_EQ(poll->unitId, c.unit);
    EXPECT_EQ(poll->startAddress, c.address);
    EXPECT_EQ(poll->quantity, c.quantity);
    EXPECT_EQ(poll->pollPeriod, c.period);
    list.Unlock();
  }
}

// The values stand for the request the poll makes only after a good read
// of that request: a new poll, another unit, start, quantity or read
// function, a failed exchange and an answer to the request made before a
// change leave them old; the period does not change what is read, and a
// write poll shows what it will write.
TEST(PollRules, ValuesAreCurrentOnlyAfterAGoodReadOfTheRequestMade) {
  enum Step { kRead, kReadBeforeChange, kFail, kField, kFunction };
  struct Case {
    const char* name;
    Step step;
    uint32_t number;  // field index or function
    const char16_t* text;
    bool current;
  } steps[] = {
      {"good read", kRead, 0, nullptr, true},
      {"period", kField, 3, u"500", true},
      {"start", kField, 1, u"200", false},
      {"answer to the request before the start changed", kReadBeforeChange, 0, nullptr, false},
      {"good read at the new start", kRead, 0, nullptr, true},
      {"the same start typed again", kField, 1, u"200", true},
      {"exception or time-out", kFail, 0, nullptr, false},
      {"good read again", kRead, 0, nullptr, true},
      {"unit", kField, 0, u"7", false},
      {"good read of the new unit", kRead, 0, nullptr, true},
      {"quantity", kField, 2, u"5", false},
      {"good read of five", kRead, 0, nullptr, true},
      {"read function", kFunction, 4, nullptr, false},
      {"write function", kFunction, 16, nullptr, true},
      {"failed write", kFail, 0, nullptr, true},
      {"back to a read", kFunction, 3, nullptr, false},
  };
  PollList list(FramingKind::kRtu);
  list.Lock();
  PollDefinition* poll = list.Add();
  EXPECT_FALSE(PollValuesCurrent(*poll)) << "a new poll has read nothing";
  ClientRequest before;
  BuildPollRequest(*poll, &before);
  for (const Case& c : steps) {
    SCOPED_TRACE(c.name);
    ClientRequest request;
    BuildPollRequest(*poll, &request);
    ClientResponse response;
    response.function = request.function;
    response.byteCount = static_cast<uint8_t>(2 * request.quantity);
    switch (c.step) {
      case kRead: ApplyPollResponse(poll, request, response); break;
      case kReadBeforeChange: EXPECT_FALSE(ApplyPollResponse(poll, before, response)); break;
      case kFail: MarkPollValuesOld(poll); break;
      case kField: SetPollField(poll, c.number, c.text); break;
      case kFunction: SetPollFunction(poll, c.number); break;
    }
    EXPECT_EQ(PollValuesCurrent(*poll), c.current);
    before = request;
  }
  list.Unlock();
}

TEST(PollRules, FunctionsAndRequests) {
  PollList list(FramingKind::kRtu);
  list.Lock();
  PollDefinition* poll = list.Add();
  EXPECT_EQ(std::u16string(poll->name), u"Poll 1");
  EXPECT_EQ(std::u16string(list.Add()->name), u"Poll 2");
  SetPollFunction(poll, 7);  // not supported: unchanged
  EXPECT_EQ(poll->function, 3);
  SetPollField(poll, 2, u"10");
  SetPollFunction(poll, 5);
  EXPECT_EQ(poll->quantity, 1u);
  SetPollFunction(poll, 3);  // the quantity stays cut
  EXPECT_EQ(poll->quantity, 1u);

  ClientRequest request;
  poll->values[0] = 1;
  SetPollFunction(poll, 5);
  BuildPollRequest(*poll, &request);
  EXPECT_EQ(request.quantity, 0xFF00);
  poll->values[0] = 0;
  BuildPollRequest(*poll, &request);
  EXPECT_EQ(request.quantity, 0x0000);

  SetPollFunction(poll, 15);
  SetPollField(poll, 2, u"10");
  const uint16_t coils[10] = {1, 0, 1, 1, 0, 0, 0, 1, 0, 1};
  for (int i = 0; i < 10; ++i) poll->values[i] = coils[i];
  BuildPollRequest(*poll, &request);
  EXPECT_EQ(request.byteCount, 2);
  EXPECT_EQ(request.data[0], 0x8D);
  EXPECT_EQ(request.data[1], 0x02);

  SetPollFunction(poll, 16);
  SetPollField(poll, 2, u"2");
  poll->values[0] = 0x1234;
  poll->values[1] = 0xABCD;
  BuildPollRequest(*poll, &request);
  EXPECT_EQ(request.byteCount, 4);
  EXPECT_EQ(Frame(request.data, request.data + 4), (Frame{0x12, 0x34, 0xAB, 0xCD}));

  SetPollField(poll, 0, u"0");
  EXPECT_TRUE(IsBroadcast(*poll));
  SetPollFunction(poll, 3);
  EXPECT_EQ(poll->unitId, 1u);
  list.Unlock();
}

// --- the view -------------------------------------------------------------------

TEST(PollView, NewInstanceShowsPollOneInEveryFraming) {
  struct Case {
    FramingKind kind;
    const char16_t* unitLabel;
    const char16_t* unit;
    int64_t unitLow, unitHigh;
    const char16_t* tx;
  } cases[] = {
      {FramingKind::kRtu, u"Slave ID:", u"1", 1, 247, u"TX: 01 03 00 00 00 02 C4 0B"},
      {FramingKind::kRtuStream, u"Slave ID:", u"1", 1, 247, u"TX: 01 03 00 00 00 02 C4 0B"},
      {FramingKind::kAscii, u"Slave ID:", u"1", 1, 247, u"TX: 3A 30 31 30 33 30 30 30 30 30 30 30 32 46 41 0D 0A"},
      {FramingKind::kMbap, u"Unit ID:", u"255", 0, 255, u"TX: 00 00 00 00 00 06 FF 03 00 00 00 02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    ClientHarness h(c.kind);
    ViewHost& v = *h.view;
    ASSERT_EQ(v.tabs.size(), 1u);
    EXPECT_EQ(v.tabs[0].title, u"Poll 1");
    EXPECT_EQ(v.choices.size(), 8u);
    EXPECT_EQ(v.choices[7].first, u"Fn 16 - Write Multiple Registers");
    EXPECT_EQ(v.selectedChoice, 3u);
    const char16_t* labels[4] = {c.unitLabel, u"Start address:", u"Quantity:", u"Poll every:"};
    const char16_t* texts[4] = {c.unit, u"0", u"2", u"3000"};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(v.labels[i], labels[i]);
      EXPECT_EQ(v.fieldTexts[i], texts[i]);
      EXPECT_TRUE(v.fieldShown[i]);
      EXPECT_EQ(v.formats[i].mode, kFieldUnsignedDecimal);
      EXPECT_EQ(v.formats[i].hasRange, 1u);
    }
    EXPECT_EQ(v.formats[0].min, c.unitLow);
    EXPECT_EQ(v.formats[0].max, c.unitHigh);
    EXPECT_EQ(v.formats[2].max, 125);
    EXPECT_EQ(v.formats[3].max, 10000);
    EXPECT_EQ(std::u16string(v.formats[3].suffix), u" ms");
    EXPECT_EQ(v.rows, 2u);
    EXPECT_EQ(v.columnTitles, (std::vector<std::u16string>{u"I/O no.", u"Value (dec)"}));
    EXPECT_EQ(v.Cell(0, 0), u"400001");
    EXPECT_EQ(v.Cell(1, 0), u"400002");
    EXPECT_EQ(v.Cell(1, 1), u"0");
    EXPECT_EQ(v.Cell(2, 0), u"<untouched>");
    EXPECT_EQ(v.Cell(0, 2), u"<untouched>");
    EXPECT_EQ(v.txLine, c.tx);
    EXPECT_EQ(v.rxLine, u"RX: -");
    EXPECT_EQ(v.addRemove, 1u);
  }
}

TEST(PollView, WritingFunctionsEditsAliasesAndFormats) {
  ClientHarness h(FramingKind::kRtu);
  ViewHost& v = *h.view;
  EXPECT_FALSE(v.EditCell(0, 1, u"7")) << "a read function's value is not editable";
  EXPECT_TRUE(v.EditCell(1, 0, u"Pump speed with a very long alias text"));
  EXPECT_EQ(v.Cell(1, 0), u"Pump speed with a very long ali");
  v.EditCell(1, 0, u"");
  EXPECT_EQ(v.Cell(1, 0), u"400002");

  v.ChooseFunction(5);
  EXPECT_EQ(v.labels[1], u"Address:");
  EXPECT_EQ(v.labels[2], u"Poll every:");
  EXPECT_EQ(v.fieldTexts[2], u"3000");
  EXPECT_FALSE(v.fieldShown[3]);
  EXPECT_EQ(v.formats[2].max, 10000);
  EXPECT_EQ(v.rows, 1u);
  EXPECT_EQ(v.Cell(0, 0), u"000001");
  EXPECT_TRUE(v.EditCell(0, 1, u"5"));
  EXPECT_EQ(v.Cell(0, 1), u"1");
  EXPECT_EQ(v.txLine, u"TX: 01 05 00 00 FF 00 8C 3A");

  v.ChooseFunction(6);
  EXPECT_TRUE(v.fieldShown[3] == false);
  EXPECT_EQ(v.Cell(0, 0), u"400001");
  v.EditCell(0, 1, u"70000");
  const char16_t* shown[] = {u"65535", u"-1", u"0xFFFF", u"1111 1111 1111 1111", u"65535"};
  const char16_t* titles[] = {u"Value (dec)", u"Value (sdec)", u"Value (hex)", u"Value (bin)", u"Value (dec)"};
  for (int click = 0; click < 5; ++click) {
    EXPECT_EQ(v.Cell(0, 1), shown[click]);
    EXPECT_EQ(v.columnTitles[1], titles[click]);
    if (click < 4) v.ClickColumn(1);
  }
  v.ClickColumn(0);  // the I/O column changes nothing
  EXPECT_EQ(v.columnTitles[1], u"Value (dec)");
  char16_t small[8];
  EXPECT_EQ(v.Event(ViewEventKind::GetCellEditor, kCellEditFromDoubleClick, v.SelectedKey(), nullptr, small, 8), 0);

  v.ChooseFunction(1);
  v.EditField(1, u"99");
  EXPECT_EQ(v.Cell(0, 0), u"000100");
  EXPECT_EQ(v.Cell(0, 1), u"65535") << "values survive function changes";
  v.ChooseFunction(2);
  EXPECT_EQ(v.Cell(0, 0), u"100100");
  v.ChooseFunction(4);
  EXPECT_EQ(v.Cell(0, 0), u"300100");
  v.ChooseFunction(15);
  v.EditField(2, u"3");
  EXPECT_TRUE(v.EditCell(2, 1, u"9"));
  EXPECT_EQ(v.Cell(2, 1), u"1");
}

TEST(PollView, TabsAddSelectAndRemove) {
  ClientHarness h(FramingKind::kMbap);
  ViewHost& v = *h.view;
  v.Add();
  ASSERT_EQ(v.tabs.size(), 2u);
  EXPECT_EQ(v.tabs[1].title, u"Poll 2");
  EXPECT_EQ(v.addRemove, 0x10001u);
  v.ChooseFunction(4);
  v.EditField(0, u"7");
  std::u16string secondTx = v.txLine;
  EXPECT_EQ(secondTx, u"TX: 00 00 00 00 00 06 07 04 00 00 00 02");
  v.rxLine = u"RX: kept";
  v.SelectTab(0);
  EXPECT_EQ(v.txLine, u"TX: 00 00 00 00 00 06 FF 03 00 00 00 02");
  EXPECT_EQ(v.rxLine, u"RX: kept") << "while disconnected the RX line keeps its text";
  EXPECT_EQ(v.selectedChoice, 3u);

  v.Event(ViewEventKind::TabSelected, 0, 0);  // key 0 is ignored
  v.Event(ViewEventKind::GetCellText, 0, 12345, nullptr, nullptr, 0);  // a foreign key is ignored
  v.Remove();
  ASSERT_EQ(v.tabs.size(), 1u);
  EXPECT_EQ(v.tabs[0].title, u"Poll 2");
  EXPECT_EQ(v.txLine, secondTx);
  EXPECT_EQ(v.addRemove, 1u);
  v.Remove();
  EXPECT_EQ(v.tabs.size(), 1u) << "the last poll stays";
  v.Add();
  EXPECT_EQ(v.tabs[1].title, u"Poll 3") << "numbers are never reused";

  v.Detach();
  v.Attach();
  ASSERT_EQ(v.tabs.size(), 1u);
  EXPECT_EQ(v.tabs[0].title, u"Poll 1") << "a new attachment starts again at 1";
}

// --- the loop, pass by pass -------------------------------------------------------

TEST(PollLoop, OnlyTheSelectedTabIsPolledAtItsPeriod) {
  FakeClock clock;
  ClientHarness h(FramingKind::kRtu);
  ViewHost& v = *h.view;
  SimDevice device(FramingKind::kRtu);
  v.EditField(3, u"1000");
  v.Add();
  v.EditField(3, u"200");
  v.EditField(1, u"100");
  v.SelectTab(0);
  ASSERT_TRUE(h.StartPasses(&device));
  h.RunFor(2500);
  EXPECT_EQ(device.RequestCount(), 3u) << "Poll 1 at 0, 1000 and 2000 ms";
  v.SelectTab(1);
  h.RunFor(1000);
  std::vector<Frame> requests = device.Requests();
  ASSERT_EQ(requests.size(), 3u + 5u) << "Poll 2 at once, then every 200 ms";
  for (size_t i = 0; i < requests.size(); ++i) EXPECT_EQ(requests[i][3], i < 3 ? 0 : 100) << i;
  v.Pump();
  EXPECT_EQ(v.txLine, HexLine(u"TX: ", requests.back()));
  EXPECT_EQ(v.rxLine, u"RX: 01 03 04 00 00 00 00 FA 33");
}

// The period runs from one poll's due time to the next, not from the moment
// the worker woke: Windows ends a wait late (up to a tick of its timer), and
// a cadence counted from the wake-up loses that every period. A device that
// answers within the period is polled once a period; one that takes longer
// is polled back to back. A short period catches up with waits that end a
// few milliseconds late, but a poll more than 16 ms late starts afresh:
// never a burst that catches up with a long gap.
TEST(PollLoop, TheCadenceDoesNotLoseLateWakeUps) {
  struct Case {
    const char16_t* period;
    uint32_t answerMs, lateMs;  // the transaction's time; how late each wait ends
    size_t polls;               // in one second
  } cases[] = {{u"10", 0, 0, 100}, {u"10", 3, 1, 100}, {u"10", 0, 5, 100}, {u"10", 25, 1, 40},
               {u"1", 0, 1, 999}, {u"100", 2, 15, 10}, {u"1", 0, 3, 997}, {u"1", 0, 20, 48}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.polls << " polls, answer " << c.answerMs << " ms, late " << c.lateMs
                                    << " ms");
    FakeClock clock;
    ClientHarness h(FramingKind::kRtu);
    SimDevice device(FramingKind::kRtu);
    h.view->EditField(3, c.period);
    ScriptedTransport* transport = device.NewTransport();
    transport->finishDelayMs = c.answerMs;
    ASSERT_TRUE(h.StartPasses(transport));
    const uint32_t end = FakeClock::Now() + 1000;
    while (TickBefore(FakeClock::Now(), end)) {
      uint32_t waitMs = 0;
      if (h.context()->worker.Pass(&waitMs) == kPassWait) FakeClock::Advance(waitMs + c.lateMs);
    }
    EXPECT_EQ(device.RequestCount(), c.polls);
  }
}

TEST(PollLoop, ResultsReachTheViewAndTheirTab) {
  FakeClock clock;
  ClientHarness h(FramingKind::kRtu, 500);
  ViewHost& v = *h.view;
  SimDevice device(FramingKind::kRtu);
  device.map.LockMap();
  device.map.SetCell(kAreaHoldingRegisters, 0, 0xFFFF);
  device.map.SetCell(kAreaHoldingRegisters, 1, 42);
  device.map.UnlockMap();
  v.EditField(3, u"100");
  ASSERT_TRUE(h.StartPasses(&device));
  h.RunFor(50);
  v.Pump();
  EXPECT_EQ(v.Cell(0, 1), u"65535");
  EXPECT_EQ(v.Cell(1, 1), u"42");
  EXPECT_EQ(v.Count(HostCommandKind::RefreshTable, true), 1u);
  h.RunFor(100);
  v.Pump();
  EXPECT_EQ(v.Count(HostCommandKind::RefreshTable, true), 1u) << "unchanged values are not refreshed";
  EXPECT_TRUE(v.CellCurrent(1, 1));

  // The read values stay, no longer current, until a read succeeds again.
  ExpectExceptionThenTimeout(device, v, 2, u"RX: Exception 02 - Illegal data address", [&] {
    h.RunFor(600);
    v.Pump();
    EXPECT_EQ(v.Cell(1, 1), u"42");
    EXPECT_FALSE(v.CellCurrent(1, 1));
  });

  // A second tab is polled; the first tab's stored status comes back with it.
  v.Add();
  h.RunFor(10);
  v.Pump();
  EXPECT_EQ(v.rxLine, u"RX: 01 03 04 FF FF 00 2A 7B C8");
  EXPECT_FALSE(v.rxError);
  // Hand the worker's view over as the shell does: the last RX shows only
  // while it runs.
  v.SelectTab(0);
  EXPECT_EQ(v.rxLine, u"RX: Timeout");
  EXPECT_TRUE(v.rxError);
}

TEST(PollLoop, ATabLeftDuringItsTransactionKeepsItsResultToItself) {
  FakeClock clock;
  ClientHarness h(FramingKind::kMbap);
  ViewHost& v = *h.view;
  SimDevice device(FramingKind::kMbap);
  v.Add();
  v.SelectTab(0);
  ASSERT_TRUE(h.StartPasses(&device));
  device.onRequest = [&] {
    device.onRequest = nullptr;
    v.SelectTab(1);  // the user picks the other tab while Poll 1 waits for its answer
  };
  uint32_t waitMs = 0;
  EXPECT_EQ(h.context()->worker.Pass(&waitMs), kPassExecuted);
  v.Pump();
  EXPECT_EQ(v.Count(HostCommandKind::ShowTxFrame, true), 1u);
  EXPECT_EQ(v.Count(HostCommandKind::ShowRxFrame, true), 0u) << "Poll 1's answer is not shown on Poll 2's tab";
  h.context()->polls.Lock();
  EXPECT_GT(h.Poll(0)->lastRxLength, 0u) << "but it is stored in Poll 1";
  h.context()->polls.Unlock();
  v.SelectTab(0);
  EXPECT_EQ(v.rxLine.substr(0, 16), u"RX: 00 00 00 00 ") << "and shown when Poll 1 is selected again";
}

TEST(PollLoop, BroadcastFloorAndReopen) {
  FakeClock clock;
  ClientHarness h(FramingKind::kRtu);
  ViewHost& v = *h.view;
  SimDevice device(FramingKind::kRtu);
  v.ChooseFunction(6);
  v.EditField(0, u"0");
  v.EditField(2, u"1");  // the period field of function 6
  ASSERT_TRUE(h.StartPasses(&device));
  h.RunFor(1000);
  size_t sent = device.RequestCount();
  EXPECT_GE(sent, 5u);
  EXPECT_LE(sent, 6u) << "a broadcast goes out at most every 200 ms";
  v.Pump();
  EXPECT_EQ(v.rxLine, u"RX: Broadcast - no response expected");
  EXPECT_FALSE(v.rxError);

  // The transport drops and cannot be opened again: the RX line says so,
  // and with a 1 ms period the reopen is still tried only about once a
  // second; once it opens, polling goes on.
  ScriptedTransport* transport = static_cast<ScriptedTransport*>(h.context()->worker.transport());
  transport->Close();
  transport->openResult = 0;
  v.EditField(0, u"1");
  const int opensBefore = transport->opens;
  h.RunFor(3000);
  v.Pump();
  EXPECT_EQ(v.rxLine, u"RX: Reconnect failed");
  EXPECT_TRUE(v.rxError);
  EXPECT_EQ(device.RequestCount(), sent);
  EXPECT_GE(transport->opens - opensBefore, 2);
  EXPECT_LE(transport->opens - opensBefore, 4);
  transport->openResult = 1;
  h.RunFor(1001);
  v.Pump();
  EXPECT_EQ(v.rxLine, u"RX: 01 06 00 00 00 00 89 CA");
  EXPECT_GT(device.RequestCount(), sent);
}

// A broadcast is carried out by the slaves unseen: whatever request follows
// it, the broadcast poll selected again or another tab's read, waits out the
// turnaround counted from the broadcast, not only the broadcast's own next
// execution.
TEST(PollLoop, WhateverFollowsABroadcastWaitsOutTheTurnaround) {
  for (bool sameTab : {false, true}) {
    SCOPED_TRACE(sameTab ? "the broadcast's tab again" : "another tab");
    FakeClock clock;
    ClientHarness h(FramingKind::kRtu);
    ViewHost& v = *h.view;
    SimDevice device(FramingKind::kRtu);
    std::vector<uint32_t> sentAt;
    device.onRequest = [&sentAt] { sentAt.push_back(FakeClock::Now()); };
    v.ChooseFunction(6);
    v.EditField(0, u"0");
    v.Add();  // Poll 2 reads unit 1
    v.SelectTab(0);
    ASSERT_TRUE(h.StartPasses(&device));
    uint32_t waitMs = 0;
    ASSERT_EQ(h.context()->worker.Pass(&waitMs), kPassExecuted);
    v.SelectTab(sameTab ? 0 : 1);
    h.RunFor(1000);
    ASSERT_GE(sentAt.size(), 2u);
    EXPECT_GE(sentAt[1] - sentAt[0], kBroadcastFloorMs);
    EXPECT_LE(sentAt[1] - sentAt[0], kBroadcastFloorMs + 20);
  }
}

TEST(PollLoop, ConnectFailuresAndRefusedRemoval) {
  ClientHarness h(FramingKind::kMbap);
  ViewHost& v = *h.view;
  ClientHarness::nextTransport = nullptr;
  EXPECT_EQ(v.Connect(), 0);
  ASSERT_EQ(v.errors.size(), 1u);
  EXPECT_EQ(v.errors[0].first, u"Failed to connect to the test server.");
  EXPECT_EQ(v.errors[0].second, u"Connection Error");
  EXPECT_EQ(v.rxLine, u"RX: Connection failed");
  EXPECT_TRUE(v.rxError);

  SimDevice device(FramingKind::kMbap);
  ScriptedTransport* refusing = device.NewTransport();
  refusing->openResult = 0;
  ClientHarness::nextTransport = refusing;
  EXPECT_EQ(v.Connect(), 0);
  EXPECT_EQ(v.errors.size(), 2u);

  v.Add();
  ClientHarness::nextTransport = device.NewTransport();
  EXPECT_EQ(v.Connect(), 1);
  EXPECT_EQ(v.rxLine, u"RX: -");
  EXPECT_FALSE(v.rxError);
  EXPECT_EQ(v.Connect(), 1) << "a second Connect while running changes nothing";
  v.Remove();
  EXPECT_EQ(v.tabs.size(), 2u) << "no removal while connected";
  v.Disconnect();
  EXPECT_EQ(v.rxLine, u"RX: -");
  v.Remove();
  EXPECT_EQ(v.tabs.size(), 1u);
}

}  // namespace

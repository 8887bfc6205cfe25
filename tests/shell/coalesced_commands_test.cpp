// The slots that keep the latest TX frame, RX frame or text and table
// refresh between pace ticks: one slot's cycle step by step, then a worker
// posting as fast as it can against a user-interface thread that takes
// queued copies and drains at its own pace (run under ThreadSanitizer too).
#include "shell/coalesced_commands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Seen {
  HostCommandKind kind;
  std::vector<uint8_t> data;
  std::u16string text;
  uint64_t index;
  uintptr_t stamp;
};

void Record(void* context, const HostCommand& command) {
  Seen seen{command.kind, {}, command.text ? command.text : u"~", command.index, command.stamp};
  if (command.data) {
    const uint8_t* bytes = static_cast<const uint8_t*>(command.data);
    seen.data.assign(bytes, bytes + command.length);
  }
  static_cast<std::vector<Seen>*>(context)->push_back(seen);
}

HostCommand Frame(HostCommandKind kind, const std::vector<uint8_t>& bytes) {
  HostCommand command{};
  command.kind = kind;
  command.data = bytes.data();
  command.length = static_cast<uint32_t>(bytes.size());
  return command;
}

HostCommand Plain(HostCommandKind kind, const Unit* text = nullptr, uint64_t index = 0) {
  HostCommand command{};
  command.kind = kind;
  command.text = text;
  command.index = index;
  return command;
}

TEST(CoalescedCommands, EachSlotQueuesItsFirstKeepsTheLatestAndGoesIdleWhenATickFindsNone) {
  CoalescedCommands slots;
  std::vector<Seen> seen;
  std::vector<uint8_t> bytes = {1};
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, bytes), 7), CoalesceOffer::kLeading);
  bytes = {2, 2};
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, bytes), 7), CoalesceOffer::kStored);
  bytes = {3, 3, 3};
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, bytes), 7), CoalesceOffer::kStored);
  bytes[0] = 9;  // the plug-in's buffer changes at once: the slot holds a copy
  EXPECT_EQ(slots.Offer(Plain(HostCommandKind::SetLabel, u"label"), 7), CoalesceOffer::kQueue);
  EXPECT_EQ(slots.Offer(Plain(HostCommandKind::RefreshHeaderLines), 7), CoalesceOffer::kQueue);
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowRxFrame, {4}), 7), CoalesceOffer::kLeading);
  // The RX text shares the RX frame's slot: the later of the two wins.
  EXPECT_EQ(slots.Offer(Plain(HostCommandKind::ShowRxText, u"RX: Timeout", 1), 8), CoalesceOffer::kStored);
  EXPECT_EQ(slots.Offer(Plain(HostCommandKind::RefreshTable), 8), CoalesceOffer::kLeading);

  // Nothing is taken while its slot's first copy is still queued.
  EXPECT_TRUE(slots.Drain(Record, &seen));
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(slots.LeadingHandled(HostCommandKind::ShowTxFrame));
  EXPECT_FALSE(slots.LeadingHandled(HostCommandKind::ShowTxFrame));
  EXPECT_FALSE(slots.LeadingHandled(HostCommandKind::SetLabel));
  EXPECT_TRUE(slots.Drain(Record, &seen));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, HostCommandKind::ShowTxFrame);
  EXPECT_EQ(seen[0].data, (std::vector<uint8_t>{3, 3, 3}));
  EXPECT_EQ(seen[0].stamp, 7u);

  EXPECT_TRUE(slots.LeadingHandled(HostCommandKind::ShowRxFrame));
  EXPECT_TRUE(slots.LeadingHandled(HostCommandKind::RefreshTable));
  seen.clear();
  EXPECT_TRUE(slots.Drain(Record, &seen));  // the TX slot goes idle, the RX one hands its text
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, HostCommandKind::ShowRxText);
  EXPECT_EQ(seen[0].text, u"RX: Timeout");
  EXPECT_EQ(seen[0].index, 1u);
  EXPECT_EQ(seen[0].stamp, 8u);
  EXPECT_FALSE(slots.Drain(Record, &seen));  // every slot idle: the pace may stop
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, {5}), 9), CoalesceOffer::kLeading);

  // A refused first copy takes what was kept behind it along, and the next
  // command is queued again; so does every slot after a purge.
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, {6}), 9), CoalesceOffer::kStored);
  slots.LeadingLost(HostCommandKind::ShowTxFrame);
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, {7}), 9), CoalesceOffer::kLeading);
  EXPECT_TRUE(slots.LeadingHandled(HostCommandKind::ShowTxFrame));
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, {8}), 9), CoalesceOffer::kStored);
  slots.Clear();
  seen.clear();
  EXPECT_FALSE(slots.Drain(Record, &seen));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(slots.Offer(Frame(HostCommandKind::ShowTxFrame, {9}), 9), CoalesceOffer::kLeading);
  EXPECT_FALSE(slots.LeadingHandled(HostCommandKind::RefreshTable));  // a copy queued before the purge
}

// Frame k carries k in its first two bytes.
std::vector<uint8_t> Numbered(uint32_t k) {
  return {static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k), 0xAA, static_cast<uint8_t>(k * 7)};
}
uint32_t NumberOf(const Seen& seen) { return (static_cast<uint32_t>(seen.data[0]) << 8) | seen.data[1]; }

TEST(CoalescedCommands, AFastWorkerEndsOnItsLatestFramesInOrderWithFewCopiesQueued) {
  CoalescedCommands slots;
  // The window's queue as the shell's post fills it.
  std::mutex queueLock;
  std::deque<std::vector<uint8_t>> queue;
  std::deque<HostCommandKind> queuedKinds;
  std::atomic<bool> done{false};
  constexpr uint32_t kFrames = 20000;
  std::thread worker([&] {
    for (uint32_t k = 0; k < kFrames; ++k) {
      if (k % 8 == 0) std::this_thread::yield();  // lets the two threads take turns
      const std::vector<uint8_t> bytes = Numbered(k);
      for (HostCommandKind kind : {HostCommandKind::ShowTxFrame, HostCommandKind::ShowRxFrame, HostCommandKind::RefreshTable}) {
        HostCommand command = Frame(kind, bytes);
        if (slots.Offer(command, 1) == CoalesceOffer::kStored) continue;
        std::lock_guard<std::mutex> lock(queueLock);
        queue.push_back(bytes);
        queuedKinds.push_back(kind);
      }
    }
    done = true;
  });

  std::vector<Seen> seen;
  size_t queued = 0;
  bool busy = true;
  // The user-interface thread: queued copies first, then a pace tick, until
  // the worker is done and a tick finds every slot idle. The time limit only
  // means "hung".
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (;;) {
    const bool finished = done;
    for (;;) {
      std::vector<uint8_t> bytes;
      HostCommandKind kind;
      {
        std::lock_guard<std::mutex> lock(queueLock);
        if (queue.empty()) break;
        bytes = queue.front();
        kind = queuedKinds.front();
        queue.pop_front();
        queuedKinds.pop_front();
      }
      ++queued;
      Record(&seen, Frame(kind, bytes));
      slots.LeadingHandled(kind);
    }
    busy = slots.Drain(Record, &seen);
    if ((finished && !busy) || std::chrono::steady_clock::now() > giveUp) break;
    std::this_thread::yield();
  }
  worker.join();
  ASSERT_FALSE(busy);

  // Per kind: in posting order, the first and the latest among them.
  for (HostCommandKind kind : {HostCommandKind::ShowTxFrame, HostCommandKind::ShowRxFrame, HostCommandKind::RefreshTable}) {
    std::vector<uint32_t> numbers;
    for (const Seen& s : seen) {
      if (s.kind == kind) numbers.push_back(NumberOf(s));
    }
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 0u);
    EXPECT_EQ(numbers.back(), (kFrames - 1) & 0xFFFF);
    for (size_t i = 1; i < numbers.size(); ++i) ASSERT_LT(numbers[i - 1], numbers[i]) << static_cast<int>(kind);
  }
  // Only a slot's first command after a quiet tick is queued.
  EXPECT_LT(queued, seen.size());
  printf("%u exchanges: %zu copies queued, %zu commands handled\n", kFrames, queued, seen.size());
}

}  // namespace

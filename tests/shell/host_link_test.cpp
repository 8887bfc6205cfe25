// The host link on a real message queue: what post copies, the stamp that
// drops commands of an earlier attachment, the purge at detach, and a burst
// of frames from a worker that reaches the handler through the pace timer.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "shell/host_link.h"

namespace {

struct Seen {
  HostCommandKind kind;
  std::u16string text, caption;
  std::vector<uint8_t> data;
  bool hasData;
  uintptr_t stamp;
};

std::vector<Seen> g_seen;

void Record(void*, const HostCommand& command) {
  Seen seen{command.kind, command.text ? command.text : u"~", command.caption ? command.caption : u"~", {},
            command.data != nullptr, command.stamp};
  if (command.data) {
    const uint8_t* bytes = static_cast<const uint8_t*>(command.data);
    seen.data.assign(bytes, bytes + command.length);
  }
  g_seen.push_back(seen);
}

// Hands every queued posted copy to the host, as the main window does.
void Pump(HWND window, HostLinkHost& host) {
  MSG message;
  while (PeekMessageW(&message, window, kPostedCommandMessage, kPostedCommandMessage, PM_REMOVE)) {
    host.HandlePosted(message.lParam);
  }
}

// The main window's loop, posted copies and the pace's ticks, until done()
// holds or ms pass.
template <typename Done>
void RunLoop(HostLinkHost& host, Done done, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  MSG message;
  while (!done() && static_cast<int32_t>(until - GetTickCount()) > 0) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      continue;
    }
    if (message.message == kPostedCommandMessage) {
      host.HandlePosted(message.lParam);
    } else {
      DispatchMessageW(&message);
    }
  }
}

class HostLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    host_.Bind(window_, Record, nullptr);
  }
  void TearDown() override { DestroyWindow(window_); }
  HWND window_ = nullptr;
  HostLinkHost host_;
};

TEST_F(HostLinkTest, PostCopiesTextsAndBytesAndKeepsTheOrder) {
  const HostLink* link = host_.Link();
  EXPECT_EQ(link->size, 40u);
  EXPECT_EQ(link->version, 11u);
  EXPECT_TRUE(HostLinkLogsTraffic(link));
  std::u16string text = u"title", caption = u"caption";
  uint8_t frame[] = {1, 2, 3};
  HostCommand command = {};
  command.kind = HostCommandKind::ShowError;
  command.text = text.c_str();
  command.caption = caption.c_str();
  command.data = frame;
  command.length = 3;
  link->post(link->host, &command);
  // The plug-in's own storage may change at once: the copy is the shell's.
  text[0] = u'X';
  frame[0] = 9;
  command.kind = HostCommandKind::ShowTxFrame;
  command.text = nullptr;
  command.caption = nullptr;
  command.length = 0;  // data without a length: no data in the copy
  link->post(link->host, &command);
  EXPECT_EQ(host_.Outstanding(), 2);
  Pump(window_, host_);
  EXPECT_EQ(host_.Outstanding(), 0);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].text, u"title");
  EXPECT_EQ(g_seen[0].caption, u"caption");
  EXPECT_EQ(g_seen[0].data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(g_seen[1].kind, HostCommandKind::ShowTxFrame);
  EXPECT_EQ(g_seen[1].text, u"~");
  EXPECT_FALSE(g_seen[1].hasData);
}

TEST_F(HostLinkTest, StampDropsCommandsOfAnEarlierAttachment) {
  const HostLink* link = host_.Link();
  HostCommand command = {};
  command.kind = HostCommandKind::RefreshTable;
  // Posted from worker threads while the user-interface thread raises the
  // stamp: every copy taken before the raise is dropped.
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back([&] {
      for (int k = 0; k < 50; ++k) link->post(link->host, &command);
    });
  }
  for (std::thread& worker : workers) worker.join();
  const uintptr_t before = host_.Stamp();
  host_.RaiseStamp();
  EXPECT_NE(host_.Stamp(), before);
  Pump(window_, host_);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(host_.Outstanding(), 0);

  // A sent command carries the current stamp and runs at once; a command
  // stamped 0 (built by hand) runs too.
  link->send(link->host, &command);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].stamp, host_.Stamp());
  host_.Handle(command);
  EXPECT_EQ(g_seen.size(), 2u);
}

TEST_F(HostLinkTest, PurgeFreesQueuedCopiesAndAClosedQueueLosesTheCommand) {
  const HostLink* link = host_.Link();
  HostCommand command = {};
  command.kind = HostCommandKind::FitColumns;
  link->post(link->host, &command);
  link->post(link->host, &command);
  host_.PurgeQueued();
  EXPECT_EQ(host_.Outstanding(), 0);
  Pump(window_, host_);
  EXPECT_TRUE(g_seen.empty());
  // The window is gone: the queue refuses and the copy is freed at once.
  DestroyWindow(window_);
  link->post(link->host, &command);
  EXPECT_EQ(host_.Outstanding(), 0);
  window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// Frame k carries k in its first two bytes.
uint32_t NumberOf(const Seen& seen) { return (static_cast<uint32_t>(seen.data[0]) << 8) | seen.data[1]; }

TEST_F(HostLinkTest, ABurstQueuesOneCopyPerLineAndEndsOnTheLatestFrames) {
  const HostLink* link = host_.Link();
  constexpr uint32_t kFrames = 3000;
  auto burst = [&] {
    std::thread worker([&] {
      for (uint32_t k = 0; k < kFrames; ++k) {
        const uint8_t bytes[] = {static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k), 0x03};
        HostCommand command = {};
        command.data = bytes;
        command.length = sizeof bytes;
        command.kind = HostCommandKind::ShowTxFrame;
        link->post(link->host, &command);
        command.kind = HostCommandKind::ShowRxFrame;
        link->post(link->host, &command);
        command.kind = HostCommandKind::RefreshTable;
        command.data = nullptr;
        command.length = 0;
        link->post(link->host, &command);
      }
    });
    worker.join();
  };
  burst();
  // Only the first frame of each line and the first refresh wait in the queue.
  EXPECT_EQ(host_.Outstanding(), 3);
  std::vector<uint32_t> tx, rx;
  size_t refreshes = 0;
  auto sort = [&] {
    tx.clear();
    rx.clear();
    refreshes = 0;
    for (const Seen& seen : g_seen) {
      if (seen.kind == HostCommandKind::ShowTxFrame) tx.push_back(NumberOf(seen));
      if (seen.kind == HostCommandKind::ShowRxFrame) rx.push_back(NumberOf(seen));
      refreshes += seen.kind == HostCommandKind::RefreshTable;
    }
    return refreshes == 2 && tx.size() == 2 && rx.size() == 2;
  };
  RunLoop(host_, sort, 10000);  // the time limit only means "hung"
  EXPECT_EQ(host_.Outstanding(), 0);
  EXPECT_EQ(tx, (std::vector<uint32_t>{0, kFrames - 1}));
  EXPECT_EQ(rx, (std::vector<uint32_t>{0, kFrames - 1}));
  EXPECT_EQ(refreshes, 2u);

  // A burst of an earlier attachment shows nothing, queued or kept.
  g_seen.clear();
  burst();
  host_.RaiseStamp();
  RunLoop(host_, [] { return false; }, 300);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(host_.Outstanding(), 0);
}

// Frames from a worker thread go into the traffic store with one wake
// posted per batch: none again until the reader has read.
TEST_F(HostLinkTest, LoggedFramesWakeTheWindowOncePerBatch) {
  constexpr UINT kWake = WM_APP + 2;
  TrafficStore store;
  host_.BindTraffic(&store, kWake);
  const HostLink* link = host_.Link();
  const uint8_t bytes[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  auto logSome = [link, &bytes](int count) {
    std::thread worker([link, &bytes, count] {
      for (int i = 0; i < count; ++i) {
        TrafficFrame frame = {};
        frame.size = kTrafficFrameSize;
        frame.bytes = bytes;
        frame.length = sizeof bytes;
        link->logFrame(link->host, &frame);
      }
    });
    worker.join();
  };
  auto wakes = [this] {
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, window_, kWake, kWake, PM_REMOVE)) ++count;
    return count;
  };
  logSome(500);
  EXPECT_EQ(wakes(), 1);
  logSome(500);
  EXPECT_EQ(wakes(), 0) << "the window has not read yet";
  store.Woken();
  logSome(3);
  EXPECT_EQ(wakes(), 1);
  EXPECT_EQ(store.Next(), 1003u);
}

}  // namespace

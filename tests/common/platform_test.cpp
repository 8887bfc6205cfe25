#include "common/platform.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

TEST(Events, ManualResetStaysSetAutoResetReleasesOnce) {
  plat::Event* manual = plat::EventNew(true, false);
  plat::Event* automatic = plat::EventNew(false, true);
  ASSERT_NE(manual, nullptr);
  ASSERT_NE(automatic, nullptr);
  EXPECT_FALSE(plat::EventWait(manual, 0));
  plat::EventSet(manual);
  EXPECT_TRUE(plat::EventWait(manual, 0));
  EXPECT_TRUE(plat::EventWait(manual, 0));
  plat::EventReset(manual);
  EXPECT_FALSE(plat::EventWait(manual, 10));

  EXPECT_TRUE(plat::EventWait(automatic, 0));
  EXPECT_FALSE(plat::EventWait(automatic, 0));
  plat::EventFree(manual);
  plat::EventFree(automatic);
}

TEST(Events, WaitAnyReportsTheFirstSetEvent) {
  plat::Event* events[3] = {plat::EventNew(true, false), plat::EventNew(false, false), plat::EventNew(true, false)};
  EXPECT_EQ(plat::EventWaitAny(events, 3, 5), plat::kWaitTimedOut);
  plat::EventSet(events[2]);
  plat::EventSet(events[1]);
  EXPECT_EQ(plat::EventWaitAny(events, 3, 0), 1);  // auto-reset: cleared now
  EXPECT_EQ(plat::EventWaitAny(events, 3, 0), 2);
  for (plat::Event* event : events) plat::EventFree(event);
}

// A wait that fails must not read as a time-out: a worker that takes it
// for one waits again at once, for ever.
TEST(Events, AFailedWaitIsReportedAsFailed) {
  plat::Event* event = plat::EventNew(true, false);
  plat::Event* events[9] = {event, event, event, event, event, event, event, event, event};
  EXPECT_EQ(plat::EventWaitAny(events, 0, 0), plat::kWaitFailed);
  EXPECT_EQ(plat::EventWaitAny(events, 9, 0), plat::kWaitFailed);
  plat::EventFree(event);
#if defined(_WIN32)
  // A handle that is no longer open: the system's WAIT_FAILED.
  plat::Event* closed = plat::EventNew(true, false);
  plat::EventFree(closed);
  EXPECT_EQ(plat::EventWaitAny(&closed, 1, 10), plat::kWaitFailed);
#endif
}

struct Handshake {
  plat::Event* go;
  plat::Event* done;
  plat::Mutex* mutex;
  int counter;
};

uint32_t Worker(void* raw) {
  Handshake* shared = static_cast<Handshake*>(raw);
  if (!plat::EventWait(shared->go, plat::kWaitForever)) return 1;
  for (int i = 0; i < 10000; ++i) {
    plat::MutexLock(shared->mutex);
    ++shared->counter;
    plat::MutexUnlock(shared->mutex);
  }
  plat::EventSet(shared->done);
  return 42;
}

TEST(Threads, WorkerWakesOnEventAndSharesAMutex) {
  Handshake shared{plat::EventNew(true, false), plat::EventNew(true, false), plat::MutexNew(), 0};
  plat::Thread* first = plat::ThreadStart(Worker, &shared);
  plat::Thread* second = plat::ThreadStart(Worker, &shared);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(plat::CurrentThreadId(), 0u);
  plat::EventSet(shared.go);
  EXPECT_TRUE(plat::EventWait(shared.done, 10000));
  EXPECT_EQ(plat::ThreadJoin(first), 42u);
  EXPECT_EQ(plat::ThreadJoin(second), 42u);
  EXPECT_EQ(shared.counter, 20000);
  plat::EventFree(shared.go);
  plat::EventFree(shared.done);
  plat::MutexFree(shared.mutex);
}

uint32_t Setter(void* raw) {
  plat::SleepMs(20);
  plat::EventSet(static_cast<plat::Event*>(raw));
  return 0;
}

TEST(Threads, TimedWaitEndsWhenAnotherThreadSets) {
  plat::Event* stop = plat::EventNew(true, false);
  plat::Thread* thread = plat::ThreadStart(Setter, stop);
  // The wait's own time-out is far beyond the bound that means "hung", so
  // a wait that ran out its time-out (and wrongly said set) fails here.
  constexpr uint32_t kTimeoutMs = 120000, kHungMs = 30000;
  uint32_t start = plat::Tick();
  EXPECT_TRUE(plat::EventWait(stop, kTimeoutMs));
  EXPECT_LT(plat::Tick() - start, kHungMs);
  plat::ThreadJoin(thread);
  plat::EventFree(stop);
}

std::atomic<uint32_t> g_fakeNow{77};
uint32_t FakeTick() { return g_fakeNow.load(); }

TEST(Tick, SourceCanBeReplacedAndRestored) {
  plat::TickSource previous = plat::SetTickSource(FakeTick);
  EXPECT_EQ(plat::Tick(), 77u);
  g_fakeNow = 0xFFFFFFFFu;
  EXPECT_EQ(plat::Tick(), 0xFFFFFFFFu);
  EXPECT_EQ(plat::SetTickSource(previous), &FakeTick);
}

}  // namespace

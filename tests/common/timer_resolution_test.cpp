// Windows' clock as the product sees it: the tick comes from the
// performance counter, not from GetTickCount's 16 ms steps, and every
// connection asks for a 1 ms timer resolution (opting out of the
// resolution throttling of minimised programs) and gives it back once,
// also when it fails half way. Under Wine every clock is 1 ms fine already,
// so the calls are counted through the platform's time seam, and the step
// of the real tick is measured and printed.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <functional>
#include <map>

#include "client/client_worker.h"
#include "client/poll_list.h"
#include "common/memory.h"
#include "common/platform.h"
#include "common/time_api_win32.h"
#include "modbus/rtu_framer.h"
#include "server/server_worker.h"
#include "server/view_list.h"
#include "support/scripted_transport.h"

namespace {

struct Counts {
  int begins = 0, ends = 0, outstanding = 0, most = 0, optOuts = 0;
  UINT period = 0;
  int64_t counter = 0;
  int64_t frequency = 10000000;
};
Counts g_counts;

MMRESULT WINAPI CountBegin(UINT period) {
  g_counts.period = period;
  ++g_counts.begins;
  if (++g_counts.outstanding > g_counts.most) g_counts.most = g_counts.outstanding;
  return TIMERR_NOERROR;
}
MMRESULT WINAPI CountEnd(UINT period) {
  EXPECT_EQ(period, g_counts.period);
  ++g_counts.ends;
  --g_counts.outstanding;
  return TIMERR_NOERROR;
}
BOOL WINAPI CountOptOut(HANDLE process, PROCESS_INFORMATION_CLASS kind, LPVOID information, DWORD size) {
  EXPECT_EQ(process, GetCurrentProcess());
  EXPECT_EQ(kind, ProcessPowerThrottling);
  EXPECT_EQ(size, sizeof(PROCESS_POWER_THROTTLING_STATE));
  const auto* state = static_cast<const PROCESS_POWER_THROTTLING_STATE*>(information);
  // Controlled and off: the resolution asked for is always granted.
  if (state->ControlMask == PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION && state->StateMask == 0)
    ++g_counts.optOuts;
  return TRUE;
}
BOOL WINAPI FakeCounter(LARGE_INTEGER* count) {
  count->QuadPart = g_counts.counter;
  return TRUE;
}
BOOL WINAPI FakeFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = g_counts.frequency;
  return TRUE;
}

const plat::TimeApi kCounting = {CountBegin, CountEnd, CountOptOut, FakeCounter, FakeFrequency};

class CountingClock {
 public:
  CountingClock() : previous_(plat::SetTimeApi(&kCounting)) { g_counts = Counts{}; }
  ~CountingClock() { plat::SetTimeApi(previous_); }

 private:
  const plat::TimeApi* previous_;
};

// --- connections ------------------------------------------------------------

struct Connection {
  int32_t openResult = 1;
  int32_t prepareResult = 1;
};
Connection g_next;

ScriptedTransport* NextTransport() {
  ScriptedTransport* transport = mem::New<ScriptedTransport>();
  transport->frameMode = true;
  transport->openResult = g_next.openResult;
  transport->prepareResult = g_next.prepareResult;
  return transport;
}

Transport* ServerTransport(const void*) { return NextTransport(); }
Transport* NoTransport(const void*) { return nullptr; }
Framer* ServerFramer(const void*) { return mem::New<RtuFramer>(false); }
uint8_t Address(const void*) { return 1; }

const ServerComposition kServer = {ServerFamily::kSerial, u"open failed", nullptr, ServerTransport,
                                   ServerFramer, Address, nullptr, nullptr};
const ServerComposition kServerWithoutTransport = {ServerFamily::kSerial, u"open failed", nullptr, NoTransport,
                                                   ServerFramer, Address, nullptr, nullptr};

// Connect as many times as given (each a Connect of the plug-in, the later
// ones while still connected), checks the resolution is held, then
// Disconnect.
void ClientConnects(int connects, bool started) {
  PollList polls(FramingKind::kRtu);
  ClientWorker worker(&polls);
  for (int i = 0; i < connects; ++i) {
    ClientStartResult result = worker.Start(NextTransport(), mem::New<RtuFramer>(false), 1000, u"");
    EXPECT_EQ(result == kClientStarted, started);
    EXPECT_EQ(g_counts.outstanding, started ? 1 : 0);
  }
  worker.Stop();
}

void ServerConnects(const ServerComposition* composition, int connects, bool started) {
  const HostLink* link = nullptr;
  DeviceMap map;
  ViewList views;
  ViewListInit(&views);
  ServerWorker worker;
  WorkerInit(&worker, composition, &link, &map, &views);
  const int settings = 0;
  for (int i = 0; i < connects; ++i) {
    EXPECT_EQ(StartWorker(&worker, &settings) == kWorkerStarted, started);
    EXPECT_EQ(g_counts.outstanding, started ? 1 : 0);
  }
  StopWorker(&worker);
  WorkerRelease(&worker);
  ViewListRelease(&views);
}

TEST(TimerResolution, EveryConnectAsksOnceAndGivesBackOnceWhereverItEnds) {
  struct Case {
    const char* name;
    Connection connection;
    std::function<void()> run;
    int begins;
  } cases[] = {
      {"master connected, disconnected", {}, [] { ClientConnects(1, true); }, 1},
      {"master connected again while connected", {}, [] { ClientConnects(2, true); }, 2},
      {"master's port does not open", {0, 1}, [] { ClientConnects(1, false); }, 1},
      {"master's first exchange fails", {1, 0}, [] { ClientConnects(1, false); }, 1},
      {"slave connected, disconnected", {}, [] { ServerConnects(&kServer, 1, true); }, 1},
      {"slave connected again while connected", {}, [] { ServerConnects(&kServer, 2, true); }, 2},
      {"slave's port does not open", {0, 1}, [] { ServerConnects(&kServer, 1, false); }, 1},
      {"slave's first exchange fails", {1, 0}, [] { ServerConnects(&kServer, 1, false); }, 1},
      {"slave's transport not made", {}, [] { ServerConnects(&kServerWithoutTransport, 1, false); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CountingClock clock;
    g_next = c.connection;
    c.run();
    EXPECT_EQ(g_counts.begins, c.begins);
    EXPECT_EQ(g_counts.ends, c.begins);
    EXPECT_EQ(g_counts.most, 1);  // never asked twice without giving back
    EXPECT_EQ(g_counts.period, 1u);
    EXPECT_EQ(g_counts.optOuts, c.begins);
  }
}

// --- the tick ---------------------------------------------------------------

TEST(Tick, FollowsThePerformanceCounterAndWrapsAt32Bits) {
  struct Case {
    int64_t frequency, counter;
    uint32_t tick;
  } cases[] = {
      {10000000, 0, 0},
      {10000000, 9999, 0},
      {10000000, 10000, 1},              // one millisecond at 10 MHz
      {10000000, 10000LL * 123457, 123457},
      {3579545, 3579545LL * 2 + 3580, 2001},  // the ACPI timer's odd frequency
      {10000000, 10000LL * 0x100000005LL, 5},  // past 2^32 ms (49.7 days): wraps
      {1000000000, 1000000000LL * 86400 * 400, static_cast<uint32_t>(86400000ULL * 400)},  // no overflow
  };
  CountingClock clock;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.counter);
    g_counts.frequency = c.frequency;
    g_counts.counter = c.counter;
    EXPECT_EQ(plat::Tick(), c.tick);
  }
}

// Windows' GetTickCount moves in steps of about 16 ms whatever the timer
// resolution; the tick must move by single milliseconds. Under load a
// sample may come late, so the most frequent step is what is checked.
TEST(Tick, StepsByOneMillisecond) {
  std::map<uint32_t, int> steps;
  uint32_t last = plat::Tick();
  const uint32_t start = last;
  while (plat::Tick() - start < 300) {
    const uint32_t now = plat::Tick();
    if (now != last) ++steps[now - last];
    last = now;
  }
  int mostSeen = 0;
  uint32_t usual = 0;
  for (const auto& [step, seen] : steps)
    if (seen > mostSeen) mostSeen = seen, usual = step;
  std::printf("tick steps over 300 ms: usual %u ms (%d times), smallest %u ms, largest %u ms\n", usual, mostSeen,
              steps.begin()->first, steps.rbegin()->first);
  EXPECT_EQ(usual, 1u);
}

}  // namespace

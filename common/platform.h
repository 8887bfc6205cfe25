#pragma once
// The platform seam of the portable engine: heap, tick, events, mutexes and
// threads. The Win32 implementation is the product's; the POSIX one serves
// tests, fuzzers and benchmarks. Nothing above this header knows which one
// it runs on.

#include <stddef.h>
#include <stdint.h>

namespace plat {

// --- heap -------------------------------------------------------------------
// Process heap. HeapGet and HeapResize return null on failure; HeapResize
// then leaves the old block intact. HeapPut ignores null.
void* HeapGet(size_t size);
void* HeapResize(void* block, size_t size);
void HeapPut(void* block);

// Ends the process at once with this exit code, without clean-up.
[[noreturn]] void FatalExit(uint32_t code);

// --- time -------------------------------------------------------------------
// Milliseconds from an arbitrary origin, wrapping at 2^32. Compare two ticks
// only by their signed difference (see TickBefore in common/deadline.h).
uint32_t Tick();

// A replacement for the system clock, for tests that drive deadlines without
// sleeping. Null restores the system clock. Returns the previous source.
// Install it before starting threads that read the tick.
using TickSource = uint32_t (*)();
TickSource SetTickSource(TickSource source);

void SleepMs(uint32_t milliseconds);

// While a connection runs, its waits, polls and line silences need 1 ms:
// Windows runs a process at its default 15.6 ms unless it asks, and lowers
// a minimised process's resolution again unless it opts out. Every
// TimerResolutionBegin is paired with one TimerResolutionEnd.
void TimerResolutionBegin();
void TimerResolutionEnd();

// --- events -----------------------------------------------------------------
struct Event;

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
constexpr int kWaitTimedOut = -1;
constexpr int kWaitFailed = -2;

// Null on failure. A manual-reset event stays set until EventReset; an
// auto-reset event releases one waiter and clears itself.
Event* EventNew(bool manualReset, bool initiallySet);
void EventFree(Event* event);
void EventSet(Event* event);
void EventReset(Event* event);

// Waits until one of count events (1 to 8) is set or timeoutMs passes.
// Returns the index of the first set event (clearing it when auto-reset),
// kWaitTimedOut, or kWaitFailed when the wait itself failed (a bad handle, a
// count outside 1 to 8): a caller that waits again would spin. Waits use the
// system clock, never the tick source above.
int EventWaitAny(Event* const* events, int count, uint32_t timeoutMs);
inline bool EventWait(Event* event, uint32_t timeoutMs) {
  return EventWaitAny(&event, 1, timeoutMs) == 0;
}

// --- mutexes ----------------------------------------------------------------
struct Mutex;
Mutex* MutexNew();  // null on failure
void MutexFree(Mutex* mutex);
void MutexLock(Mutex* mutex);
void MutexUnlock(Mutex* mutex);

// --- threads ----------------------------------------------------------------
struct Thread;
using ThreadProc = uint32_t (*)(void* argument);
Thread* ThreadStart(ThreadProc proc, void* argument);  // null on failure
// Waits without a time limit, releases the thread and returns its result.
uint32_t ThreadJoin(Thread* thread);
uint32_t CurrentThreadId();

}  // namespace plat

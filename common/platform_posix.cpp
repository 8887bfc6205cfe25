// POSIX implementation of the platform seam, for tests, fuzzers and
// benchmarks on the build machine.
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "common/platform.h"

namespace plat {
namespace {

std::atomic<TickSource> g_tickSource{nullptr};

// All events share one lock and one condition: a set wakes every waiter, and
// each re-checks the events it waits for. Simple, and waits on several events
// need nothing more.
pthread_mutex_t g_eventLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_eventChanged;
pthread_once_t g_eventOnce = PTHREAD_ONCE_INIT;

void InitEventCondition() {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&g_eventChanged, &attributes);
  pthread_condattr_destroy(&attributes);
}

uint64_t MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

struct Event {
  bool manualReset;
  bool set;
};

struct Mutex {
  pthread_mutex_t mutex;
};

struct Thread {
  pthread_t thread;
  ThreadProc proc;
  void* argument;
  uint32_t result;
};

void* HeapGet(size_t size) { return malloc(size); }
void* HeapResize(void* block, size_t size) { return realloc(block, size); }
void HeapPut(void* block) { free(block); }

void FatalExit(uint32_t code) { _exit(static_cast<int>(code & 0xFFu)); }

uint32_t Tick() {
  TickSource source = g_tickSource.load(std::memory_order_acquire);
  return source ? source() : static_cast<uint32_t>(MonotonicMs());
}

TickSource SetTickSource(TickSource source) {
  return g_tickSource.exchange(source, std::memory_order_acq_rel);
}

void SleepMs(uint32_t milliseconds) {
  timespec span{static_cast<time_t>(milliseconds / 1000u), static_cast<long>(milliseconds % 1000u) * 1000000L};
  while (nanosleep(&span, &span) != 0 && errno == EINTR) {
  }
}

// The native builds serve tests and benchmarks: their clocks are fine already.
void TimerResolutionBegin() {}
void TimerResolutionEnd() {}

Event* EventNew(bool manualReset, bool initiallySet) {
  pthread_once(&g_eventOnce, InitEventCondition);
  Event* event = static_cast<Event*>(HeapGet(sizeof(Event)));
  if (!event) return nullptr;
  event->manualReset = manualReset;
  event->set = initiallySet;
  return event;
}

void EventFree(Event* event) { HeapPut(event); }

void EventSet(Event* event) {
  pthread_mutex_lock(&g_eventLock);
  event->set = true;
  pthread_cond_broadcast(&g_eventChanged);
  pthread_mutex_unlock(&g_eventLock);
}

void EventReset(Event* event) {
  pthread_mutex_lock(&g_eventLock);
  event->set = false;
  pthread_mutex_unlock(&g_eventLock);
}

int EventWaitAny(Event* const* events, int count, uint32_t timeoutMs) {
  if (count < 1 || count > 8) return kWaitFailed;
  timespec until{};
  if (timeoutMs != kWaitForever) {
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += static_cast<time_t>(timeoutMs / 1000u);
    until.tv_nsec += static_cast<long>(timeoutMs % 1000u) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000L;
    }
  }
  pthread_mutex_lock(&g_eventLock);
  int signalled = kWaitTimedOut;
  for (;;) {
    for (int i = 0; i < count; ++i) {
      if (events[i]->set) {
        if (!events[i]->manualReset) events[i]->set = false;
        signalled = i;
        break;
      }
    }
    if (signalled != kWaitTimedOut || timeoutMs == 0) break;
    int rc = timeoutMs == kWaitForever ? pthread_cond_wait(&g_eventChanged, &g_eventLock)
                                       : pthread_cond_timedwait(&g_eventChanged, &g_eventLock, &until);
    if (rc != 0 && rc != ETIMEDOUT) {
      signalled = kWaitFailed;
      break;
    }
    if (rc == ETIMEDOUT) {
      for (int i = 0; i < count && signalled == kWaitTimedOut; ++i) {
        if (events[i]->set) {
          if (!events[i]->manualReset) events[i]->set = false;
          signalled = i;
        }
      }
      break;
    }
  }
  pthread_mutex_unlock(&g_eventLock);
  return signalled;
}

Mutex* MutexNew() {
  Mutex* mutex = static_cast<Mutex*>(HeapGet(sizeof(Mutex)));
  if (mutex) pthread_mutex_init(&mutex->mutex, nullptr);
  return mutex;
}

void MutexFree(Mutex* mutex) {
  if (!mutex) return;
  pthread_mutex_destroy(&mutex->mutex);
  HeapPut(mutex);
}

void MutexLock(Mutex* mutex) { pthread_mutex_lock(&mutex->mutex); }
void MutexUnlock(Mutex* mutex) { pthread_mutex_unlock(&mutex->mutex); }

static void* ThreadTrampoline(void* raw) {
  Thread* thread = static_cast<Thread*>(raw);
  thread->result = thread->proc(thread->argument);
  return nullptr;
}

Thread* ThreadStart(ThreadProc proc, void* argument) {
  Thread* thread = static_cast<Thread*>(HeapGet(sizeof(Thread)));
  if (!thread) return nullptr;
  thread->proc = proc;
  thread->argument = argument;
  thread->result = 0;
  if (pthread_create(&thread->thread, nullptr, ThreadTrampoline, thread) != 0) {
    HeapPut(thread);
    return nullptr;
  }
  return thread;
}

uint32_t ThreadJoin(Thread* thread) {
  pthread_join(thread->thread, nullptr);
  uint32_t result = thread->result;
  HeapPut(thread);
  return result;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

}  // namespace plat

// Win32 implementation of the platform seam: the product's.
#include <windows.h>
#include <mmsystem.h>

#include "common/platform.h"
#include "common/time_api_win32.h"

namespace plat {
namespace {

TickSource g_tickSource = nullptr;

using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);

// SetProcessInformation came with Windows 8 and is looked up, so that the
// product still loads where it is missing.
TimeApi MakeSystemTimeApi() {
  TimeApi api{};
  api.timeBeginPeriod = &::timeBeginPeriod;
  api.timeEndPeriod = &::timeEndPeriod;
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  api.SetProcessInformation =
      kernel ? reinterpret_cast<SetProcessInformationFn>(
                   reinterpret_cast<void*>(::GetProcAddress(kernel, "SetProcessInformation")))
             : nullptr;
  api.QueryPerformanceCounter = &::QueryPerformanceCounter;
  api.QueryPerformanceFrequency = &::QueryPerformanceFrequency;
  return api;
}

const TimeApi g_systemTimeApi = MakeSystemTimeApi();
const TimeApi* g_timeApi = &g_systemTimeApi;

// Milliseconds of the performance counter, which counts at a microsecond
// or finer where GetTickCount moves in steps of about 16 ms whatever the
// timer resolution. Split so that counter x 1000 cannot overflow.
uint32_t CounterTick() {
  const TimeApi* api = g_timeApi;
  LARGE_INTEGER frequency{};
  LARGE_INTEGER count{};
  if (!api->QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) frequency.QuadPart = 1000;
  api->QueryPerformanceCounter(&count);
  const uint64_t hz = static_cast<uint64_t>(frequency.QuadPart);
  const uint64_t counter = static_cast<uint64_t>(count.QuadPart);
  return static_cast<uint32_t>(counter / hz * 1000u + counter % hz * 1000u / hz);
}

// Windows 11 lowers the timer resolution of a process whose windows are all
// minimised or hidden unless the process opts out; a minimised Velmora
// must keep polling at the period the user set.
void KeepTimerResolutionWhenHidden(const TimeApi* api) {
  if (!api->SetProcessInformation) return;
  PROCESS_POWER_THROTTLING_STATE state{};
  state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
  state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
  state.StateMask = 0;  // controlled and off: the requests are always honoured
  api->SetProcessInformation(::GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

constexpr UINT kTimerResolutionMs = 1;

struct ThreadStart_ {
  ThreadProc proc;
  void* argument;
};

DWORD WINAPI ThreadTrampoline(void* raw) {
  ThreadStart_ start = *static_cast<ThreadStart_*>(raw);
  HeapFree(GetProcessHeap(), 0, raw);
  return start.proc(start.argument);
}

}  // namespace

void* HeapGet(size_t size) { return ::HeapAlloc(GetProcessHeap(), 0, size); }

void* HeapResize(void* block, size_t size) {
  return ::HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void HeapPut(void* block) {
  if (block) ::HeapFree(GetProcessHeap(), 0, block);
}

void FatalExit(uint32_t code) {
  ::TerminateProcess(GetCurrentProcess(), code);
  for (;;) ::ExitProcess(code);
}

uint32_t Tick() { return g_tickSource ? g_tickSource() : CounterTick(); }

TickSource SetTickSource(TickSource source) {
  TickSource previous = g_tickSource;
  g_tickSource = source;
  return previous;
}

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

const TimeApi* SystemTimeApi() { return &g_systemTimeApi; }

const TimeApi* SetTimeApi(const TimeApi* api) {
  const TimeApi* previous = g_timeApi;
  g_timeApi = api ? api : &g_systemTimeApi;
  return previous;
}

void TimerResolutionBegin() {
  const TimeApi* api = g_timeApi;
  KeepTimerResolutionWhenHidden(api);
  api->timeBeginPeriod(kTimerResolutionMs);
}

void TimerResolutionEnd() { g_timeApi->timeEndPeriod(kTimerResolutionMs); }

// An Event* is the event's HANDLE, so Windows-only code that needs the handle
// (overlapped I/O waits) can convert it back.
Event* EventNew(bool manualReset, bool initiallySet) {
  return reinterpret_cast<Event*>(::CreateEventW(nullptr, manualReset, initiallySet, nullptr));
}

void EventFree(Event* event) {
  if (event) ::CloseHandle(reinterpret_cast<HANDLE>(event));
}

void EventSet(Event* event) { ::SetEvent(reinterpret_cast<HANDLE>(event)); }
void EventReset(Event* event) { ::ResetEvent(reinterpret_cast<HANDLE>(event)); }

int EventWaitAny(Event* const* events, int count, uint32_t timeoutMs) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  if (count < 1 || count > 8) return kWaitFailed;
  for (int i = 0; i < count; ++i) handles[i] = reinterpret_cast<HANDLE>(events[i]);
  DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE,
                                          timeoutMs == kWaitForever ? INFINITE : timeoutMs);
  if (result < WAIT_OBJECT_0 + static_cast<DWORD>(count)) return static_cast<int>(result - WAIT_OBJECT_0);
  return result == WAIT_TIMEOUT ? kWaitTimedOut : kWaitFailed;
}

struct Mutex {
  CRITICAL_SECTION section;
};

Mutex* MutexNew() {
  Mutex* mutex = static_cast<Mutex*>(HeapGet(sizeof(Mutex)));
  if (mutex) ::InitializeCriticalSection(&mutex->section);
  return mutex;
}

void MutexFree(Mutex* mutex) {
  if (!mutex) return;
  ::DeleteCriticalSection(&mutex->section);
  HeapPut(mutex);
}

void MutexLock(Mutex* mutex) { ::EnterCriticalSection(&mutex->section); }
void MutexUnlock(Mutex* mutex) { ::LeaveCriticalSection(&mutex->section); }

Thread* ThreadStart(ThreadProc proc, void* argument) {
  ThreadStart_* start = static_cast<ThreadStart_*>(HeapGet(sizeof(ThreadStart_)));
  if (!start) return nullptr;
  start->proc = proc;
  start->argument = argument;
  HANDLE handle = ::CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
  if (!handle) {
    HeapPut(start);
    return nullptr;
  }
  return reinterpret_cast<Thread*>(handle);
}

uint32_t ThreadJoin(Thread* thread) {
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  ::WaitForSingleObject(handle, INFINITE);
  DWORD code = 0;
  ::GetExitCodeThread(handle, &code);
  ::CloseHandle(handle);
  return code;
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace plat

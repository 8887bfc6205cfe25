#pragma once
// The Windows calls behind the platform layer's clock and timer
// resolution. The product uses the system's functions; a test puts its own
// table in place to count what is asked and to drive the counter.

#include <windows.h>
#include <mmsystem.h>

namespace plat {

struct TimeApi {
  MMRESULT(WINAPI* timeBeginPeriod)(UINT periodMs);
  MMRESULT(WINAPI* timeEndPeriod)(UINT periodMs);
  // Null where the system lacks it (before Windows 8): nothing to opt out of.
  BOOL(WINAPI* SetProcessInformation)(HANDLE process, PROCESS_INFORMATION_CLASS kind, LPVOID information,
                                      DWORD size);
  BOOL(WINAPI* QueryPerformanceCounter)(LARGE_INTEGER* count);
  BOOL(WINAPI* QueryPerformanceFrequency)(LARGE_INTEGER* frequency);
};

// The table of the system's functions.
const TimeApi* SystemTimeApi();
// Replaces the table (null: the system's) and returns the previous one.
// Install it before starting threads that read the tick.
const TimeApi* SetTimeApi(const TimeApi* api);

}  // namespace plat

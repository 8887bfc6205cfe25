#pragma once
// The Win32 calls through which the serial port transport reaches its
// communications driver and waits for it. The product uses the system's
// functions (SystemCommApi); a test puts a simulated line behind the same
// table. Events and mutexes the transport creates itself are real kernel
// objects either way; only waiting on them goes through the table, so a
// simulated line can let virtual time pass while the transport waits.

#include <windows.h>

struct CommApi {
  HANDLE(WINAPI* CreateFileW)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile);
  BOOL(WINAPI* CloseHandle)(HANDLE port);
  BOOL(WINAPI* GetCommState)(HANDLE port, LPDCB dcb);
  BOOL(WINAPI* SetCommState)(HANDLE port, LPDCB dcb);
  BOOL(WINAPI* SetCommTimeouts)(HANDLE port, LPCOMMTIMEOUTS timeouts);
  BOOL(WINAPI* SetCommMask)(HANDLE port, DWORD mask);
  BOOL(WINAPI* WaitCommEvent)(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped);
  BOOL(WINAPI* ClearCommError)(HANDLE port, LPDWORD errors, LPCOMSTAT status);
  BOOL(WINAPI* PurgeComm)(HANDLE port, DWORD flags);
  BOOL(WINAPI* ReadFile)(HANDLE port, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
  BOOL(WINAPI* WriteFile)(HANDLE port, LPCVOID bytes, DWORD count, LPDWORD done,
                          LPOVERLAPPED overlapped);
  BOOL(WINAPI* GetOverlappedResult)(HANDLE port, LPOVERLAPPED overlapped, LPDWORD done, BOOL wait);
  BOOL(WINAPI* CancelIo)(HANDLE port);
  DWORD(WINAPI* WaitForMultipleObjects)(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs);
  DWORD(WINAPI* GetLastError)();
};

// The table of the real Win32 functions.
const CommApi* SystemCommApi();

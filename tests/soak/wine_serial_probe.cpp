// What the serial calls alone cost a process under Wine: opens a COM port
// (linked to a pseudo-terminal) and closes it again, cycles times, doing per
// cycle what an RTU master does on a line whose peer is silent: the line
// set up, waits comm-event waits on EV_RXCHAR | EV_ERR (ended by the driver
// or cancelled after 60 ms), one request written, the queue polled, the
// port purged and closed. Prints the commit charge before and after (after
// ten warm-up cycles) and the growth per cycle, so that the growth of a
// serial plug-in over a thousand Connects can be told from Wine's own.
//
//   wine_serial_probe.exe COMn CYCLES WAITS
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

long long CommitBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  // Wine leaves PrivateUsage 0.
  return static_cast<long long>(counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage);
}

bool Cycle(const char* path, int waits) {
  HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                            nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  DCB dcb = {};
  dcb.DCBlength = sizeof(dcb);
  GetCommState(port, &dcb);
  dcb.BaudRate = 19200;
  dcb.ByteSize = 8;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(port, &dcb);
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  SetCommTimeouts(port, &timeouts);
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD done = 0;
  for (int i = 0; i < waits; ++i) {
    DWORD events = 0;
    ResetEvent(overlapped.hEvent);
    SetCommMask(port, 0);
    SetCommMask(port, EV_RXCHAR | EV_ERR);
    if (!WaitCommEvent(port, &events, &overlapped) && GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(overlapped.hEvent, 60) != WAIT_OBJECT_0) {
        SetCommMask(port, 0);
        CancelIo(port);
      }
      GetOverlappedResult(port, &overlapped, &done, TRUE);
    }
  }
  const unsigned char request[8] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
  ResetEvent(overlapped.hEvent);
  if (!WriteFile(port, request, sizeof(request), nullptr, &overlapped) && GetLastError() == ERROR_IO_PENDING) {
    GetOverlappedResult(port, &overlapped, &done, TRUE);
  }
  for (int i = 0; i < 20; ++i) {
    DWORD errors = 0;
    COMSTAT status = {};
    ClearCommError(port, &errors, &status);
    Sleep(1);
  }
  CloseHandle(overlapped.hEvent);
  SetCommMask(port, 0);
  PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT);
  CloseHandle(port);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: wine_serial_probe.exe COMn CYCLES WAITS\n");
    return 2;
  }
  char path[64];
  snprintf(path, sizeof(path), "\\\\.\\%s", argv[1]);
  const int cycles = atoi(argv[2]);
  const int waits = atoi(argv[3]);
  long long before = 0;
  for (int i = 0; i < cycles + 10; ++i) {
    if (i == 10) before = CommitBytes();
    if (!Cycle(path, waits)) {
      printf("cannot open %s\n", argv[1]);
      return 1;
    }
  }
  const long long after = CommitBytes();
  printf("cycles %d waits %d commit %lld -> %lld KiB, %lld bytes a cycle\n", cycles, waits, before / 1024, after / 1024,
         cycles > 0 ? (after - before) / cycles : 0);
  return 0;
}

// Reports which line settings the communications driver accepts on a port:
// each change of the control block is written with SetCommState on its own
// and read back. The serial end-to-end test prints this table, because Wine
// on a pseudo-terminal takes only some of them.
//   serial_line_probe COMn
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Change {
  const char* name;
  void (*apply)(DCB* dcb);
};

const Change kChanges[] = {
    {"unchanged", [](DCB*) {}},
    {"baud 1200", [](DCB* d) { d->BaudRate = 1200; }},
    {"baud 9600", [](DCB* d) { d->BaudRate = 9600; }},
    {"baud 19200", [](DCB* d) { d->BaudRate = 19200; }},
    {"baud 115200", [](DCB* d) { d->BaudRate = 115200; }},
    {"8 data bits, no parity, 1 stop", [](DCB* d) { d->ByteSize = 8; d->Parity = NOPARITY; d->StopBits = ONESTOPBIT; }},
    {"7 data bits", [](DCB* d) { d->ByteSize = 7; }},
    {"even parity", [](DCB* d) { d->Parity = EVENPARITY; d->fParity = TRUE; }},
    {"odd parity", [](DCB* d) { d->Parity = ODDPARITY; d->fParity = TRUE; }},
    {"2 stop bits", [](DCB* d) { d->StopBits = TWOSTOPBITS; }},
    {"CTS flow (handshake 1)", [](DCB* d) { d->fOutxCtsFlow = TRUE; }},
    {"DSR flow (handshake 2)", [](DCB* d) { d->fOutxDsrFlow = TRUE; }},
    {"CTS+DSR flow (handshake 3)", [](DCB* d) { d->fOutxCtsFlow = TRUE; d->fOutxDsrFlow = TRUE; }},
    {"RTS toggle (handshake 4)", [](DCB* d) { d->fRtsControl = RTS_CONTROL_TOGGLE; }},
};

}  // namespace

int main(int argc, char** argv) {
  std::string name = argc > 1 ? argv[1] : "COM11";
  std::wstring path = L"\\\\.\\" + std::wstring(name.begin(), name.end());
  HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::printf("CreateFileW %s failed, error %lu\n", name.c_str(), GetLastError());
    return 1;
  }
  DCB original = {};
  original.DCBlength = sizeof(DCB);
  if (!GetCommState(port, &original)) {
    std::printf("GetCommState failed, error %lu\n", GetLastError());
    return 1;
  }
  std::printf("%-32s %-10s %s\n", "SetCommState with", "result", "read back");
  for (const Change& change : kChanges) {
    DCB wanted = original;
    change.apply(&wanted);
    SetLastError(0);
    BOOL ok = SetCommState(port, &wanted);
    DWORD error = GetLastError();
    DCB now = {};
    now.DCBlength = sizeof(DCB);
    GetCommState(port, &now);
    bool kept = now.BaudRate == wanted.BaudRate && now.ByteSize == wanted.ByteSize &&
                now.Parity == wanted.Parity && now.StopBits == wanted.StopBits &&
                now.fOutxCtsFlow == wanted.fOutxCtsFlow && now.fOutxDsrFlow == wanted.fOutxDsrFlow &&
                now.fRtsControl == wanted.fRtsControl;
    char result[32];
    std::snprintf(result, sizeof result, ok ? "ok" : "error %lu", error);
    std::printf("%-32s %-10s %s (baud %lu, %u bits, parity %u, stop %u, cts %u, dsr %u, rts %u)\n", change.name,
                result, ok ? (kept ? "as set" : "NOT as set") : "-", now.BaudRate, now.ByteSize, now.Parity,
                now.StopBits, now.fOutxCtsFlow, now.fOutxDsrFlow, now.fRtsControl);
    SetCommState(port, &original);
  }
  CloseHandle(port);
  return 0;
}

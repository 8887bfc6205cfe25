#pragma once
// A simulated serial line behind the communications seam. Bytes arrive at
// chosen virtual times and at the wire speed of the line settings the
// transport programmed; the driver's interval and total read time-outs,
// comm-event waits, error bits, purges and cancellation behave as the
// Windows serial driver documents them; written bytes leave the output
// queue at wire speed. Time is virtual: a wait through the seam lets time
// pass up to the next thing that happens on the line instead of sleeping,
// and plat::Tick() follows it (FakeClock).
//
// Only one SimulatedLine may live at a time (the seam's entries are plain
// functions). Calls are serialised by an internal lock, so another thread
// may call Cancel on the transport while the worker waits.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "transport/serial/comm_api.h"

class SimulatedLine {
 public:
  static constexpr uint64_t kNever = UINT64_MAX;

  SimulatedLine();
  ~SimulatedLine();
  SimulatedLine(const SimulatedLine&) = delete;
  SimulatedLine& operator=(const SimulatedLine&) = delete;

  const CommApi* Api() const { return &api_; }

  // Virtual time in microseconds since the line was created.
  uint64_t NowUs();
  // Lets virtual time pass, delivering what arrives meanwhile.
  void AdvanceUs(uint64_t microseconds);

  // The time one character takes with the line settings in force.
  uint64_t CharacterUs();

  // Schedules bytes whose start bit begins at startUs; byte i is complete
  // at startUs + (i + 1) character times. Returns the time the last byte is
  // complete.
  uint64_t Arrive(uint64_t startUs, const std::vector<uint8_t>& bytes);
  // A USB serial adapter between the line and the driver: received bytes
  // are held until packetBytes are collected or latencyUs has passed since
  // its last delivery, then handed to the driver at once (the common chips
  // send 62 bytes a packet, or what they hold when their 16 ms latency timer
  // runs out). 0 packet bytes: bytes reach the driver as they arrive.
  void SetAdapter(uint32_t packetBytes, uint64_t latencyUs);

  // The driver flags line-error bits (CE_...) at that time; with
  // withByte the character that carried the error is still queued.
  void RaiseErrors(uint64_t atUs, DWORD errors, bool withByte);
  // Runs an action at a virtual time (outside the line's lock), for
  // example the transport's Cancel as if another thread called it then.
  void At(uint64_t atUs, std::function<void()> action);

  // Output: every byte written, with the time its start bit left the port.
  struct SentByte {
    uint64_t startUs;
    uint8_t value;
  };
  std::vector<SentByte> Sent();
  std::vector<uint8_t> SentBytes();
  // A stalled output (flow control holding it) keeps written bytes queued.
  void SetOutputStalled(bool stalled);
  // Drivers such as the standard 16550 one complete an overlapped write
  // only when its last byte has left the port; by default the simulated
  // driver completes it at once, when the bytes are queued.
  void SetWriteCompletesOnWire(bool onWire);

  // The control block the port starts with: every flag and control field
  // set (true) or cleared (false), so that a transport that leaves one
  // alone is seen to.
  void SetAllDcbFlags(bool on);

  // What the transport asked of the driver.
  std::wstring OpenedPath();
  int CreateCalls();
  // The access the last CreateFileW asked for, and every WriteFile call.
  DWORD OpenedAccess();
  int WriteFileCalls();
  DCB State();
  COMMTIMEOUTS Timeouts();
  std::vector<COMMTIMEOUTS> TimeoutHistory();
  bool PortOpen();
  int QueuedInput();

  // Faults of the driver.
  void FailCreate(bool fail);
  // SetCommState calls from this count on (1-based) fail, as Wine's does
  // for settings a pseudo-terminal cannot take.
  void FailSetCommStateFrom(int call);

  // A USB adapter pulled out: its driver completes the pending read, wait
  // or write as aborted (ERROR_OPERATION_ABORTED) and from then on fails
  // every call on the open handle with `error` (ERROR_BAD_COMMAND from
  // usbser and FTDI drivers, ERROR_ACCESS_DENIED or ERROR_GEN_FAILURE from
  // others, ERROR_OPERATION_ABORTED); only CloseHandle still works. While
  // it is away CreateFile fails with ERROR_FILE_NOT_FOUND. Once it is back
  // (ReturnDevice) the port opens again, but only after the dead handle has
  // been closed: until then the name is still in use (ERROR_ACCESS_DENIED).
  void RemoveDevice(DWORD error);
  void ReturnDevice();

  // Wine on a pseudo-terminal ends a pending WaitCommEvent as aborted, with
  // an empty mask, some milliseconds after it began. Non-zero: every such
  // wait ends that way after this long unless something arrived first.
  void SetSpuriousWaitEnd(uint64_t afterUs);
  // Every WaitCommEvent fails at once as aborted, without pending. A caller
  // that asks again without letting time pass would spin for ever on the
  // virtual clock: after 100 refusals at the same instant the line lets a
  // millisecond pass itself, so such a loop ends and can be counted.
  void SetWaitRefusedAtOnce(bool refused);
  // Wine on a serial device node (not a pty): CancelIo leaves a pending
  // WaitCommEvent running; only a change of the event mask ends it.
  void SetCancelLeavesWait(bool leaves) { cancelLeavesWait_ = leaves; }
  int WaitCommEventCalls();

  // When set, a wait with nothing scheduled before its time-out blocks for
  // real (up to this many milliseconds), so another thread can end it.
  void SetRealWaitLimit(uint32_t milliseconds);
  // Set (manual reset) when such a real wait begins: another thread waits
  // on it before ending the wait, instead of sleeping.
  HANDLE RealWaitBegun() const { return realWaitBegun_; }

  // True once the transport waited without limit on a quiet line (a fault
  // of the transport: it would hang on a real port).
  bool Stuck();

 private:
  struct Arrival {
    uint64_t atUs;
    bool hasByte;
    uint8_t value;
    DWORD errors;
  };
  struct QueuedByte {
    uint8_t value;
    uint64_t arrivedUs;
  };
  struct PendingRead {
    OVERLAPPED* overlapped = nullptr;
    uint8_t* buffer = nullptr;
    DWORD capacity = 0;
    DWORD got = 0;
    uint64_t startUs = 0;
    uint64_t lastUs = 0;
  };
  struct PendingWait {
    OVERLAPPED* overlapped = nullptr;
    DWORD* mask = nullptr;
    uint64_t startUs = 0;
  };
  struct PendingWrite {
    OVERLAPPED* overlapped = nullptr;
    DWORD count = 0;
    size_t lastByte = 0;  // index in leaveUs_ of its last byte
  };
  struct Scripted {
    uint64_t atUs;
    std::function<void()> action;
  };

  using Lock = std::unique_lock<std::recursive_mutex>;

  static SimulatedLine* current_;
  static HANDLE WINAPI SimCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  static BOOL WINAPI SimCloseHandle(HANDLE);
  static BOOL WINAPI SimGetCommState(HANDLE, LPDCB);
  static BOOL WINAPI SimSetCommState(HANDLE, LPDCB);
  static BOOL WINAPI SimSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS);
  static BOOL WINAPI SimSetCommMask(HANDLE, DWORD);
  static BOOL WINAPI SimWaitCommEvent(HANDLE, LPDWORD, LPOVERLAPPED);
  static BOOL WINAPI SimClearCommError(HANDLE, LPDWORD, LPCOMSTAT);
  static BOOL WINAPI SimPurgeComm(HANDLE, DWORD);
  static BOOL WINAPI SimReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  static BOOL WINAPI SimWriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  static BOOL WINAPI SimGetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
  static BOOL WINAPI SimCancelIo(HANDLE);
  static DWORD WINAPI SimWaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD);
  static DWORD WINAPI SimGetLastError();

  BOOL Fail(DWORD error);
  bool IsPort(HANDLE handle) const;
  // The open port's handle, and not one of a removed device; otherwise the
  // last error is set as the driver sets it.
  bool Usable(HANDLE handle);
  uint64_t ByteUs(uint64_t count);
  uint64_t NextEventUs();
  void AdvanceTo(uint64_t atUs, Lock& lock);
  void Deliver();
  void Receive(const Arrival& arrival);
  void ShipAdapterPacket(uint64_t atUs);
  uint64_t AdapterDueUs() const;
  void CheckReadDone();
  void CompleteRead(DWORD error);
  void CompleteWait(DWORD events);
  void CheckWriteDone();
  void AbortWrite();
  void Complete(OVERLAPPED* overlapped, DWORD error, DWORD count);
  DWORD OutQueue();
  void Transmit(uint8_t value);
  uint64_t ReadIntervalUs() const;
  uint64_t ReadTotalDeadlineUs() const;

  std::recursive_mutex mutex_;
  FakeClock clock_;
  uint32_t baseMs_;
  CommApi api_{};
  uint64_t nowUs_ = 0;
  bool open_ = false;
  bool failCreate_ = false;
  bool deviceAway_ = false;
  bool deadHandle_ = false;  // the open handle belongs to a removed device
  DWORD removalError_ = 0;
  int setStateCalls_ = 0;
  int failSetStateFrom_ = 0;
  int createCalls_ = 0;
  DWORD access_ = 0;
  int writeFileCalls_ = 0;
  std::wstring path_;
  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  std::vector<COMMTIMEOUTS> timeoutHistory_;
  DWORD mask_ = 0;
  DWORD latched_ = 0;
  DWORD errors_ = 0;
  std::deque<Arrival> arrivals_;
  uint32_t adapterPacket_ = 0;  // 0: no adapter
  uint64_t adapterLatencyUs_ = 0;
  uint64_t adapterLastUs_ = 0;  // its last delivery
  std::vector<uint8_t> adapterHeld_;
  std::deque<QueuedByte> input_;
  std::vector<SentByte> sent_;
  std::vector<uint64_t> leaveUs_;  // per sent byte: when its last bit left
  bool stalled_ = false;
  bool writeOnWire_ = false;
  bool writePending_ = false;
  PendingWrite write_;
  bool waitRefused_ = false;
  bool cancelLeavesWait_ = false;
  int waitCalls_ = 0;
  uint64_t refusedAtUs_ = 0;
  int refusedThere_ = 0;
  std::vector<uint8_t> held_;  // written while the output is stalled
  bool readPending_ = false;
  PendingRead read_;
  bool waitPending_ = false;
  PendingWait wait_;
  std::vector<Scripted> scripted_;
  uint32_t realWaitMs_ = 0;
  HANDLE realWaitBegun_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  uint64_t spuriousWaitEndUs_ = 0;
  bool stuck_ = false;
};

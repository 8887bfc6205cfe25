#include "transport/serial/serial_port.h"

#include "common/exit_codes.h"
#include "common/deadline.h"
#include "common/memory.h"
#include "common/platform.h"
#include "modbus/status.h"
#include "transport/serial/comm_api.h"
#include "transport/serial/line_timing.h"

namespace {

constexpr DWORD kLineErrorBits = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK;
constexpr DWORD kOverrunBits = CE_RXOVER | CE_OVERRUN;
constexpr uint32_t kOpenReadConstantMs = 50;
constexpr uint32_t kDrainPollMs = 2;
// The step of the queued-count poll that replaces the comm-event wait on a
// driver that ends that wait without an event.
constexpr uint32_t kCharacterPollMs = 1;

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

bool IsTaken(DWORD waitResult) {
  return waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED_0;
}

// Switches off every flow-control and substitution flag and sets DTR and
// RTS on, so that a handshake starts from a known line.
void ResetFlowControl(DCB* dcb) {
  dcb->fDtrControl = DTR_CONTROL_ENABLE;
  dcb->fRtsControl = RTS_CONTROL_ENABLE;
  dcb->fTXContinueOnXoff = TRUE;
  dcb->fOutxCtsFlow = FALSE;
  dcb->fOutxDsrFlow = FALSE;
  dcb->fDsrSensitivity = FALSE;
  dcb->fOutX = FALSE;
  dcb->fInX = FALSE;
  dcb->fErrorChar = FALSE;
  dcb->fNull = FALSE;
  dcb->fAbortOnError = FALSE;
}

}  // namespace

SerialPortTransport::SerialPortTransport(const SerialLineSettings& settings, const CommApi* api)
    : settings_(settings), api_(api ? api : SystemCommApi()), port_(INVALID_HANDLE_VALUE) {
  settings_.portName = nullptr;  // the path below is the transport's own copy
  bitsPerCharacter_ = ::BitsPerCharacter(settings.dataBits, settings.parity, settings.stopBits);
  // A name longer than the settings page produces is refused, not cut: the
  // path stays empty and Open fails.
  const char16_t* name = settings.portName ? settings.portName : u"";
  const bool isPath = name[0] == u'\\' && name[1] == u'\\';
  const char16_t* prefix = isPath ? u"" : u"\\\\.\\";
  uint32_t nameLength = 0;
  while (name[nameLength] && nameLength <= kMaxPathLength) ++nameLength;
  if (nameLength > 0 && nameLength <= (isPath ? kMaxPathLength : kMaxPortNameLength)) {
    uint32_t length = 0;
    for (; *prefix; ++prefix) path_[length++] = *prefix;
    for (; *name; ++name) path_[length++] = *name;
    path_[length] = 0;
  }
  portGuard_ = plat::MutexNew();
  if (!portGuard_) plat::FatalExit(kExitOutOfMemory);
  SetCancelHook(&SerialPortTransport::CancelPendingIo);
}

SerialPortTransport::~SerialPortTransport() {
  Close();
  FreeSyncObjects();
  plat::MutexFree(portGuard_);
}

bool SerialPortTransport::PortOpen() const { return AsHandle(port_) != INVALID_HANDLE_VALUE; }

bool SerialPortTransport::CreateSyncObjects() {
  if (!ioEvent_) ioEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!readMutex_) readMutex_ = ::CreateMutexW(nullptr, FALSE, nullptr);
  if (!writeMutex_) writeMutex_ = ::CreateMutexW(nullptr, FALSE, nullptr);
  if (ioEvent_ && readMutex_ && writeMutex_) return true;
  FreeSyncObjects();
  return false;
}

void SerialPortTransport::FreeSyncObjects() {
  void* objects[] = {ioEvent_, readMutex_, writeMutex_};
  for (void* object : objects) {
    if (object) ::CloseHandle(AsHandle(object));
  }
  ioEvent_ = readMutex_ = writeMutex_ = nullptr;
}

int32_t SerialPortTransport::Open() {
  if (settings_.handshake > kHandshakeRtsToggle) return 0;
  if (PortOpen()) Close();
  if (path_[0] == 0) return 0;
  if (!CreateSyncObjects()) return 0;

  const DWORD access = settings_.receiveOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  HANDLE port = api_->CreateFileW(reinterpret_cast<LPCWSTR>(path_), access, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) return 0;
  pollForCharacters_ = false;
  plat::MutexLock(portGuard_);
  port_ = port;
  plat::MutexUnlock(portGuard_);

  DCB dcb;
  mem::FillBytes(&dcb, 0, sizeof(dcb));
  dcb.DCBlength = sizeof(dcb);
  if (!api_->GetCommState(port, &dcb)) {
    Close();
    return 0;
  }
  dcb.BaudRate = settings_.baudRate;
  dcb.ByteSize = settings_.dataBits;
  dcb.Parity = settings_.parity;
  dcb.StopBits = settings_.stopBits;
  dcb.fBinary = TRUE;
  dcb.fParity = settings_.parity != kParityNone ? TRUE : FALSE;
  ResetFlowControl(&dcb);
  if (!api_->SetCommState(port, &dcb)) {
    Close();
    return 0;
  }

  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = kOpenReadConstantMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kDefaultWriteBudgetMs;
  if (!api_->SetCommTimeouts(port, &timeouts)) {
    Close();
    return 0;
  }

  plat::EventReset(StopEvent());
  if (!ApplyHandshake() || !ApplyLineTimeouts()) {
    Close();
    return 0;
  }
  return 1;
}

int32_t SerialPortTransport::ApplyHandshake() {
  HANDLE port = AsHandle(port_);
  DCB dcb;
  mem::FillBytes(&dcb, 0, sizeof(dcb));
  dcb.DCBlength = sizeof(dcb);
  if (!api_->GetCommState(port, &dcb)) return 0;
  ResetFlowControl(&dcb);
  switch (settings_.handshake) {
    case kHandshakeCts:
      dcb.fOutxCtsFlow = TRUE;
      break;
    case kHandshakeDsr:
      dcb.fOutxDsrFlow = TRUE;
      break;
    case kHandshakeCtsDsr:
      dcb.fOutxCtsFlow = TRUE;
      dcb.fOutxDsrFlow = TRUE;
      break;
    case kHandshakeRtsToggle:
      dcb.fRtsControl = RTS_CONTROL_TOGGLE;
      break;
    default:
      break;
  }
  return api_->SetCommState(port, &dcb) ? 1 : 0;
}

void SerialPortTransport::Close() {
  bytesWritten_ = 0;
  deferredLineErrors_ = 0;
  plat::EventSet(StopEvent());
  if (!PortOpen()) return;
  HANDLE port = AsHandle(port_);
  api_->SetCommMask(port, 0);
  api_->PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT);
  // Both mutexes: an operation in progress on the worker ends first. An
  // abandoned mutex counts as taken.
  HANDLE mutexes[2] = {AsHandle(readMutex_), AsHandle(writeMutex_)};
  for (HANDLE mutex : mutexes) api_->WaitForMultipleObjects(1, &mutex, FALSE, INFINITE);
  ReleasePort();
  for (HANDLE mutex : mutexes) ::ReleaseMutex(mutex);
}

void SerialPortTransport::ReleasePort() {
  plat::MutexLock(portGuard_);
  HANDLE port = AsHandle(port_);
  port_ = INVALID_HANDLE_VALUE;
  if (port != INVALID_HANDLE_VALUE) api_->CloseHandle(port);
  plat::MutexUnlock(portGuard_);
}

void SerialPortTransport::CancelPendingIo(Transport* transport) {
  SerialPortTransport* self = static_cast<SerialPortTransport*>(transport);
  plat::MutexLock(self->portGuard_);
  if (self->PortOpen()) {
    HANDLE port = AsHandle(self->port_);
    // Disabling the comm events ends a pending wait for a character.
    self->api_->SetCommMask(port, 0);
    self->api_->PurgeComm(port, PURGE_RXABORT);
    self->api_->PurgeComm(port, PURGE_TXABORT);
  }
  plat::MutexUnlock(self->portGuard_);
}

int32_t SerialPortTransport::IsReady() { return PortOpen() ? 1 : 0; }

bool SerialPortTransport::WaitOnStopEvent(uint32_t timeoutMs) {
  HANDLE stop = reinterpret_cast<HANDLE>(StopEvent());
  return api_->WaitForMultipleObjects(1, &stop, FALSE, timeoutMs) == WAIT_OBJECT_0;
}

uint32_t SerialPortTransport::TakeDeferredLineErrors() {
  uint32_t errors = deferredLineErrors_;
  deferredLineErrors_ = 0;
  return errors;
}

bool SerialPortTransport::QueryDriver(uint32_t* lineErrors, uint32_t* inQueue, uint32_t* outQueue) {
  DWORD errors = 0;
  COMSTAT status;
  mem::FillBytes(&status, 0, sizeof(status));
  if (!PortOpen() || !api_->ClearCommError(AsHandle(port_), &errors, &status)) return false;
  *lineErrors = errors & kLineErrorBits;
  if (inQueue) *inQueue = status.cbInQue;
  if (outQueue) *outQueue = status.cbOutQue;
  return true;
}

SerialPortTransport::DriverResult SerialPortTransport::ResultOfError(uint32_t error, DriverResult aborted) {
  if (error == ERROR_OPERATION_ABORTED) return aborted;
  return error == ERROR_SEM_TIMEOUT ? DriverResult::TimedOut : DriverResult::Failed;
}

SerialPortTransport::DriverOutcome SerialPortTransport::AwaitOverlapped(void* raw, uint32_t deadline, bool commWait) {
  OVERLAPPED* overlapped = static_cast<OVERLAPPED*>(raw);
  HANDLE port = AsHandle(port_);
  HANDLE handles[2] = {AsHandle(ioEvent_), reinterpret_cast<HANDLE>(StopEvent())};
  DriverOutcome outcome;
  DWORD wait = api_->WaitForMultipleObjects(2, handles, FALSE, RemainingMs(deadline));
  DWORD done = 0;
  if (wait == WAIT_OBJECT_0) {
    if (api_->GetOverlappedResult(port, overlapped, &done, FALSE)) {
      outcome.result = DriverResult::Ok;
    } else {
      outcome.result = ResultOfError(api_->GetLastError(), DriverResult::Cancelled);
    }
    outcome.count = done;
    return outcome;
  }
  DriverResult reason = wait == WAIT_OBJECT_0 + 1 ? DriverResult::Cancelled
                        : wait == WAIT_TIMEOUT    ? DriverResult::TimedOut
                                                  : DriverResult::Failed;
  // A comm-event wait is ended by a change of the event mask, on every
  // driver; Wine leaves it running after CancelIo on a serial device, and
  // the wait for the cancel below would never return.
  if (commWait) api_->SetCommMask(port, 0);
  api_->CancelIo(port);
  if (api_->GetOverlappedResult(port, overlapped, &done, TRUE)) {
    outcome.result = DriverResult::Ok;  // it completed after all
  } else {
    outcome.result = ResultOfError(api_->GetLastError(), reason);
  }
  outcome.count = done;
  return outcome;
}

SerialPortTransport::DriverOutcome SerialPortTransport::Transfer(bool write, void* buffer, uint32_t count,
                                                                 uint32_t timeoutMs) {
  DriverOutcome outcome;
  if (!PortOpen()) {
    outcome.result = DriverResult::NotOpen;
    return outcome;
  }
  uint32_t deadline = DeadlineAfter(timeoutMs);
  HANDLE mutex = AsHandle(write ? writeMutex_ : readMutex_);
  DWORD taken = api_->WaitForMultipleObjects(1, &mutex, FALSE, timeoutMs);
  if (!IsTaken(taken)) {
    outcome.result = taken == WAIT_TIMEOUT ? DriverResult::TimedOut : DriverResult::Failed;
    return outcome;
  }
  HANDLE port = AsHandle(port_);
  OVERLAPPED overlapped;
  mem::FillBytes(&overlapped, 0, sizeof(overlapped));
  overlapped.hEvent = AsHandle(ioEvent_);
  ::ResetEvent(overlapped.hEvent);
  DWORD done = 0;
  BOOL started = write ? api_->WriteFile(port, buffer, count, &done, &overlapped)
                       : api_->ReadFile(port, buffer, count, &done, &overlapped);
  if (started) {
    if (api_->GetOverlappedResult(port, &overlapped, &done, FALSE)) {
      outcome.result = DriverResult::Ok;
      outcome.count = done;
    }
  } else {
    DWORD error = api_->GetLastError();
    if (error == ERROR_IO_PENDING) {
      outcome = AwaitOverlapped(&overlapped, deadline);
      outcome.held = true;
    } else {
      outcome.result = ResultOfError(error, DriverResult::Cancelled);
    }
  }
  uint32_t lineErrors = 0;
  if (!QueryDriver(&lineErrors, nullptr, nullptr)) {
    outcome.result = DriverResult::Failed;
  } else if (write) {
    // Every line-error bit is a receive-side condition: noise on an idle
    // line or another node's damaged frame must not fail our own write.
    deferredLineErrors_ |= lineErrors;
  } else if (lineErrors) {
    outcome.result = DriverResult::Failed;
    outcome.lineErrors = lineErrors;
  }
  ::ReleaseMutex(mutex);
  return outcome;
}

SerialPortTransport::DriverOutcome SerialPortTransport::ReadBytes(uint8_t* buffer, uint32_t capacity,
                                                                  uint32_t timeoutMs) {
  return Transfer(false, buffer, capacity, timeoutMs);
}

int32_t SerialPortTransport::MapOutcome(const DriverOutcome& outcome) {
  if (outcome.lineErrors) {
    return (outcome.lineErrors & kOverrunBits) ? TransportOverrun : TransportLineError;
  }
  switch (outcome.result) {
    case DriverResult::Ok:
      return static_cast<int32_t>(outcome.count);
    case DriverResult::TimedOut:
      return TransportTimedOut;
    case DriverResult::Cancelled:
    case DriverResult::NotOpen:
      return TransportCancelled;
    default:
      return TransportIoError;
  }
}

int32_t SerialPortTransport::Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  if (!buffer || capacity == 0) return 0;
  if (StopRequested() || !PortOpen()) return TransportCancelled;
  // Errors flagged while we were writing are this receive's to report;
  // what has arrived since stays queued for the next read.
  DriverOutcome outcome;
  outcome.lineErrors = TakeDeferredLineErrors();
  if (outcome.lineErrors) return MapOutcome(outcome);
  outcome = Transfer(false, buffer, capacity, timeoutMs);
  // A read that the time-out ended after some bytes had arrived delivers
  // them: they have left the driver and exist nowhere else.
  if (outcome.result == DriverResult::TimedOut && !outcome.lineErrors && outcome.count > 0) {
    return static_cast<int32_t>(outcome.count);
  }
  return CloseOnDriverFailure(MapOutcome(outcome));
}

int32_t SerialPortTransport::Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) {
  if (StopRequested()) return TransportCancelled;
  if (settings_.receiveOnly) return TransportIoError;
  const uint32_t started = plat::Tick();
  DriverOutcome outcome = Transfer(true, const_cast<uint8_t*>(bytes), length, timeoutMs);
  int32_t result = MapOutcome(outcome);
  if (result > 0) {
    // The tick counter may be coarse (about 16 ms on Windows): a write the
    // driver completed at once is not discounted by a tick that happened to
    // pass during it.
    if (bytesWritten_ == 0) transmitStart_ = outcome.held ? started : plat::Tick();
    uint32_t room = 0xFFFFFFFFu - bytesWritten_;
    bytesWritten_ += static_cast<uint32_t>(result) < room ? static_cast<uint32_t>(result) : room;
  }
  return result;
}

uint32_t SerialPortTransport::WriteBudget(uint32_t length) {
  uint32_t wire = WireTimeMs(length, bitsPerCharacter_, settings_.baudRate);
  return wire > 0xFFFFFFFFu - kDefaultWriteBudgetMs ? 0xFFFFFFFFu : wire + kDefaultWriteBudgetMs;
}

int32_t SerialPortTransport::FinishTransmit(uint32_t timeoutMs) {
  uint32_t deadline = DeadlineAfter(timeoutMs);
  uint32_t count = bytesWritten_;
  bytesWritten_ = 0;
  // The wire time counts from the start of the first write when the driver
  // held it: a driver that completes a write only once the bytes have left
  // the port has spent it inside Write already, and what remains is the
  // drain of its queue.
  uint32_t wire = WireTimeMs(count, bitsPerCharacter_, settings_.baudRate);
  const int32_t spent = TickDiff(plat::Tick(), transmitStart_);
  if (count > 0 && spent > 0) {
    wire = static_cast<uint32_t>(spent) < wire ? wire - static_cast<uint32_t>(spent) : 0;
  }
  if (wire > 0) {
    int32_t left = TickDiff(deadline, plat::Tick());
    // Bytes that cannot have left the port by the deadline: fail at once
    // rather than wait for a time-out that is certain.
    if (left <= 0 || static_cast<uint32_t>(left) < wire) return TransportTimedOut;
    if (WaitOnStopEvent(wire)) return TransportCancelled;
  }
  if (DeadlinePassed(deadline)) return TransportTimedOut;

  DriverOutcome outcome;
  for (;;) {
    uint32_t lineErrors = 0;
    uint32_t queued = 0;
    if (!PortOpen()) {
      outcome.result = DriverResult::NotOpen;
      break;
    }
    if (!QueryDriver(&lineErrors, nullptr, &queued)) {
      outcome.result = DriverResult::Failed;
      break;
    }
    deferredLineErrors_ |= lineErrors;  // for the next receive, as in Transfer
    if (queued == 0) {
      outcome.result = DriverResult::Ok;
      break;
    }
    uint32_t left = RemainingMs(deadline);
    if (left == 0) {
      outcome.result = DriverResult::TimedOut;
      break;
    }
    if (WaitOnStopEvent(left < kDrainPollMs ? left : kDrainPollMs)) {
      outcome.result = DriverResult::Cancelled;
      break;
    }
  }
  outcome.count = 1;
  return MapOutcome(outcome);
}

int32_t SerialPortTransport::DiscardInput() {
  if (!PortOpen()) return 0;
  return api_->PurgeComm(AsHandle(port_), PURGE_RXABORT | PURGE_RXCLEAR) ? 1 : 0;
}

int32_t SerialPortTransport::CloseOnDriverFailure(int32_t result) {
  if (result == TransportIoError) Close();
  return result;
}

int32_t SerialPortTransport::PrepareExchange() {
  if (DiscardInput() == 1) return 1;
  Close();
  return 0;
}

void SerialPortTransport::ResetAfterError() {
  if (PortOpen()) {
    HANDLE port = AsHandle(port_);
    api_->PurgeComm(port, PURGE_TXABORT);
    HANDLE mutex = AsHandle(writeMutex_);
    api_->WaitForMultipleObjects(1, &mutex, FALSE, INFINITE);
    api_->PurgeComm(port, PURGE_TXCLEAR);
    ::ReleaseMutex(mutex);
  }
  Close();
}

int32_t SerialPortTransport::SetDriverTimeouts(uint32_t readInterval, uint32_t readMultiplier,
                                               uint32_t readConstant, uint32_t writeMultiplier,
                                               uint32_t writeConstant) {
  if (!PortOpen()) return 0;
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = readInterval;
  timeouts.ReadTotalTimeoutMultiplier = readMultiplier;
  timeouts.ReadTotalTimeoutConstant = readConstant;
  timeouts.WriteTotalTimeoutMultiplier = writeMultiplier;
  timeouts.WriteTotalTimeoutConstant = writeConstant;
  return api_->SetCommTimeouts(AsHandle(port_), &timeouts) ? 1 : 0;
}

SerialPortTransport::DriverOutcome SerialPortTransport::WaitForCharacter(uint32_t timeoutMs) {
  DriverOutcome outcome;
  if (!PortOpen()) {
    outcome.result = DriverResult::NotOpen;
    return outcome;
  }
  uint32_t deadline = DeadlineAfter(timeoutMs);
  HANDLE mutex = AsHandle(readMutex_);
  DWORD taken = api_->WaitForMultipleObjects(1, &mutex, FALSE, timeoutMs);
  if (!IsTaken(taken)) {
    outcome.result = taken == WAIT_TIMEOUT ? DriverResult::TimedOut : DriverResult::Failed;
    return outcome;
  }
  HANDLE port = AsHandle(port_);
  uint32_t lineErrors = 0;
  uint32_t queued = 0;
  // Bytes may already be waiting, or arrive between the query and the
  // moment the event mask is in place: query before and after.
  bool queried = QueryDriver(&lineErrors, &queued, nullptr);
  lineErrors |= TakeDeferredLineErrors();
  if (queried && !lineErrors && queued == 0) {
    api_->SetCommMask(port, 0);
    api_->SetCommMask(port, EV_RXCHAR | EV_ERR);
    queried = QueryDriver(&lineErrors, &queued, nullptr);
  }
  if (!queried || lineErrors || queued) {
    outcome.result = queried && !lineErrors ? DriverResult::Ok : DriverResult::Failed;
    outcome.lineErrors = lineErrors;
    outcome.count = queued;
    ::ReleaseMutex(mutex);
    return outcome;
  }

  for (;;) {
    DWORD events = 0;
    DriverOutcome wait;
    if (pollForCharacters_) {
      // The queued count, asked every millisecond, stands in for the event.
      uint32_t left = RemainingMs(deadline);
      WaitOnStopEvent(left < kCharacterPollMs ? left : kCharacterPollMs);
      wait.result = DriverResult::Cancelled;
    } else {
      OVERLAPPED overlapped;
      mem::FillBytes(&overlapped, 0, sizeof(overlapped));
      overlapped.hEvent = AsHandle(ioEvent_);
      ::ResetEvent(overlapped.hEvent);
      if (api_->WaitCommEvent(port, &events, &overlapped)) {
        wait.result = DriverResult::Ok;
      } else {
        DWORD error = api_->GetLastError();
        if (error == ERROR_IO_PENDING) {
          wait = AwaitOverlapped(&overlapped, deadline, true);
          // Ended by our own mask change at the deadline: a time-out, not
          // a driver that ends waits by itself.
          if (wait.result == DriverResult::Ok && !(events & (EV_RXCHAR | EV_ERR)) && DeadlinePassed(deadline)) {
            wait.result = DriverResult::TimedOut;
          }
        } else {
          wait.result = ResultOfError(error, DriverResult::Cancelled);
        }
      }
    }

    if (!QueryDriver(&lineErrors, &queued, nullptr)) {
      outcome.result = DriverResult::Failed;
      break;
    }
    if (lineErrors) {
      outcome.result = DriverResult::Failed;
      outcome.lineErrors = lineErrors;
      break;
    }
    if (StopRequested()) {
      outcome.result = DriverResult::Cancelled;
      break;
    }
    if (queued > 0 || (wait.result == DriverResult::Ok && (events & (EV_RXCHAR | EV_ERR)))) {
      outcome.result = DriverResult::Ok;
      break;
    }
    // The wait ended without a character, an error or a cancel: on Windows
    // only a change of the event mask does that, and Cancel sets the stop
    // event first. Wine on a pseudo-terminal ends the wait as aborted with
    // an empty mask some milliseconds after it began, and each such wait
    // leaves memory behind inside Wine (about 360 bytes), which an idle
    // line would repeat a hundred times a second for as long as the port
    // is open. A driver that does this once is not given the wait again:
    // until the port is reopened the queued count is polled instead.
    bool ended = wait.result == DriverResult::Cancelled ||
                 (wait.result == DriverResult::Ok && !(events & (EV_RXCHAR | EV_ERR)));
    // (A wait refused at once is thereby never asked again at once: the
    // poll lets a millisecond pass before each query.)
    if (ended) pollForCharacters_ = true;
    if (ended && !DeadlinePassed(deadline)) continue;
    outcome.result = ended ? DriverResult::TimedOut : wait.result;
    break;
  }
  outcome.count = queued;
  ::ReleaseMutex(mutex);
  return outcome;
}

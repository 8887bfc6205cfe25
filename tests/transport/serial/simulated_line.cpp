#include "transport/serial/simulated_line.h"

#include <algorithm>

namespace {

const HANDLE kPortHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5E1A10));
thread_local DWORD t_lastError = 0;

}  // namespace

SimulatedLine* SimulatedLine::current_ = nullptr;

SimulatedLine::SimulatedLine() : clock_(1000), baseMs_(1000) {
  current_ = this;
  dcb_.DCBlength = sizeof(DCB);
  dcb_.BaudRate = 9600;
  dcb_.ByteSize = 8;
  dcb_.Parity = NOPARITY;
  dcb_.StopBits = ONESTOPBIT;
  api_.CreateFileW = &SimCreateFileW;
  api_.CloseHandle = &SimCloseHandle;
  api_.GetCommState = &SimGetCommState;
  api_.SetCommState = &SimSetCommState;
  api_.SetCommTimeouts = &SimSetCommTimeouts;
  api_.SetCommMask = &SimSetCommMask;
  api_.WaitCommEvent = &SimWaitCommEvent;
  api_.ClearCommError = &SimClearCommError;
  api_.PurgeComm = &SimPurgeComm;
  api_.ReadFile = &SimReadFile;
  api_.WriteFile = &SimWriteFile;
  api_.GetOverlappedResult = &SimGetOverlappedResult;
  api_.CancelIo = &SimCancelIo;
  api_.WaitForMultipleObjects = &SimWaitForMultipleObjects;
  api_.GetLastError = &SimGetLastError;
}

SimulatedLine::~SimulatedLine() {
  current_ = nullptr;
  ::CloseHandle(realWaitBegun_);
}

// --- test side ----------------------------------------------------------------

uint64_t SimulatedLine::NowUs() {
  Lock lock(mutex_);
  return nowUs_;
}

void SimulatedLine::AdvanceUs(uint64_t microseconds) {
  Lock lock(mutex_);
  uint64_t target = nowUs_ + microseconds;
  for (;;) {
    uint64_t next = NextEventUs();
    if (next > target) break;
    AdvanceTo(next, lock);
  }
  AdvanceTo(target, lock);
}

uint64_t SimulatedLine::ByteUs(uint64_t count) {
  uint64_t bits = 1u + dcb_.ByteSize + (dcb_.Parity != NOPARITY ? 1u : 0u) + (dcb_.StopBits == TWOSTOPBITS ? 2u : 1u);
  uint64_t baud = dcb_.BaudRate ? dcb_.BaudRate : 9600;
  return (count * bits * 1000000u + baud - 1) / baud;
}

uint64_t SimulatedLine::CharacterUs() {
  Lock lock(mutex_);
  return ByteUs(1);
}

uint64_t SimulatedLine::Arrive(uint64_t startUs, const std::vector<uint8_t>& bytes) {
  Lock lock(mutex_);
  uint64_t end = startUs;
  for (size_t i = 0; i < bytes.size(); ++i) {
    end = startUs + ByteUs(i + 1);
    arrivals_.push_back({end, true, bytes[i], 0});
  }
  std::stable_sort(arrivals_.begin(), arrivals_.end(),
                   [](const Arrival& a, const Arrival& b) { return a.atUs < b.atUs; });
  return end;
}

void SimulatedLine::SetAdapter(uint32_t packetBytes, uint64_t latencyUs) {
  Lock lock(mutex_);
  adapterPacket_ = packetBytes;
  adapterLatencyUs_ = latencyUs;
  adapterLastUs_ = nowUs_;
}

void SimulatedLine::RaiseErrors(uint64_t atUs, DWORD errors, bool withByte) {
  Lock lock(mutex_);
  arrivals_.push_back({atUs, withByte, 0x55, errors});
  std::stable_sort(arrivals_.begin(), arrivals_.end(),
                   [](const Arrival& a, const Arrival& b) { return a.atUs < b.atUs; });
}

void SimulatedLine::At(uint64_t atUs, std::function<void()> action) {
  Lock lock(mutex_);
  scripted_.push_back({atUs, std::move(action)});
}

std::vector<SimulatedLine::SentByte> SimulatedLine::Sent() {
  Lock lock(mutex_);
  return sent_;
}

std::vector<uint8_t> SimulatedLine::SentBytes() {
  Lock lock(mutex_);
  std::vector<uint8_t> bytes;
  for (const SentByte& b : sent_) bytes.push_back(b.value);
  return bytes;
}

void SimulatedLine::SetOutputStalled(bool stalled) {
  Lock lock(mutex_);
  stalled_ = stalled;
  if (!stalled_) {
    std::vector<uint8_t> held;
    held.swap(held_);
    for (uint8_t value : held) Transmit(value);
  }
}

void SimulatedLine::SetWriteCompletesOnWire(bool onWire) {
  Lock lock(mutex_);
  writeOnWire_ = onWire;
}

void SimulatedLine::SetAllDcbFlags(bool on) {
  Lock lock(mutex_);
  DWORD bit = on ? 1 : 0;
  dcb_.fBinary = dcb_.fParity = dcb_.fOutxCtsFlow = dcb_.fOutxDsrFlow = bit;
  dcb_.fDsrSensitivity = dcb_.fTXContinueOnXoff = dcb_.fOutX = dcb_.fInX = bit;
  dcb_.fErrorChar = dcb_.fNull = dcb_.fAbortOnError = bit;
  dcb_.fDtrControl = on ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
  dcb_.fRtsControl = on ? RTS_CONTROL_TOGGLE : RTS_CONTROL_DISABLE;
}

void SimulatedLine::SetWaitRefusedAtOnce(bool refused) {
  Lock lock(mutex_);
  waitRefused_ = refused;
}

int SimulatedLine::WaitCommEventCalls() {
  Lock lock(mutex_);
  return waitCalls_;
}

std::wstring SimulatedLine::OpenedPath() {
  Lock lock(mutex_);
  return path_;
}
int SimulatedLine::CreateCalls() {
  Lock lock(mutex_);
  return createCalls_;
}

DWORD SimulatedLine::OpenedAccess() {
  Lock lock(mutex_);
  return access_;
}

int SimulatedLine::WriteFileCalls() {
  Lock lock(mutex_);
  return writeFileCalls_;
}
DCB SimulatedLine::State() {
  Lock lock(mutex_);
  return dcb_;
}
COMMTIMEOUTS SimulatedLine::Timeouts() {
  Lock lock(mutex_);
  return timeouts_;
}
std::vector<COMMTIMEOUTS> SimulatedLine::TimeoutHistory() {
  Lock lock(mutex_);
  return timeoutHistory_;
}
bool SimulatedLine::PortOpen() {
  Lock lock(mutex_);
  return open_;
}
int SimulatedLine::QueuedInput() {
  Lock lock(mutex_);
  return static_cast<int>(input_.size());
}
void SimulatedLine::FailCreate(bool fail) {
  Lock lock(mutex_);
  failCreate_ = fail;
}
void SimulatedLine::FailSetCommStateFrom(int call) {
  Lock lock(mutex_);
  failSetStateFrom_ = call;
}
void SimulatedLine::RemoveDevice(DWORD error) {
  Lock lock(mutex_);
  deviceAway_ = true;
  removalError_ = error;
  if (!open_) return;
  deadHandle_ = true;
  if (readPending_) CompleteRead(ERROR_OPERATION_ABORTED);
  if (waitPending_) {
    waitPending_ = false;
    *wait_.mask = 0;
    Complete(wait_.overlapped, ERROR_OPERATION_ABORTED, 0);
  }
  AbortWrite();
  input_.clear();
}
void SimulatedLine::ReturnDevice() {
  Lock lock(mutex_);
  deviceAway_ = false;
}
void SimulatedLine::SetSpuriousWaitEnd(uint64_t afterUs) {
  Lock lock(mutex_);
  spuriousWaitEndUs_ = afterUs;
}
void SimulatedLine::SetRealWaitLimit(uint32_t milliseconds) {
  Lock lock(mutex_);
  realWaitMs_ = milliseconds;
}
bool SimulatedLine::Stuck() {
  Lock lock(mutex_);
  return stuck_;
}

// --- the line ------------------------------------------------------------------

void SimulatedLine::Transmit(uint8_t value) {
  uint64_t start = nowUs_;
  if (!leaveUs_.empty()) start = std::max(start, leaveUs_.back());
  sent_.push_back({start, value});
  leaveUs_.push_back(start + ByteUs(1));
}

void SimulatedLine::CheckWriteDone() {
  if (!writePending_ || write_.lastByte >= leaveUs_.size()) return;
  if (nowUs_ < leaveUs_[write_.lastByte]) return;
  writePending_ = false;
  Complete(write_.overlapped, ERROR_SUCCESS, write_.count);
}

void SimulatedLine::AbortWrite() {
  if (!writePending_) return;
  writePending_ = false;
  DWORD left = 0;  // bytes whose last bit has left
  for (uint64_t leave : leaveUs_) {
    if (leave <= nowUs_) ++left;
  }
  size_t first = write_.lastByte + 1 - write_.count;
  Complete(write_.overlapped, ERROR_OPERATION_ABORTED, left > first ? static_cast<DWORD>(left - first) : 0);
}

DWORD SimulatedLine::OutQueue() {
  DWORD queued = static_cast<DWORD>(held_.size());
  for (uint64_t leave : leaveUs_) {
    if (leave > nowUs_) ++queued;
  }
  return queued;
}

uint64_t SimulatedLine::ReadIntervalUs() const {
  DWORD interval = timeouts_.ReadIntervalTimeout;
  if (interval == 0 || interval == MAXDWORD) return kNever;
  return static_cast<uint64_t>(interval) * 1000u;
}

uint64_t SimulatedLine::ReadTotalDeadlineUs() const {
  uint64_t total = static_cast<uint64_t>(timeouts_.ReadTotalTimeoutMultiplier) * read_.capacity +
                   timeouts_.ReadTotalTimeoutConstant;
  if (total == 0) return kNever;
  return read_.startUs + total * 1000u;
}

uint64_t SimulatedLine::NextEventUs() {
  uint64_t next = kNever;
  if (!arrivals_.empty()) next = arrivals_.front().atUs;
  next = std::min(next, AdapterDueUs());
  for (const Scripted& s : scripted_) next = std::min(next, s.atUs);
  if (readPending_) {
    uint64_t interval = ReadIntervalUs();
    if (read_.got > 0 && interval != kNever) next = std::min(next, read_.lastUs + interval);
    next = std::min(next, ReadTotalDeadlineUs());
  }
  if (waitPending_ && spuriousWaitEndUs_) next = std::min(next, wait_.startUs + spuriousWaitEndUs_);
  if (writePending_ && write_.lastByte < leaveUs_.size()) next = std::min(next, leaveUs_[write_.lastByte]);
  return std::max(next, nowUs_);
}

void SimulatedLine::AdvanceTo(uint64_t atUs, Lock& lock) {
  if (atUs > nowUs_) nowUs_ = atUs;
  FakeClock::Set(baseMs_ + static_cast<uint32_t>(nowUs_ / 1000u));
  Deliver();
  CheckReadDone();
  CheckWriteDone();
  if (waitPending_ && spuriousWaitEndUs_ && nowUs_ >= wait_.startUs + spuriousWaitEndUs_) {
    waitPending_ = false;
    *wait_.mask = 0;
    Complete(wait_.overlapped, ERROR_OPERATION_ABORTED, 0);
  }
  for (size_t i = 0; i < scripted_.size();) {
    if (scripted_[i].atUs > nowUs_) {
      ++i;
      continue;
    }
    std::function<void()> action = std::move(scripted_[i].action);
    scripted_.erase(scripted_.begin() + static_cast<long>(i));
    lock.unlock();
    action();
    lock.lock();
    i = 0;
  }
}

uint64_t SimulatedLine::AdapterDueUs() const {
  return adapterHeld_.empty() ? kNever : adapterLastUs_ + adapterLatencyUs_;
}

void SimulatedLine::ShipAdapterPacket(uint64_t atUs) {
  adapterLastUs_ = atUs;
  std::vector<uint8_t> packet;
  packet.swap(adapterHeld_);
  for (uint8_t value : packet) Receive({atUs, true, value, 0});
}

void SimulatedLine::Deliver() {
  while (!arrivals_.empty() && arrivals_.front().atUs <= nowUs_) {
    Arrival a = arrivals_.front();
    arrivals_.pop_front();
    if (adapterPacket_ == 0 || !a.hasByte || a.errors) {
      Receive(a);
      continue;
    }
    // The latency timer ran out before this byte came: what was held left then.
    if (AdapterDueUs() <= a.atUs) ShipAdapterPacket(AdapterDueUs());
    adapterHeld_.push_back(a.value);
    if (adapterHeld_.size() >= adapterPacket_ || AdapterDueUs() <= a.atUs) ShipAdapterPacket(a.atUs);
  }
  if (AdapterDueUs() <= nowUs_) ShipAdapterPacket(AdapterDueUs());
}

void SimulatedLine::Receive(const Arrival& a) {
  if (!open_) return;
  DWORD events = 0;
  if (a.errors) {
    errors_ |= a.errors;
    events |= EV_ERR;
  }
  if (a.hasByte) {
    events |= EV_RXCHAR;
    if (readPending_ && read_.got < read_.capacity && input_.empty()) {
      read_.buffer[read_.got++] = a.value;
      read_.lastUs = a.atUs;
    } else {
      input_.push_back({a.value, a.atUs});
    }
  }
  events &= mask_;
  if (events) {
    if (waitPending_) {
      CompleteWait(events);
    } else {
      latched_ |= events;
    }
  }
  CheckReadDone();
}

void SimulatedLine::CheckReadDone() {
  if (!readPending_) return;
  bool done = read_.got == read_.capacity;
  uint64_t interval = ReadIntervalUs();
  if (read_.got > 0 && interval != kNever && nowUs_ >= read_.lastUs + interval) done = true;
  if (nowUs_ >= ReadTotalDeadlineUs()) done = true;
  if (timeouts_.ReadIntervalTimeout == MAXDWORD && read_.got > 0) done = true;
  if (done) CompleteRead(ERROR_SUCCESS);
}

void SimulatedLine::Complete(OVERLAPPED* overlapped, DWORD error, DWORD count) {
  overlapped->Internal = error;
  overlapped->InternalHigh = count;
  if (overlapped->hEvent) ::SetEvent(overlapped->hEvent);
}

void SimulatedLine::CompleteRead(DWORD error) {
  readPending_ = false;
  Complete(read_.overlapped, error, read_.got);
}

void SimulatedLine::CompleteWait(DWORD events) {
  waitPending_ = false;
  *wait_.mask = events;
  Complete(wait_.overlapped, ERROR_SUCCESS, 0);
}

BOOL SimulatedLine::Fail(DWORD error) {
  t_lastError = error;
  return FALSE;
}

bool SimulatedLine::IsPort(HANDLE handle) const { return open_ && handle == kPortHandle; }

bool SimulatedLine::Usable(HANDLE handle) {
  if (IsPort(handle) && !deadHandle_) return true;
  t_lastError = IsPort(handle) ? removalError_ : ERROR_INVALID_HANDLE;
  return false;
}

// --- the seam's entries ---------------------------------------------------------

HANDLE WINAPI SimulatedLine::SimCreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                            HANDLE) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  ++self->createCalls_;
  self->access_ = access;
  self->path_ = path;
  if (self->failCreate_ || self->deviceAway_ || self->open_) {
    t_lastError = self->failCreate_ || self->deviceAway_ ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  self->open_ = true;
  return kPortHandle;
}

BOOL WINAPI SimulatedLine::SimCloseHandle(HANDLE handle) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->IsPort(handle)) return self->Fail(ERROR_INVALID_HANDLE);
  if (self->readPending_) self->CompleteRead(ERROR_OPERATION_ABORTED);
  if (self->waitPending_) self->CompleteWait(0);
  self->AbortWrite();
  self->open_ = false;
  self->deadHandle_ = false;
  self->input_.clear();
  self->errors_ = 0;
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimGetCommState(HANDLE handle, LPDCB dcb) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  *dcb = self->dcb_;
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimSetCommState(HANDLE handle, LPDCB dcb) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  ++self->setStateCalls_;
  if (self->failSetStateFrom_ > 0 && self->setStateCalls_ >= self->failSetStateFrom_) {
    return self->Fail(ERROR_INVALID_PARAMETER);
  }
  self->dcb_ = *dcb;
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimSetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  self->timeouts_ = *timeouts;
  self->timeoutHistory_.push_back(*timeouts);
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimSetCommMask(HANDLE handle, DWORD mask) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  self->mask_ = mask;
  self->latched_ = 0;
  // A pending WaitCommEvent ends with an empty mask when the mask changes.
  if (self->waitPending_) self->CompleteWait(0);
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimWaitCommEvent(HANDLE handle, LPDWORD mask, LPOVERLAPPED overlapped) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  if (self->waitPending_) return self->Fail(ERROR_INVALID_PARAMETER);
  ++self->waitCalls_;
  if (self->waitRefused_) {
    if (self->refusedAtUs_ != self->nowUs_) self->refusedThere_ = 0;
    self->refusedAtUs_ = self->nowUs_;
    if (++self->refusedThere_ > 100) self->AdvanceTo(self->nowUs_ + 1000, lock);
    return self->Fail(ERROR_OPERATION_ABORTED);
  }
  if (self->latched_ & self->mask_) {
    *mask = self->latched_ & self->mask_;
    self->latched_ = 0;
    self->Complete(overlapped, ERROR_SUCCESS, 0);
    return TRUE;
  }
  self->waitPending_ = true;
  self->wait_.overlapped = overlapped;
  self->wait_.mask = mask;
  self->wait_.startUs = self->nowUs_;
  overlapped->Internal = ERROR_IO_PENDING;
  return self->Fail(ERROR_IO_PENDING);
}

BOOL WINAPI SimulatedLine::SimClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  if (errors) *errors = self->errors_;
  self->errors_ = 0;
  if (status) {
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(self->input_.size());
    status->cbOutQue = self->OutQueue();
  }
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimPurgeComm(HANDLE handle, DWORD flags) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  if ((flags & PURGE_RXABORT) && self->readPending_) self->CompleteRead(ERROR_OPERATION_ABORTED);
  if (flags & PURGE_TXABORT) self->AbortWrite();
  if (flags & PURGE_RXCLEAR) self->input_.clear();
  if (flags & PURGE_TXCLEAR) {
    self->held_.clear();
    while (!self->leaveUs_.empty() && self->leaveUs_.back() > self->nowUs_ + self->ByteUs(1)) {
      self->leaveUs_.pop_back();
      self->sent_.pop_back();
    }
  }
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD done,
                                       LPOVERLAPPED overlapped) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  if (self->readPending_) return self->Fail(ERROR_INVALID_PARAMETER);
  PendingRead& read = self->read_;
  read = PendingRead{};
  read.overlapped = overlapped;
  read.buffer = static_cast<uint8_t*>(buffer);
  read.capacity = count;
  read.startUs = self->nowUs_;
  while (read.got < count && !self->input_.empty()) {
    read.buffer[read.got++] = self->input_.front().value;
    read.lastUs = self->input_.front().arrivedUs;
    self->input_.pop_front();
  }
  const COMMTIMEOUTS& t = self->timeouts_;
  bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                   t.ReadTotalTimeoutConstant == 0;
  self->readPending_ = true;
  if (immediate) {
    self->CompleteRead(ERROR_SUCCESS);
  } else {
    self->CheckReadDone();
  }
  if (!self->readPending_) {
    if (done) *done = static_cast<DWORD>(overlapped->InternalHigh);
    return overlapped->Internal == ERROR_SUCCESS ? TRUE : self->Fail(static_cast<DWORD>(overlapped->Internal));
  }
  overlapped->Internal = ERROR_IO_PENDING;
  return self->Fail(ERROR_IO_PENDING);
}

BOOL WINAPI SimulatedLine::SimWriteFile(HANDLE handle, LPCVOID bytes, DWORD count, LPDWORD done,
                                        LPOVERLAPPED overlapped) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  ++self->writeFileCalls_;
  if (!self->Usable(handle)) return FALSE;
  if (self->writePending_) return self->Fail(ERROR_INVALID_PARAMETER);
  // The driver takes the bytes into its output queue at once.
  const uint8_t* data = static_cast<const uint8_t*>(bytes);
  for (DWORD i = 0; i < count; ++i) {
    if (self->stalled_) {
      self->held_.push_back(data[i]);
    } else {
      self->Transmit(data[i]);
    }
  }
  if (self->writeOnWire_ && count > 0) {
    self->writePending_ = true;
    self->write_.overlapped = overlapped;
    self->write_.count = count;
    // Held bytes get their place in leaveUs_ once the output runs again.
    self->write_.lastByte = self->leaveUs_.size() + self->held_.size() - 1;
    overlapped->Internal = ERROR_IO_PENDING;
    return self->Fail(ERROR_IO_PENDING);
  }
  self->Complete(overlapped, ERROR_SUCCESS, count);
  if (done) *done = count;
  return TRUE;
}

BOOL WINAPI SimulatedLine::SimGetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD done,
                                                  BOOL wait) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (handle != kPortHandle) return self->Fail(ERROR_INVALID_HANDLE);
  for (;;) {
    bool pending = (self->readPending_ && self->read_.overlapped == overlapped) ||
                   (self->waitPending_ && self->wait_.overlapped == overlapped) ||
                   (self->writePending_ && self->write_.overlapped == overlapped);
    if (!pending) break;
    if (!wait) return self->Fail(ERROR_IO_INCOMPLETE);
    HANDLE event = overlapped->hEvent;
    lock.unlock();
    DWORD result = SimWaitForMultipleObjects(1, &event, FALSE, INFINITE);
    lock.lock();
    if (result == WAIT_FAILED) return self->Fail(ERROR_INVALID_PARAMETER);
  }
  if (done) *done = static_cast<DWORD>(overlapped->InternalHigh);
  DWORD error = static_cast<DWORD>(overlapped->Internal);
  return error == ERROR_SUCCESS ? TRUE : self->Fail(error);
}

BOOL WINAPI SimulatedLine::SimCancelIo(HANDLE handle) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  if (!self->Usable(handle)) return FALSE;
  if (self->readPending_) self->CompleteRead(ERROR_OPERATION_ABORTED);
  if (self->waitPending_ && !self->cancelLeavesWait_) {
    self->waitPending_ = false;
    self->Complete(self->wait_.overlapped, ERROR_OPERATION_ABORTED, 0);
  }
  self->AbortWrite();
  return TRUE;
}

DWORD WINAPI SimulatedLine::SimWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD timeoutMs) {
  SimulatedLine* self = current_;
  Lock lock(self->mutex_);
  uint64_t deadline = timeoutMs == INFINITE ? kNever : self->nowUs_ + static_cast<uint64_t>(timeoutMs) * 1000u;
  for (;;) {
    DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, 0);
    if (result != WAIT_TIMEOUT) return result;
    uint64_t next = self->NextEventUs();
    if (next != kNever && next <= deadline) {
      self->AdvanceTo(next, lock);
      // Something due now that changed nothing: let time move on.
      if (self->NextEventUs() == next) self->AdvanceTo(next + 1, lock);
      continue;
    }
    if (self->realWaitMs_) {
      DWORD limit = std::min<DWORD>(self->realWaitMs_, timeoutMs);
      lock.unlock();
      ::SetEvent(self->realWaitBegun_);
      result = ::WaitForMultipleObjects(count, handles, FALSE, limit);
      lock.lock();
      if (result != WAIT_TIMEOUT) return result;
    }
    if (deadline == kNever) {
      self->stuck_ = true;
      return WAIT_FAILED;
    }
    self->AdvanceTo(deadline, lock);
    result = ::WaitForMultipleObjects(count, handles, FALSE, 0);
    return result;
  }
}

DWORD WINAPI SimulatedLine::SimGetLastError() { return t_lastError; }

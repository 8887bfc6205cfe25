#pragma once
// The serial port transport: a Windows communications port opened for
// overlapped I/O. It configures the line, reads and writes with time-outs
// that also watch the stop event, reports the driver's line errors apart
// from other failures (-3 framing, parity or break; -4 overrun or input
// overflow) and knows how long bytes take on the wire.
//
// Every line error is a receive-side condition. A write or FinishTransmit
// never fails for one: the bits the driver flags while we send are kept and
// reported once by the next receive (Read, or the wait for a character that
// starts an RTU frame), before it reads anything, so what has arrived stays
// queued for the read after it.
//
// Some drivers complete an overlapped write at once, others only when the
// bytes have left the port; FinishTransmit counts the wire time from the
// start of a write the driver held, from the end of one it completed at
// once, so either kind waits it once. The RTU and ASCII
// serial transports derive from it and program the driver's time-outs for
// their framing (ApplyLineTimeouts).
//
// Threads: all I/O runs on the link's worker thread, one operation at a
// time, so the one overlapped event is never shared. Reads and waits for a
// character hold the read mutex, writes the write mutex; Close takes both
// before it closes the handle. Cancel may come from any thread.

#include <stdint.h>

#include "modbus/transport.h"

struct CommApi;
namespace plat {
struct Mutex;
}

// Handshake codes of the line settings.
constexpr uint8_t kHandshakeNone = 0;
constexpr uint8_t kHandshakeCts = 1;
constexpr uint8_t kHandshakeDsr = 2;
constexpr uint8_t kHandshakeCtsDsr = 3;
constexpr uint8_t kHandshakeRtsToggle = 4;  // RTS raised while sending: RS-485 direction

struct SerialLineSettings {
  const char16_t* portName = nullptr;  // "COM3", or a device path starting with two backslashes
  uint32_t baudRate = 9600;            // 0 switches the time computations off
  uint8_t dataBits = 8;                // 7 or 8
  uint8_t parity = 0;                  // kParityNone, kParityOdd, kParityEven
  uint8_t stopBits = 0;                // kStopBitsOne, kStopBitsTwo
  uint8_t handshake = kHandshakeNone;  // 0 to 4; other values never open
  // Opened for reading only (a listener on a bus): Write fails at once and
  // never reaches the driver.
  bool receiveOnly = false;
};

class SerialPortTransport : public Transport {
 public:
  // The longest port name the settings page produces, and the longest
  // device path: that name with the device prefix in front. A longer name
  // or path is refused rather than cut, since a cut name may be another
  // port.
  static constexpr uint32_t kMaxPortNameLength = 31;
  static constexpr uint32_t kMaxPathLength = kMaxPortNameLength + 4;

  // api null: the system's functions.
  explicit SerialPortTransport(const SerialLineSettings& settings, const CommApi* api = nullptr);
  ~SerialPortTransport() override;

  int32_t Open() override;
  void Close() override;
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) override;
  uint32_t WriteBudget(uint32_t length) override;
  int32_t FinishTransmit(uint32_t timeoutMs) override;
  int32_t PrepareExchange() override;
  void ResetAfterError() override;
  int32_t IsReady() override;

  // Programs the driver's read and write time-outs for the framing in use;
  // Open calls it last, and a framing may call it again before a read. 1 on
  // success, 0 when the port is not open or the driver refuses.
  virtual int32_t ApplyLineTimeouts() = 0;

  // The device path Open uses, NUL-terminated; empty when the name was
  // empty or too long, and then Open fails.
  const char16_t* DevicePath() const { return path_; }
  uint32_t BitsPerCharacter() const { return bitsPerCharacter_; }

 protected:
  enum class DriverResult { Ok, TimedOut, Cancelled, NotOpen, Failed };

  // Outcome of one driver operation: the result, the byte count (read,
  // written, or queued for a wait for a character) and the line-error bits
  // the driver reported during it.
  struct DriverOutcome {
    DriverResult result = DriverResult::Failed;
    uint32_t count = 0;
    uint32_t lineErrors = 0;
    bool held = false;  // the driver did not complete it at once
  };

  const SerialLineSettings& Line() const { return settings_; }

  // Sets the driver's time-outs. 1 on success, 0 when not open or refused.
  int32_t SetDriverTimeouts(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                            uint32_t writeMultiplier, uint32_t writeConstant);

  DriverOutcome ReadBytes(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs);

  // Waits until a character is queued in the driver (the RTU line
  // discipline uses it to observe silences). Ok with the queued count, or
  // failed with line errors, timed out, cancelled.
  DriverOutcome WaitForCharacter(uint32_t timeoutMs);

  // Aborts pending reads and clears the driver's input. 1 on success.
  int32_t DiscardInput();

  // A receive or a preparation that the driver failed (not a line error, a
  // time-out or a cancel) means the device is gone or broken, as a USB
  // adapter pulled out fails every call on its handle: the port is closed,
  // as after a failed send, so that IsReady turns false and the worker
  // opens it again. Returns result.
  int32_t CloseOnDriverFailure(int32_t result);

  // Waits up to timeoutMs on the stop event alone; true when it is set.
  bool WaitOnStopEvent(uint32_t timeoutMs);

  // The transport result of an outcome: line errors -4 (overrun, input
  // overflow) or -3; ok the count; timed out 0; cancelled or not open -2;
  // failed -1.
  static int32_t MapOutcome(const DriverOutcome& outcome);

 private:
  // The outcome of a driver call that failed with this error code: an
  // aborted operation ends for the reason given (the caller knows whether
  // it cancelled or gave up), a semaphore time-out is the driver's own
  // time-out, anything else a failure.
  static DriverResult ResultOfError(uint32_t error, DriverResult aborted);
  DriverOutcome Transfer(bool write, void* buffer, uint32_t count, uint32_t timeoutMs);
  // Waits for the pending overlapped operation on ioEvent_ until the
  // deadline or the stop event; cancels it if it did not complete (a
  // comm-event wait also by clearing the event mask).
  DriverOutcome AwaitOverlapped(void* overlapped, uint32_t deadline, bool commWait = false);
  // Queries and clears the driver's errors; false when the query fails.
  bool QueryDriver(uint32_t* lineErrors, uint32_t* inQueue, uint32_t* outQueue);
  // The line errors a write collected, handed to the next receive once.
  uint32_t TakeDeferredLineErrors();
  int32_t ApplyHandshake();
  bool CreateSyncObjects();
  void FreeSyncObjects();
  bool PortOpen() const;
  void ReleasePort();
  static void CancelPendingIo(Transport* transport);

  SerialLineSettings settings_;
  const CommApi* api_;
  char16_t path_[kMaxPathLength + 1] = {};
  uint32_t bitsPerCharacter_ = 10;
  void* port_;
  void* ioEvent_ = nullptr;
  void* readMutex_ = nullptr;
  void* writeMutex_ = nullptr;
  // Guards the handle between Close on the worker and Cancel from another
  // thread, so Cancel never touches a handle that is being closed.
  plat::Mutex* portGuard_ = nullptr;
  uint32_t bytesWritten_ = 0;  // since the last FinishTransmit, saturating
  // The tick from which the wire time of those bytes counts: the start of
  // a write the driver held until (as the 16550 driver does) the bytes had
  // left, so that their wire time is not waited twice; the end of one the
  // driver completed at once, having only queued the bytes.
  uint32_t transmitStart_ = 0;
  // Receive-side line errors the driver flagged while we were writing: a
  // write does not fail for what was received, the next receive reports
  // them.
  uint32_t deferredLineErrors_ = 0;
  // Set once the driver ended a comm-event wait without an event (Wine on
  // a pseudo-terminal): WaitForCharacter polls the queued count instead,
  // until the port is opened again.
  bool pollForCharacters_ = false;
};

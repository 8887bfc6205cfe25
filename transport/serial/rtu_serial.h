#pragma once
// The RTU line discipline on a serial port. Frames are delimited by
// silence: a frame ends at the first gap longer than t1.5, and two frames
// must be separated by at least t3.5. Reading ends a frame through the
// driver's interval time-out, which runs from one character's arrival to
// the next and so is set to t1.5 plus one character; then it checks that
// the line stays quiet for the rest of t3.5; a frame followed too soon is rejected and the line is
// resynchronised by waiting for a silence of t3.5, bounded by the time of
// 257 characters plus two seconds. Sending waits until t3.5 has passed since
// the last frame on the line.
//
// A USB serial adapter hands received bytes to the driver in packets,
// leaving gaps of several milliseconds inside a frame. Where the framing
// knows that a frame goes on (the transport's frame judge: its length from
// the function code or the request, its CRC), a gap of up to
// kRtuBurstGapMs does not end it; a frame still short after such a silence
// ends there and fails its check. A frame nothing can place still ends at
// the first silence longer than t1.5.

#include <stdint.h>

#include "transport/serial/serial_port.h"

class RtuSerialTransport : public SerialPortTransport {
 public:
  explicit RtuSerialTransport(const SerialLineSettings& settings, const CommApi* api = nullptr);

  int32_t Open() override;
  int32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
  int32_t BeginTransmit() override;
  int32_t FinishTransmit(uint32_t timeoutMs) override;
  int32_t PrepareExchange() override;
  int32_t ApplyLineTimeouts() override;

  uint32_t T15Ms() const { return t15_; }
  uint32_t T35Ms() const { return t35_; }
  // Whether the next PrepareExchange first waits for a silence of t3.5.
  bool ResynchroniseDue() const { return resynchronise_; }

 private:
  // 1 after a silence of windowMs; -6 when the line did not fall quiet
  // within the budget; -2 cancelled; -3, -4 line errors; -1 driver failure.
  int32_t WaitForSilence(uint32_t windowMs);
  // Consumes the rest of a rejected frame and returns result, or -2 when
  // cancelled meanwhile.
  int32_t RejectFrame(int32_t result);
  int32_t ReadOneFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs);
  void MarkIdleFromNow(uint32_t delayMs);

  uint32_t t15_;
  uint32_t t35_;
  uint32_t frameBudgetMs_;  // 257 characters on the wire plus two seconds
  uint32_t burstGapMs_;     // kRtuBurstGapMs, or the read interval where longer
  uint32_t idleUntil_ = 0;
  bool idleUntilValid_ = false;
  bool resynchronise_ = true;
};

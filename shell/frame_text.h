#pragma once
// The texts of the TX and RX frame lines and the throttle that keeps a fast
// exchange from repainting them more than once per period. No window code:
// the throttle drives a FrameLineOutput, which the main window implements
// with the two statics and a timer.

#include <stdint.h>

#include "common/text.h"

constexpr int kTxLine = 0;
constexpr int kRxLine = 1;
constexpr uint32_t kFrameLineMaxBytes = 256;  // more bytes end in an ellipsis
constexpr uint32_t kFrameThrottleMs = 100;

// "TX: " or "RX: " followed by the bytes as uppercase hexadecimal pairs
// separated by spaces, at most maxBytes of them and then " …"; "-" instead
// of the bytes when there are none. The line shows kFrameLineMaxBytes; the
// copy of a line carries the whole frame.
int BuildFrameLineText(int line, const uint8_t* data, uint32_t length, TextBuffer& out,
                       uint32_t maxBytes = kFrameLineMaxBytes);

// What the throttle changes on screen.
class FrameLineOutput {
 public:
  // Shows text on the line (a no-op when it already does).
  virtual void ShowLineText(int line, const Unit* text) = 0;
  // The RX line's error colour changed; the line must repaint.
  virtual void ShowRxError(bool error) = 0;
  // Returns 0 when the throttle cannot run; updates are then shown at once.
  virtual int StartThrottle(uint32_t periodMs) = 0;
  virtual void StopThrottle() = 0;

 protected:
  virtual ~FrameLineOutput() = default;
};

class FrameLineThrottle {
 public:
  explicit FrameLineThrottle(FrameLineOutput& output) : output_(output) {}
  FrameLineThrottle(const FrameLineThrottle&) = delete;
  FrameLineThrottle& operator=(const FrameLineThrottle&) = delete;

  // Makes text the line's pending text (error applies to the RX line only).
  // Without a running throttle it is shown at once and the throttle starts.
  int Update(int line, const Unit* text, bool error);
  // A throttle period ended: the pending texts are shown; with none pending
  // the throttle stops.
  void Tick();
  // Shows what is pending now, as before a copy of a line.
  void ApplyPending();
  // Forgets what is pending and stops the throttle (detach, shutdown).
  void Drop();
  // Drops what is pending and shows both texts now, without the error
  // colour (another plug-in starts from the template texts).
  void Reset(const Unit* tx, const Unit* rx);

  bool RxError() const { return rxError_; }
  bool Running() const { return running_; }

 private:
  struct Pending {
    TextBuffer text;
    bool pending = false;
    bool error = false;
  };

  FrameLineOutput& output_;
  Pending lines_[2];
  bool rxError_ = false;
  bool running_ = false;
};

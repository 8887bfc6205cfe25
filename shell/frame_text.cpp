#include "shell/frame_text.h"

namespace {
constexpr Unit kEllipsis = 0x2026;
}

int BuildFrameLineText(int line, const uint8_t* data, uint32_t length, TextBuffer& out, uint32_t maxBytes) {
  static constexpr Unit kHex[] = u"0123456789ABCDEF";
  TextBuffer text;
  if (!text.Append(line == kTxLine ? u"TX: " : u"RX: ")) return 0;
  if (!data || length == 0) {
    if (!text.Append(u"-")) return 0;
    return out.Assign(text.Text());
  }
  uint32_t shown = length < maxBytes ? length : maxBytes;
  for (uint32_t i = 0; i < shown; ++i) {
    if (i > 0 && !text.AppendUnit(u' ')) return 0;
    if (!text.AppendUnit(kHex[data[i] >> 4]) || !text.AppendUnit(kHex[data[i] & 0x0F])) return 0;
  }
  if (length > shown && (!text.AppendUnit(u' ') || !text.AppendUnit(kEllipsis))) return 0;
  return out.Assign(text.Text());
}

int FrameLineThrottle::Update(int line, const Unit* text, bool error) {
  if (line != kTxLine && line != kRxLine) return 0;
  Pending& pending = lines_[line];
  if (!pending.text.Assign(text)) return 0;
  pending.pending = true;
  pending.error = line == kRxLine && error;
  if (!running_) {
    ApplyPending();
    running_ = output_.StartThrottle(kFrameThrottleMs) != 0;
  }
  return 1;
}

void FrameLineThrottle::Tick() {
  if (!running_) return;
  if (!lines_[kTxLine].pending && !lines_[kRxLine].pending) {
    running_ = false;
    output_.StopThrottle();
    return;
  }
  ApplyPending();
}

void FrameLineThrottle::ApplyPending() {
  Pending& tx = lines_[kTxLine];
  if (tx.pending) {
    tx.pending = false;
    output_.ShowLineText(kTxLine, tx.text.Text());
  }
  Pending& rx = lines_[kRxLine];
  if (rx.pending) {
    rx.pending = false;
    if (rx.error != rxError_) {
      rxError_ = rx.error;
      output_.ShowRxError(rxError_);
    }
    output_.ShowLineText(kRxLine, rx.text.Text());
  }
}

void FrameLineThrottle::Drop() {
  lines_[kTxLine].pending = false;
  lines_[kRxLine].pending = false;
  if (!running_) return;
  running_ = false;
  output_.StopThrottle();
}

void FrameLineThrottle::Reset(const Unit* tx, const Unit* rx) {
  Drop();
  if (rxError_) {
    rxError_ = false;
    output_.ShowRxError(false);
  }
  output_.ShowLineText(kTxLine, tx);
  output_.ShowLineText(kRxLine, rx);
}

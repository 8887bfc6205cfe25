#pragma once
// Deadlines are absolute 32-bit millisecond ticks. They are compared by
// signed difference, so a wrap of the tick counter through 0xFFFFFFFF in the
// middle of a wait is harmless as long as no wait spans 2^31 ms.

#include <stdint.h>

#include "common/platform.h"

inline int32_t TickDiff(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

// True when tick a comes before tick b.
inline bool TickBefore(uint32_t a, uint32_t b) { return TickDiff(a, b) < 0; }

inline uint32_t DeadlineAfter(uint32_t milliseconds) { return plat::Tick() + milliseconds; }

// Milliseconds left until the deadline, 0 once it has passed.
inline uint32_t RemainingMs(uint32_t deadline) {
  int32_t left = TickDiff(deadline, plat::Tick());
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

inline bool DeadlinePassed(uint32_t deadline) { return TickDiff(deadline, plat::Tick()) <= 0; }

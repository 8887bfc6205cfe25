#pragma once
// A controllable millisecond clock for deadline logic: while a FakeClock
// lives, plat::Tick() returns its value, which moves only when the test (or
// a scripted transport) advances it.

#include <stdint.h>

#include <atomic>

#include "common/platform.h"

class FakeClock {
 public:
  explicit FakeClock(uint32_t start = 1000) {
    now_.store(start);
    previous_ = plat::SetTickSource(&FakeClock::Read);
  }
  ~FakeClock() { plat::SetTickSource(previous_); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  static uint32_t Now() { return now_.load(); }
  static void Set(uint32_t tick) { now_.store(tick); }
  static void Advance(uint32_t milliseconds) { now_.fetch_add(milliseconds); }

 private:
  static uint32_t Read() { return now_.load(); }
  static inline std::atomic<uint32_t> now_{0};
  plat::TickSource previous_;
};

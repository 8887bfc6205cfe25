#pragma once
// Hands out bytes that a stream transport received ahead of its caller.

#include <stdint.h>

#include "common/memory.h"

inline uint32_t TakePending(const uint8_t* pending, uint32_t* start, uint32_t end,
                            uint8_t* buffer, uint32_t capacity) {
  uint32_t count = end - *start;
  if (count > capacity) count = capacity;
  mem::CopyBytes(buffer, pending + *start, count);
  *start += count;
  return count;
}

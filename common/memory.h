#pragma once
// Heap memory of the toolkit. Every deliverable allocates through these; an
// allocation that cannot be satisfied ends the process (0xC0000017), except
// Reallocate, whose callers report the failure themselves.

#include <stddef.h>
#include <stdint.h>

#include <limits>
#include <new>  // placement new only
#include <utility>

namespace mem {

// Size 0 is taken as 1. Never returns null.
void* Allocate(size_t size);
// Null is ignored.
void Release(void* block);
// Null block allocates; size 0 releases and returns null; otherwise resizes.
// Returns null on failure with the old block intact.
void* Reallocate(void* block, size_t size);

// Reallocate for an array of count items of size bytes; ends the process
// when count exceeds maxCount, the byte size overflows or memory runs out.
void* ReallocateArray(void* block, uint64_t count, size_t size, uint64_t maxCount);

// Makes room for one more item in a heap array that doubles its capacity,
// starting at first, whenever count has reached it. Ends the process when
// memory or the range of the counter is exhausted.
template <typename T, typename Count>
void GrowWhenFull(T** items, Count count, Count* capacity, Count first = 1) {
  if (count < *capacity) return;
  const uint64_t grown = *capacity ? static_cast<uint64_t>(*capacity) * 2 : static_cast<uint64_t>(first);
  *items = static_cast<T*>(
      ReallocateArray(*items, grown, sizeof(T), static_cast<uint64_t>(std::numeric_limits<Count>::max())));
  *capacity = static_cast<Count>(grown);
}

void CopyBytes(void* destination, const void* source, size_t count);
void FillBytes(void* destination, uint8_t value, size_t count);

// Objects on the toolkit heap: constructed in place, fatal when out of memory.
template <typename T, typename... Args>
T* New(Args&&... args) {
  return new (Allocate(sizeof(T))) T(std::forward<Args>(args)...);
}

template <typename T>
void Delete(T* object) {
  if (!object) return;
  object->~T();
  Release(object);
}

}  // namespace mem

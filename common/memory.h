#pragma once
// Heap memory of the toolkit. Every deliverable allocates through these; an
// allocation that cannot be satisfied ends the process (0xC0000017), except
// Reallocate, whose callers report the failure themselves.

#include <stddef.h>
#include <stdint.h>

#include <new>  // placement new only
#include <utility>

namespace mem {

constexpr uint32_t kExitOutOfMemory = 0xC0000017u;
constexpr uint32_t kExitSecondContext = 0xC000000Du;
constexpr uint32_t kExitBrokenInvariant = 0xC0000005u;
constexpr uint32_t kExitPureVirtual = 1u;

// Size 0 is taken as 1. Never returns null.
void* Allocate(size_t size);
// Null is ignored.
void Release(void* block);
// Null block allocates; size 0 releases and returns null; otherwise resizes.
// Returns null on failure with the old block intact.
void* Reallocate(void* block, size_t size);

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

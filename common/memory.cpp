#include "common/memory.h"

#include "common/exit_codes.h"
#include "common/platform.h"

namespace mem {

void* Allocate(size_t size) {
  void* block = plat::HeapGet(size ? size : 1);
  if (!block) plat::FatalExit(kExitOutOfMemory);
  return block;
}

void Release(void* block) { plat::HeapPut(block); }

void* Reallocate(void* block, size_t size) {
  if (!block) return plat::HeapGet(size ? size : 1);
  if (size == 0) {
    plat::HeapPut(block);
    return nullptr;
  }
  return plat::HeapResize(block, size);
}

void* ReallocateArray(void* block, uint64_t count, size_t size, uint64_t maxCount) {
  if (count == 0 || count > maxCount || count > SIZE_MAX / size) plat::FatalExit(kExitOutOfMemory);
  void* grown = Reallocate(block, static_cast<size_t>(count) * size);
  if (!grown) plat::FatalExit(kExitOutOfMemory);
  return grown;
}

// The compiler's own memmove and memset: its code for them is as fast as
// the machine allows, and AddressSanitizer checks each call as one range
// instead of every byte.
void CopyBytes(void* destination, const void* source, size_t count) {
  if (count) __builtin_memmove(destination, source, count);
}

void FillBytes(void* destination, uint8_t value, size_t count) {
  if (count) __builtin_memset(destination, value, count);
}

}  // namespace mem

// Called by the compiler's code when an abstract operation without an
// implementation is invoked: the process ends with exit code 1.
extern "C" void __cxa_pure_virtual() { plat::FatalExit(kExitPureVirtual); }

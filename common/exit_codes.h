#pragma once
// Exit codes of a process that ends at once (plat::FatalExit): an
// allocation failure or a broken invariant, NTSTATUS-style so that they
// read like the system's own.

#include <stdint.h>

constexpr uint32_t kExitOutOfMemory = 0xC0000017u;      // STATUS_NO_MEMORY
constexpr uint32_t kExitSecondContext = 0xC000000Du;    // a second application context
constexpr uint32_t kExitBrokenInvariant = 0xC0000005u;  // a failed subclass removal
constexpr uint32_t kExitPureVirtual = 1u;               // an abstract operation without implementation

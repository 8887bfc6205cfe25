// Triggers one of the toolkit's fatal paths, named by the first argument,
// so that a test can read the exit code the process ends with.
#include <windows.h>

#include <stdint.h>

#include "common/app_context.h"
#include "common/memory.h"

namespace {

struct Abstract;
Abstract* volatile g_underConstruction = nullptr;
void CallThroughOpaquePointer();

// A virtual call made while the base part is being constructed reaches the
// pure slot of the base's table.
struct Abstract {
  Abstract() {
    g_underConstruction = this;
    CallThroughOpaquePointer();
  }
  virtual ~Abstract() = default;
  virtual int Operation() = 0;
};

__attribute__((noinline)) void CallThroughOpaquePointer() { g_underConstruction->Operation(); }

struct Concrete : Abstract {
  int Operation() override { return 0; }
};

bool Same(const wchar_t* a, const wchar_t* b) {
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const wchar_t* what = argv[1];
  if (Same(what, L"out-of-memory")) {
    volatile size_t impossible = static_cast<size_t>(1) << 62;
    mem::Allocate(impossible);
  } else if (Same(what, L"second-context")) {
    AppContextCreate(GetModuleHandleW(nullptr));
    AppContextCreate(GetModuleHandleW(nullptr));
  } else if (Same(what, L"pure-virtual")) {
    Concrete object;
    (void)object;
  } else if (Same(what, L"none")) {
    return 0;
  }
  return 3;  // the fatal path did not end the process
}

#pragma once
// The application context: one per module (the shell program, each plug-in
// library), reachable through one module-wide pointer.

#include <stdint.h>

struct AppContext {
  void* moduleInstance;    // the module's instance handle
  void* resourceInstance;  // where dialogs, icons and strings are loaded from (the same module)
  uint32_t uiThreadId;     // the thread that created the context
  uint32_t valid;
};

// Creates the module's context; a second one while the first exists ends the
// process with 0xC000000D.
AppContext* AppContextCreate(void* moduleInstance);
// Releases the context and clears the module-wide pointer when it points here.
void AppContextRelease(AppContext* context);
// The module's context, or null.
AppContext* CurrentAppContext();

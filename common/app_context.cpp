#include "common/app_context.h"

#include "common/exit_codes.h"
#include "common/memory.h"
#include "common/platform.h"

namespace {
AppContext* g_context = nullptr;
}

AppContext* AppContextCreate(void* moduleInstance) {
  if (g_context) plat::FatalExit(kExitSecondContext);
  AppContext* context = mem::New<AppContext>();
  context->moduleInstance = moduleInstance;
  context->resourceInstance = moduleInstance;
  context->uiThreadId = plat::CurrentThreadId();
  context->valid = 1;
  g_context = context;
  return context;
}

void AppContextRelease(AppContext* context) {
  if (!context) return;
  if (g_context == context) g_context = nullptr;
  mem::Delete(context);
}

AppContext* CurrentAppContext() { return g_context; }

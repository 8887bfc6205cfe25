// A stand-in for the connection setup dialog, used by the tests until the
// dialog itself is built. The environment variable VELMORA_TEST_SETUP_FILE
// names a file whose first line is the answer: the registry index of the
// plug-in to confirm, "cancel", or "fail" (the dialog could not be created).
// The confirmed plug-in applies its settings as on a real confirmation.
// Without the variable the dialog counts as not created.
#include <windows.h>

#include "shell/connection_setup.h"

int32_t RunConnectionSetup(HWND owner, PluginRegistry& registry, int32_t activeIndex) {
  (void)owner;
  (void)activeIndex;
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"VELMORA_TEST_SETUP_FILE", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return kSetupNotCreated;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kSetupNotCreated;
  char answer[16] = {};
  DWORD read = 0;
  ReadFile(file, answer, sizeof(answer) - 1, &read, nullptr);
  CloseHandle(file);
  if (answer[0] < '0' || answer[0] > '9') return answer[0] == 'f' ? kSetupNotCreated : kSetupCancelled;
  int32_t index = 0;
  for (DWORD i = 0; i < read && answer[i] >= '0' && answer[i] <= '9'; ++i) index = index * 10 + (answer[i] - '0');
  const PluginEntry* entry = registry.Plugin(static_cast<uint32_t>(index));
  if (!entry) return kSetupCancelled;
  entry->ops.applySettings(entry->ops.instance);
  return index;
}

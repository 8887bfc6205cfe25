// The entry point of velmora.exe. No command line is read: every start
// begins with defaults.
#include <windows.h>
#include <commctrl.h>

#include "common/app_context.h"
#include "common/memory.h"
#include "shell/main_window.h"
#include "shell/plugin_registry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_LINK_CLASS;
  InitCommonControlsEx(&controls);

  AppContextCreate(instance);
  // Lives until the process ends: plug-in instances are never destroyed and
  // their libraries never unloaded.
  PluginRegistry* registry = mem::New<PluginRegistry>();
  MainWindow* window = mem::New<MainWindow>(*registry);
  INT_PTR result = window->Run(instance);
  ExitProcess(static_cast<UINT>(result));
}

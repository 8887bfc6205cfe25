#pragma once
// The log files of the test plug-ins: "<dll>.log" beside the library,
// appended and closed at every line so that a test reads it while the shell
// runs.
#include <windows.h>

#include <string>

namespace pluginlog {

// The library's path without ".dll", taken when the library is loaded.
inline std::wstring ModuleBase(HINSTANCE instance) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  std::wstring base(path, length);
  if (base.size() > 4) base.resize(base.size() - 4);
  return base;
}

inline void Append(const std::wstring& path, const std::string& line) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace pluginlog

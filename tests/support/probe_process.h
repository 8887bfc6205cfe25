#pragma once
// Runs a program that sits beside the running test executable and returns
// its full 32-bit exit code: how tests observe paths that end the process.
#include <windows.h>

#include <string>

inline DWORD RunBesideAndWait(const wchar_t* program, const wchar_t* argument) {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + program;
  std::wstring command = L"\"" + path + L"\" " + argument;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFFu;
  }
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

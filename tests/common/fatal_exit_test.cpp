// Runs the fatal probe for each fatal path and checks the full 32-bit exit
// code it ends with.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

DWORD RunProbe(const wchar_t* what) {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"fatal_probe.exe";
  std::wstring command = L"\"" + path + L"\" " + what;
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

struct FatalCase {
  const wchar_t* what;
  DWORD exitCode;
};

class FatalExit : public ::testing::TestWithParam<FatalCase> {};

TEST_P(FatalExit, EndsTheProcessWithItsCode) {
  EXPECT_EQ(RunProbe(GetParam().what), GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(Paths, FatalExit,
                         ::testing::Values(FatalCase{L"none", 0}, FatalCase{L"out-of-memory", 0xC0000017u},
                                           FatalCase{L"second-context", 0xC000000Du},
                                           FatalCase{L"pure-virtual", 1u}));

}  // namespace

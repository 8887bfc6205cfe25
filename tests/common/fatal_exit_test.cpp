// Runs the fatal probe for each fatal path and checks the full 32-bit exit
// code it ends with.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/probe_process.h"

namespace {

DWORD RunProbe(const wchar_t* what) { return RunBesideAndWait(L"fatal_probe.exe", what); }

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

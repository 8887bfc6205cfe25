// The plug-in scan against real libraries: each test lays out a scratch
// directory with a plugins folder holding copies of the test plug-ins built
// beside this program (bin/test_plugins), scans it and checks the records,
// the accepted plug-ins, the calls the plug-ins saw and the report's text.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "shell/error_box.h"
#include "shell/plugin_calls.h"
#include "shell/plugin_registry.h"

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const Unit* text) { return text ? std::wstring(reinterpret_cast<const wchar_t*>(text)) : L"<null>"; }
const Unit* Units(const std::wstring& text) { return reinterpret_cast<const Unit*>(text.c_str()); }
std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

fs::path ExecutableDirectory() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path();
}

// The test plug-ins append "<tag>.<call> " to this variable for every call.
const char kCallsVariable[] = "VELMORA_TEST_PLUGIN_CALLS";

void ResetCalls() { SetEnvironmentVariableA(kCallsVariable, nullptr); }

std::string Calls() {
  char calls[8192] = {};
  DWORD length = GetEnvironmentVariableA(kCallsVariable, calls, sizeof(calls));
  return " " + std::string(calls, length < sizeof(calls) ? length : 0);
}

bool Called(const std::string& calls, const std::string& tag, const std::string& call) {
  return calls.find(" " + tag + "." + call + " ") != std::string::npos;
}

// A scratch directory standing for the shell's own directory.
class Scratch {
 public:
  Scratch() {
    static int counter = 0;
    std::error_code ignored;
    if (counter == 0) RemoveEarlierRuns();
    root_ = fs::temp_directory_path() /
            (L"velmora-plug-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter));
    fs::remove_all(root_, ignored);
    fs::create_directories(root_);
  }
  ~Scratch() {
    // Accepted libraries stay loaded, so some files may refuse to go.
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Plugins() const { return root_ / L"plugins"; }
  fs::path Root() const { return root_; }
  std::wstring Executable() const { return (root_ / L"velmora.exe").wstring(); }

  void AddPlugin(const std::string& name) {
    fs::create_directories(Plugins());
    fs::copy_file(ExecutableDirectory() / L"test_plugins" / Widen(name + ".dll"), Plugins() / Widen(name + ".dll"),
                  fs::copy_options::overwrite_existing);
  }
  void AddTextFile(const std::string& name) {
    fs::create_directories(Plugins());
    HANDLE file = CreateFileW((Plugins() / Widen(name)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const char text[] = "This is a text file, not a library.\r\n";
    DWORD written = 0;
    WriteFile(file, text, sizeof(text) - 1, &written, nullptr);
    CloseHandle(file);
  }
  void AddDirectory(const std::string& name) { fs::create_directories(Plugins() / Widen(name)); }

 private:
  // Directories whose libraries an earlier run kept loaded until it ended.
  static void RemoveEarlierRuns() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), ignored)) {
      if (entry.path().filename().wstring().rfind(L"velmora-plug-", 0) == 0) fs::remove_all(entry.path(), ignored);
    }
  }

  fs::path root_;
};

std::wstring Report(const PluginRegistry& registry, int* shown) {
  TextBuffer text;
  *shown = registry.BuildReport(&text);
  return Wide(text.Text());
}

const PluginLoadRecord* FindRecord(const PluginRegistry& registry, const std::string& file, uint32_t* index) {
  for (uint32_t i = 0; i < registry.RecordCount(); ++i) {
    if (Wide(registry.Record(i)->fileName) == Widen(file)) {
      *index = i;
      return registry.Record(i);
    }
  }
  return nullptr;
}

// --- the error box seam ------------------------------------------------------

struct ShownBox {
  int count = 0;
  HWND owner = nullptr;
  std::wstring text, caption;
  unsigned style = 0;
};
ShownBox g_box;

void RecordBox(HWND owner, const Unit* text, const Unit* caption, unsigned style) {
  ++g_box.count;
  g_box.owner = owner;
  g_box.text = Wide(text);
  g_box.caption = Wide(caption);
  g_box.style = style;
}

class BoxHook {
 public:
  BoxHook() {
    g_box = ShownBox();
    previous_ = SetErrorBoxHook(RecordBox);
  }
  ~BoxHook() { SetErrorBoxHook(previous_); }

 private:
  ErrorBoxHook previous_;
};

const wchar_t kNoPlugins[] = L"No plugins were found in the plugins directory.";
HWND const kOwner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));

// --- words -------------------------------------------------------------------

TEST(PluginStatusWord, NamesEveryStatus) {
  const struct {
    uint32_t status;
    const wchar_t* word;
  } cases[] = {
      {0, L"loaded"},
      {1, L"could not open library"},
      {2, L"missing required export"},
      {3, L"invalid descriptor"},
      {4, L"incompatible plugin ABI"},
      {5, L"duplicate plugin ID"},
      {6, L"plugin creation failed"},
      {7, L"unknown error"},
      {0xFFFFFFFFu, L"unknown error"},
  };
  for (const auto& c : cases) EXPECT_EQ(Wide(PluginStatusWord(c.status)), c.word) << c.status;
}

// --- every rule in one directory ----------------------------------------------

struct Outcome {
  const char* file;  // without ".dll"
  uint32_t status;
  uint32_t systemError;
  const wchar_t* word;
  bool created;    // CreatePlugin was called
  bool destroyed;  // destroy was called
};

const Outcome kOutcomes[] = {
    {"complete", 0, 0, L"loaded", true, false},
    {"size64", 0, 0, L"loaded", true, false},
    {"size88", 0, 0, L"loaded", true, false},
    {"late", 0, 0, L"loaded", true, false},
    {"high", 0, 0, L"loaded", true, false},
    {"tie_a", 0, 0, L"loaded", true, false},
    {"tie_b", 0, 0, L"loaded", true, false},
    {"not_a_dll", 1, 193, L"could not open library", false, false},
    {"foreign", 1, 193, L"could not open library", false, false},
    {"no_create", 2, 0, L"missing required export", false, false},
    {"null_descriptor", 3, 0, L"invalid descriptor", false, false},
    {"size39", 3, 0, L"invalid descriptor", false, false},
    {"null_id", 3, 0, L"invalid descriptor", false, false},
    {"empty_id", 3, 0, L"invalid descriptor", false, false},
    {"null_name", 3, 0, L"invalid descriptor", false, false},
    {"empty_name", 3, 0, L"invalid descriptor", false, false},
    {"null_title", 3, 0, L"invalid descriptor", false, false},
    {"empty_title", 3, 0, L"invalid descriptor", false, false},
    {"v10_empty_title", 3, 0, L"invalid descriptor", false, false},
    {"v10", 4, 0, L"incompatible plugin ABI", false, false},
    {"twin_v10", 4, 0, L"incompatible plugin ABI", false, false},
    {"twin_empty_name", 3, 0, L"invalid descriptor", false, false},
    {"create_fails", 6, 0, L"plugin creation failed", true, true},
    {"table63", 6, 0, L"plugin creation failed", true, true},
    {"table_v10", 6, 0, L"plugin creation failed", true, true},
    {"null_instance", 6, 0, L"plugin creation failed", true, false},
    {"null_handler", 6, 0, L"plugin creation failed", true, true},
    {"null_destroy", 6, 0, L"plugin creation failed", true, false},
};

class FullScan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new Scratch();
    for (const Outcome& outcome : kOutcomes) {
      if (std::string(outcome.file) != "not_a_dll") scratch_->AddPlugin(outcome.file);
    }
    scratch_->AddPlugin("dup_first");
    scratch_->AddPlugin("dup_second");
    scratch_->AddTextFile("not_a_dll.dll");
    scratch_->AddDirectory("x.dll");
    ResetCalls();
    registry_ = new PluginRegistry();
    registry_->ScanBeside(Units(scratch_->Executable()));
    calls_ = new std::string(Calls());
  }
  static void TearDownTestSuite() {
    delete calls_;
    delete registry_;
    delete scratch_;
  }

  static Scratch* scratch_;
  static PluginRegistry* registry_;
  static std::string* calls_;
};

Scratch* FullScan::scratch_ = nullptr;
PluginRegistry* FullScan::registry_ = nullptr;
std::string* FullScan::calls_ = nullptr;

TEST_F(FullScan, RecordsEveryFileButTheDirectory) {
  EXPECT_TRUE(registry_->Scanned());
  EXPECT_EQ(registry_->RecordCount(), std::size(kOutcomes) + 2);
  uint32_t index = 0;
  EXPECT_EQ(FindRecord(*registry_, "x.dll", &index), nullptr);
  EXPECT_EQ(registry_->Record(registry_->RecordCount()), nullptr);
}

TEST_F(FullScan, GivesEachFileItsStatusAndCalls) {
  for (const Outcome& outcome : kOutcomes) {
    SCOPED_TRACE(outcome.file);
    uint32_t index = 0;
    const PluginLoadRecord* record = FindRecord(*registry_, std::string(outcome.file) + ".dll", &index);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->status, outcome.status);
    EXPECT_EQ(record->systemError, outcome.systemError);
    EXPECT_EQ(Called(*calls_, outcome.file, "create"), outcome.created);
    EXPECT_EQ(Called(*calls_, outcome.file, "destroy"), outcome.destroyed);
    // Every refused library that was loaded is unloaded again; accepted
    // ones stay.
    bool loaded = outcome.status != 1;
    EXPECT_EQ(Called(*calls_, outcome.file, "unload"), loaded && outcome.status != 0);
    // The instance goes before its library.
    if (outcome.destroyed) {
      size_t destroyed = calls_->find(" " + std::string(outcome.file) + ".destroy ");
      size_t unloaded = calls_->find(" " + std::string(outcome.file) + ".unload ");
      EXPECT_LT(destroyed, unloaded);
    }
    HMODULE module = GetModuleHandleW((scratch_->Plugins() / Widen(std::string(outcome.file) + ".dll")).c_str());
    EXPECT_EQ(module != nullptr, outcome.status == 0);
  }
  EXPECT_EQ(calls_->find("destroy-wrong-instance"), std::string::npos);
  // The export check comes before the descriptor is asked for.
  EXPECT_FALSE(Called(*calls_, "no_create", "describe"));
}

TEST_F(FullScan, RefusesTheLaterOfTwoEqualIdsWithoutCreatingIt) {
  uint32_t first = 0, second = 0;
  const PluginLoadRecord* a = FindRecord(*registry_, "dup_first.dll", &first);
  const PluginLoadRecord* b = FindRecord(*registry_, "dup_second.dll", &second);
  ASSERT_TRUE(a && b);
  const PluginLoadRecord* earlier = first < second ? a : b;
  const PluginLoadRecord* later = first < second ? b : a;
  std::string laterTag = first < second ? "dup_second" : "dup_first";
  std::string earlierTag = first < second ? "dup_first" : "dup_second";
  EXPECT_EQ(earlier->status, 0u);
  EXPECT_EQ(later->status, 5u);
  EXPECT_EQ(later->systemError, 0u);
  EXPECT_TRUE(Called(*calls_, earlierTag, "create"));
  EXPECT_TRUE(Called(*calls_, laterTag, "describe"));
  EXPECT_FALSE(Called(*calls_, laterTag, "create"));
  EXPECT_TRUE(Called(*calls_, laterTag, "unload"));
}

TEST_F(FullScan, SortsByOrderThenById) {
  const struct {
    const wchar_t* id;
    uint32_t order;
    uint32_t tableSize;
  } expected[] = {
      {L"size64", 5, 64},  {L"alpha", 7, 104}, {L"beta", 7, 104}, {L"complete", 10, 104}, {L"size88", 10, 88},
      {L"twin", 20, 104},  {L"late", 30, 104}, {L"high", 0x80000001u, 104},
  };
  ASSERT_EQ(registry_->PluginCount(), std::size(expected));
  for (uint32_t i = 0; i < registry_->PluginCount(); ++i) {
    const PluginEntry* entry = registry_->Plugin(i);
    SCOPED_TRACE(i);
    EXPECT_EQ(Wide(entry->descriptor->id), expected[i].id);
    EXPECT_EQ(entry->descriptor->order, expected[i].order);
    EXPECT_EQ(entry->ops.size, expected[i].tableSize);
    EXPECT_EQ(entry->ops.version, 11u);
    EXPECT_NE(entry->ops.instance, nullptr);
    EXPECT_NE(entry->library, nullptr);
  }
  EXPECT_EQ(registry_->Plugin(registry_->PluginCount()), nullptr);
}

TEST_F(FullScan, ReportListsEveryRefusalInRecordOrder) {
  std::wstring expected;
  for (uint32_t i = 0; i < registry_->RecordCount(); ++i) {
    std::wstring file = Wide(registry_->Record(i)->fileName);
    for (const Outcome& outcome : kOutcomes) {
      if (Widen(std::string(outcome.file) + ".dll") != file || outcome.status == 0) continue;
      expected += file + L": " + outcome.word;
      if (outcome.systemError) expected += L" (system error " + std::to_wstring(outcome.systemError) + L")";
      expected += L"\r\n";
    }
    if (registry_->Record(i)->status == 5) expected += file + L": duplicate plugin ID\r\n";
  }
  int shown = 0;
  EXPECT_EQ(Report(*registry_, &shown), expected);
  EXPECT_EQ(shown, 1);

  BoxHook hook;
  registry_->ShowReport(kOwner);
  EXPECT_EQ(g_box.count, 1);
  EXPECT_EQ(g_box.owner, kOwner);
  EXPECT_EQ(g_box.caption, L"Plugin diagnostics");
  EXPECT_EQ(g_box.style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(g_box.text, expected);
}

TEST_F(FullScan, CallsOptionalEntriesOnlyWithinTheTableSize) {
  const struct {
    const wchar_t* id;
    const char* tag;
    bool lines, indicator, tips;
  } cases[] = {
      {L"complete", "complete", true, true, true},
      {L"size88", "size88", true, true, false},
      {L"size64", "size64", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const PluginEntry* entry = nullptr;
    for (uint32_t i = 0; i < registry_->PluginCount(); ++i) {
      if (Wide(registry_->Plugin(i)->descriptor->id) == c.id) entry = registry_->Plugin(i);
    }
    ASSERT_NE(entry, nullptr);
    ResetCalls();
    // The plug-ins fill every unit without a NUL; the shell terminates.
    Unit line[kPluginLineCapacity];
    Unit tip[kPluginTipCapacity];
    EXPECT_EQ(PluginGetProtocolLine(entry->ops, line, kPluginLineCapacity), c.lines ? 1 : 0);
    if (c.lines) {
      EXPECT_EQ(TextLength(line), static_cast<int32_t>(kPluginLineCapacity - 1));
    }
    EXPECT_EQ(PluginGetConnectionLine(entry->ops, line, kPluginLineCapacity), c.lines ? 1 : 0);
    EXPECT_EQ(PluginShowConnectionIndicator(entry->ops, nullptr, 1), c.indicator ? 1 : 0);
    EXPECT_EQ(PluginGetTip(entry->ops, 7, tip, kPluginTipCapacity), c.tips ? 1 : 0);
    if (c.tips) {
      EXPECT_EQ(TextLength(tip), static_cast<int32_t>(kPluginTipCapacity - 1));
    }
    EXPECT_EQ(PluginGetNextTip(entry->ops, tip, kPluginTipCapacity), c.tips ? 1 : 0);
    std::string calls = Calls();
    EXPECT_EQ(Called(calls, c.tag, "getProtocolLine"), c.lines);
    EXPECT_EQ(Called(calls, c.tag, "getConnectionLine"), c.lines);
    EXPECT_EQ(Called(calls, c.tag, "showConnectionIndicator"), c.indicator);
    EXPECT_EQ(Called(calls, c.tag, "getTip"), c.tips);
    EXPECT_EQ(Called(calls, c.tag, "getNextTip"), c.tips);
  }
}

// --- smaller layouts -----------------------------------------------------------

enum class Layout { Missing, Empty, OnlyDirectory };

class NothingFound : public ::testing::TestWithParam<Layout> {};

TEST_P(NothingFound, ReportsThatNoPluginsWereFound) {
  Scratch scratch;
  if (GetParam() == Layout::Empty) fs::create_directories(scratch.Plugins());
  if (GetParam() == Layout::OnlyDirectory) scratch.AddDirectory("x.dll");
  PluginRegistry registry;
  registry.ScanBeside(Units(scratch.Executable()));
  EXPECT_TRUE(registry.Scanned());
  EXPECT_EQ(registry.RecordCount(), 0u);
  EXPECT_EQ(registry.PluginCount(), 0u);
  int shown = 0;
  EXPECT_EQ(Report(registry, &shown), kNoPlugins);
  EXPECT_EQ(shown, 1);

  BoxHook hook;
  registry.ShowReport(kOwner);
  EXPECT_EQ(g_box.count, 1);
  EXPECT_EQ(g_box.owner, kOwner);
  EXPECT_EQ(g_box.caption, L"Plugin diagnostics");
  EXPECT_EQ(g_box.style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(g_box.text, kNoPlugins);
}

INSTANTIATE_TEST_SUITE_P(Layouts, NothingFound,
                         ::testing::Values(Layout::Missing, Layout::Empty, Layout::OnlyDirectory));

TEST(PluginScan, ShowsNothingWhenEveryFileLoaded) {
  Scratch scratch;
  scratch.AddPlugin("complete");
  scratch.AddPlugin("size64");
  PluginRegistry registry;
  registry.ScanBeside(Units(scratch.Executable()));
  EXPECT_EQ(registry.RecordCount(), 2u);
  EXPECT_EQ(registry.PluginCount(), 2u);
  int shown = 1;
  EXPECT_EQ(Report(registry, &shown), L"");
  EXPECT_EQ(shown, 0);
  BoxHook hook;
  registry.ShowReport(kOwner);
  EXPECT_EQ(g_box.count, 0);
}

TEST(PluginScan, ReportsRefusalsEvenWhenNothingWasAccepted) {
  Scratch scratch;
  scratch.AddPlugin("foreign");
  PluginRegistry registry;
  registry.ScanBeside(Units(scratch.Executable()));
  int shown = 0;
  EXPECT_EQ(Report(registry, &shown), L"foreign.dll: could not open library (system error 193)\r\n");
  EXPECT_EQ(shown, 1);
}

TEST(PluginScan, RunsOnlyOnce) {
  Scratch scratch;
  scratch.AddPlugin("complete");
  PluginRegistry registry;
  registry.ScanBeside(Units(scratch.Executable()));
  ASSERT_EQ(registry.PluginCount(), 1u);
  scratch.AddPlugin("size64");
  ResetCalls();
  registry.ScanBeside(Units(scratch.Executable()));
  registry.Scan();
  EXPECT_EQ(registry.PluginCount(), 1u);
  EXPECT_EQ(registry.RecordCount(), 1u);
  EXPECT_EQ(Calls(), " ");
}

TEST(PluginScan, EndsEmptyWhenThePathsDoNotFit) {
  const std::wstring paths[] = {
      L"velmora.exe",                                           // no directory at all
      L"C:\\" + std::wstring(32751, L'a') + L"\\velmora.exe",  // the pattern needs 32768 units and a NUL
  };
  for (const std::wstring& path : paths) {
    PluginRegistry registry;
    registry.ScanBeside(Units(path));
    EXPECT_TRUE(registry.Scanned());
    EXPECT_EQ(registry.RecordCount(), 0u);
    EXPECT_EQ(registry.PluginCount(), 0u);
  }
}

// --- the real executable -----------------------------------------------------------

TEST(PluginScan, LooksBesideTheRunningExecutable) {
  Scratch scratch;
  scratch.AddPlugin("complete");
  scratch.AddPlugin("size64");
  scratch.AddPlugin("null_descriptor");
  fs::copy_file(ExecutableDirectory() / L"plugin_scan_probe.exe", scratch.Root() / L"plugin_scan_probe.exe");
  fs::path output = scratch.Root() / L"scan.txt";

  // Started from another working directory, so only the executable's own
  // location can lead it to the plug-ins.
  std::wstring probe = (scratch.Root() / L"plugin_scan_probe.exe").wstring();
  std::wstring command = L"\"" + probe + L"\" \"" + output.wstring() + L"\"";
  std::wstring workingDirectory = ExecutableDirectory().wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(probe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                             workingDirectory.c_str(), &startup, &process));
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(exitCode, 0u);

  std::string text;
  HANDLE file = CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) text.append(chunk, read);
  CloseHandle(file);

  std::vector<std::string> lines;
  size_t start = 0;
  size_t report = text.find("REPORT\n");
  ASSERT_NE(report, std::string::npos);
  for (size_t end; (end = text.find('\n', start)) != std::string::npos && start < report; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "P size64 5");
  EXPECT_EQ(lines[1], "P complete 10");
  std::vector<std::string> records(lines.begin() + 2, lines.end());
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records, (std::vector<std::string>{"R complete.dll 0 0", "R null_descriptor.dll 3 0", "R size64.dll 0 0"}));
  EXPECT_EQ(text.substr(report + 7), "null_descriptor.dll: invalid descriptor\r\n");
}

}  // namespace

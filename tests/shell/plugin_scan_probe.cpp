// Scans the plugins directory beside its own executable, as the shell does,
// and writes what it found to the file named by its argument, in UTF-8:
// "P <id> <order>" per accepted plug-in in registry order, "R <file>
// <status> <error>" per load record, then "REPORT" and the report text.
#include <windows.h>

#include <string>

#include "shell/plugin_registry.h"

namespace {

std::wstring Wide(const Unit* text) { return std::wstring(reinterpret_cast<const wchar_t*>(text)); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  PluginRegistry registry;
  registry.Scan();

  std::wstring out;
  for (uint32_t i = 0; i < registry.PluginCount(); ++i) {
    const PluginEntry* entry = registry.Plugin(i);
    out += L"P " + Wide(entry->descriptor->id) + L" " + std::to_wstring(entry->descriptor->order) + L"\n";
  }
  for (uint32_t i = 0; i < registry.RecordCount(); ++i) {
    const PluginLoadRecord* record = registry.Record(i);
    out += L"R " + Wide(record->fileName) + L" " + std::to_wstring(record->status) + L" " +
           std::to_wstring(record->systemError) + L"\n";
  }
  TextBuffer report;
  registry.BuildReport(&report);
  out += L"REPORT\n" + Wide(report.Text());

  int bytes = WideCharToMultiByte(CP_UTF8, 0, out.data(), static_cast<int>(out.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, out.data(), static_cast<int>(out.size()), &utf8[0], bytes, nullptr, nullptr);
  HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  BOOL ok = WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == utf8.size() ? 0 : 4;
}

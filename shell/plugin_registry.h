#pragma once
// The plug-in registry: finds plugins\*.dll beside the shell's executable,
// loads and checks each library against the plug-in interface, keeps the
// accepted plug-ins sorted by their descriptor's order and keeps one load
// record per file found. Accepted plug-ins and their libraries live until
// the process ends: the registry never destroys or unloads them.

#include <stdint.h>

#include "common/plugin_interface.h"
#include "common/text.h"

struct HINSTANCE__;

// The outcome of one file, shown by the diagnostics report.
enum PluginLoadStatus : uint32_t {
  kPluginLoaded = 0,
  kPluginCannotOpen = 1,
  kPluginMissingExport = 2,
  kPluginInvalidDescriptor = 3,
  kPluginIncompatible = 4,
  kPluginDuplicateId = 5,
  kPluginCreationFailed = 6,
};

// The report's word for a status ("unknown error" for any other value).
const Unit* PluginStatusWord(uint32_t status);

struct PluginEntry {
  HINSTANCE__* library;
  PluginOps ops;  // the shell's own copy of the table CreatePlugin filled
  const PluginDescriptor* descriptor;  // owned by the library
};

constexpr int32_t kPluginFileNameCapacity = 260;

struct PluginLoadRecord {
  Unit fileName[kPluginFileNameCapacity];  // the directory entry's name, NUL-terminated
  uint32_t status;                         // a PluginLoadStatus
  uint32_t systemError;                    // the loader's error number, 0 when none
};

class PluginRegistry {
 public:
  PluginRegistry() = default;
  // Releases the arrays only; the libraries stay loaded.
  ~PluginRegistry();
  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  // Scans the plugins directory beside the running executable, once per
  // registry: later calls do nothing.
  void Scan();
  // The same scan for an executable at executablePath (a full Windows path);
  // Scan passes the running executable's path.
  void ScanBeside(const Unit* executablePath);

  bool Scanned() const { return scanned_; }

  // In registry order (ascending order, then ID); null when out of range.
  uint32_t PluginCount() const { return pluginCount_; }
  const PluginEntry* Plugin(uint32_t index) const;

  // In the order the files were found; null when out of range.
  uint32_t RecordCount() const { return recordCount_; }
  const PluginLoadRecord* Record(uint32_t index) const;

  // Builds the diagnostics report into text (replacing its content): one
  // line per refused file, or the no-plugins sentence when nothing was
  // accepted or refused. Returns 1 when the report has something to show,
  // 0 when there is nothing to show (text is then empty).
  int BuildReport(TextBuffer* text) const;
  // Builds the report and, when it has something to show, shows it in a
  // modal error box owned by owner with the caption "Plugin diagnostics".
  void ShowReport(HWND__* owner) const;

 private:
  void LoadFile(const Unit* directory, const Unit* fileName);
  void AddRecord(const Unit* fileName, uint32_t status, uint32_t systemError);
  void AddPlugin(const PluginEntry& entry);
  bool HasId(const Unit* id) const;
  void SortPlugins();

  PluginEntry* plugins_ = nullptr;
  uint32_t pluginCount_ = 0;
  uint32_t pluginCapacity_ = 0;
  PluginLoadRecord* records_ = nullptr;
  uint32_t recordCount_ = 0;
  uint32_t recordCapacity_ = 0;
  bool scanned_ = false;
};

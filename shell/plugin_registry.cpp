#include "shell/plugin_registry.h"

#include <windows.h>

#include "common/exit_codes.h"
#include "common/memory.h"
#include "common/platform.h"
#include "shell/error_box.h"

namespace {

// The longest Windows path, terminating NUL included; every path the scan
// builds must fit in it.
constexpr int32_t kPathCapacity = 32768;

const wchar_t* Wide(const Unit* text) { return reinterpret_cast<const wchar_t*>(text); }

// The buffer only fails to grow when memory is exhausted, which ends the
// process like every other allocation of the shell.
void MustSucceed(int result) {
  if (!result) plat::FatalExit(kExitOutOfMemory);
}

// Appends part when the result still fits a Windows path; false otherwise.
bool AppendToPath(TextBuffer* path, const Unit* part) {
  int32_t count = TextLength(part);
  if (static_cast<int64_t>(path->Length()) + count >= kPathCapacity) return false;
  MustSucceed(path->Append(part, count));
  return true;
}

bool IsEmpty(const Unit* text) { return !text || !text[0]; }

// Ascending UTF-16 code-unit order; a null ID sorts first.
int CompareIds(const Unit* a, const Unit* b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  for (; *a && *a == *b; ++a, ++b) {
  }
  return static_cast<int>(*a) - static_cast<int>(*b);
}

bool SortsBefore(const PluginEntry& a, const PluginEntry& b) {
  if (a.descriptor->order != b.descriptor->order) return a.descriptor->order < b.descriptor->order;
  return CompareIds(a.descriptor->id, b.descriptor->id) < 0;
}

bool HasRequiredEntries(const PluginOps& table) {
  return table.size >= kPluginOpsMinimumSize && table.version == kPluginInterfaceVersion && table.instance &&
         table.attach && table.detach && table.createSettingsPage && table.applySettings && table.handleEvent &&
         table.destroy;
}

// GetProcAddress returns a generic procedure; the exports have the
// interface's signatures.
template <typename Proc>
Proc LookUp(HMODULE library, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

}  // namespace

const Unit* PluginStatusWord(uint32_t status) {
  switch (status) {
    case kPluginLoaded: return u"loaded";
    case kPluginCannotOpen: return u"could not open library";
    case kPluginMissingExport: return u"missing required export";
    case kPluginInvalidDescriptor: return u"invalid descriptor";
    case kPluginIncompatible: return u"incompatible plugin ABI";
    case kPluginDuplicateId: return u"duplicate plugin ID";
    case kPluginCreationFailed: return u"plugin creation failed";
    default: return u"unknown error";
  }
}

PluginRegistry::~PluginRegistry() {
  mem::Release(plugins_);
  mem::Release(records_);
}

void PluginRegistry::Scan() {
  if (scanned_) return;
  Unit* path = static_cast<Unit*>(mem::Allocate(kPathCapacity * sizeof(Unit)));
  DWORD length = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path), kPathCapacity);
  // A failed or truncated answer leaves no directory to scan.
  if (length == 0 || length >= static_cast<DWORD>(kPathCapacity)) path[0] = 0;
  ScanBeside(path);
  mem::Release(path);
}

void PluginRegistry::ScanBeside(const Unit* executablePath) {
  if (scanned_) return;
  pluginCount_ = 0;
  recordCount_ = 0;
  scanned_ = true;

  int32_t cut = TextLength(executablePath) - 1;
  while (cut >= 0 && executablePath[cut] != u'\\') --cut;
  if (cut < 0) return;
  if (cut >= kPathCapacity) return;
  TextBuffer directory;
  MustSucceed(directory.Append(executablePath, cut));

  TextBuffer pattern;
  if (!AppendToPath(&pattern, directory.Text()) || !AppendToPath(&pattern, u"\\plugins\\*.dll")) return;

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Wide(pattern.Text()), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    LoadFile(directory.Text(), reinterpret_cast<const Unit*>(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  SortPlugins();
}

void PluginRegistry::LoadFile(const Unit* directory, const Unit* fileName) {
  TextBuffer path;
  if (!AppendToPath(&path, directory) || !AppendToPath(&path, u"\\plugins\\") || !AppendToPath(&path, fileName)) {
    AddRecord(fileName, kPluginCannotOpen, 0);
    return;
  }

  // A broken library must not raise the system's own error boxes.
  DWORD previousMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
  HMODULE library = LoadLibraryW(Wide(path.Text()));
  DWORD loadError = library ? 0 : GetLastError();
  SetThreadErrorMode(previousMode, nullptr);
  if (!library) {
    AddRecord(fileName, kPluginCannotOpen, loadError);
    return;
  }

  PluginOps table;
  mem::FillBytes(&table, 0, sizeof(table));
  uint32_t status = kPluginLoaded;
  const PluginDescriptor* descriptor = nullptr;

  auto getDescriptor = LookUp<GetPluginDescriptorProc>(library, kGetPluginDescriptorExport);
  auto create = LookUp<CreatePluginProc>(library, kCreatePluginExport);
  if (!getDescriptor || !create) {
    status = kPluginMissingExport;
  } else {
    descriptor = getDescriptor();
    if (!descriptor || descriptor->size < kPluginDescriptorSize || IsEmpty(descriptor->id) ||
        IsEmpty(descriptor->displayName) || IsEmpty(descriptor->viewTitle)) {
      status = kPluginInvalidDescriptor;
    } else if (descriptor->interfaceVersion != kPluginInterfaceVersion) {
      status = kPluginIncompatible;
    } else if (HasId(descriptor->id)) {
      status = kPluginDuplicateId;
    } else if (!create(kPluginInterfaceVersion, &table) || !HasRequiredEntries(table)) {
      status = kPluginCreationFailed;
    }
  }

  if (status != kPluginLoaded) {
    if (table.instance && table.destroy) table.destroy(table.instance);
    FreeLibrary(library);
    AddRecord(fileName, status, 0);
    return;
  }

  PluginEntry entry;
  entry.library = library;
  entry.ops = table;
  entry.descriptor = descriptor;
  AddPlugin(entry);
  AddRecord(fileName, kPluginLoaded, 0);
}

void PluginRegistry::AddRecord(const Unit* fileName, uint32_t status, uint32_t systemError) {
  mem::GrowWhenFull(&records_, recordCount_, &recordCapacity_);
  PluginLoadRecord& record = records_[recordCount_++];
  int32_t length = TextLength(fileName);
  if (length > kPluginFileNameCapacity - 1) length = kPluginFileNameCapacity - 1;
  mem::CopyBytes(record.fileName, fileName, static_cast<size_t>(length) * sizeof(Unit));
  record.fileName[length] = 0;
  record.status = status;
  record.systemError = systemError;
}

void PluginRegistry::AddPlugin(const PluginEntry& entry) {
  mem::GrowWhenFull(&plugins_, pluginCount_, &pluginCapacity_);
  plugins_[pluginCount_++] = entry;
}

bool PluginRegistry::HasId(const Unit* id) const {
  for (uint32_t i = 0; i < pluginCount_; ++i) {
    if (CompareIds(plugins_[i].descriptor->id, id) == 0) return true;
  }
  return false;
}

// A stable insertion sort: the list is short and equal keys keep the order
// in which the files were found.
void PluginRegistry::SortPlugins() {
  for (uint32_t i = 1; i < pluginCount_; ++i) {
    PluginEntry moving = plugins_[i];
    uint32_t j = i;
    while (j > 0 && SortsBefore(moving, plugins_[j - 1])) {
      plugins_[j] = plugins_[j - 1];
      --j;
    }
    plugins_[j] = moving;
  }
}

const PluginEntry* PluginRegistry::Plugin(uint32_t index) const {
  return index < pluginCount_ ? &plugins_[index] : nullptr;
}

const PluginLoadRecord* PluginRegistry::Record(uint32_t index) const {
  return index < recordCount_ ? &records_[index] : nullptr;
}

int PluginRegistry::BuildReport(TextBuffer* text) const {
  MustSucceed(text->Resize(0));
  text->width = 0;
  text->groupSize = 0;
  for (uint32_t i = 0; i < recordCount_; ++i) {
    const PluginLoadRecord& record = records_[i];
    if (record.status == kPluginLoaded) continue;
    MustSucceed(text->Append(record.fileName));
    MustSucceed(text->Append(u": "));
    MustSucceed(text->Append(PluginStatusWord(record.status)));
    if (record.systemError) {
      MustSucceed(text->Append(u" (system error "));
      MustSucceed(text->FormatNumber(record.systemError, false, 10, true));
      MustSucceed(text->Append(u")"));
    }
    MustSucceed(text->Append(u"\r\n"));
  }
  if (text->Length() > 0) return 1;
  if (pluginCount_ > 0) return 0;
  MustSucceed(text->Assign(u"No plugins were found in the plugins directory."));
  return 1;
}

void PluginRegistry::ShowReport(HWND owner) const {
  TextBuffer text;
  if (BuildReport(&text)) ShowErrorBox(owner, text.Text(), u"Plugin diagnostics");
}

#pragma once
// velmora.exe started for a test: a scratch folder with a copy of the
// program and the chosen test plug-ins, the started program and its main
// window, and the connection setup driven as a user does.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "shell/resources/resource_ids.h"
#include "support/setup_driver.h"
#include "support/ui_automation.h"

namespace uiauto {

// Where a picture a person would want to look at goes: build/win/artifacts.
inline std::wstring ArtefactPath(const wchar_t* name) {
  CreateDirectoryW((ExeFolder() + L"..\\artifacts").c_str(), nullptr);
  return ExeFolder() + L"..\\artifacts\\" + name;
}

// A scratch folder with velmora.exe and plugins\ holding the chosen script
// plug-ins.
class Scratch {
 public:
  explicit Scratch(const std::vector<std::wstring>& plugins) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    // Process ids come back under Wine: the tick count keeps runs apart.
    folder_ = std::wstring(temp) + L"velmora_main_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
              std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(++counter) + L"\\";
    CreateDirectoryW(folder_.c_str(), nullptr);
    CreateDirectoryW((folder_ + L"plugins").c_str(), nullptr);
    CopyFileW((ExeFolder() + L"..\\dist\\velmora.exe").c_str(), Exe().c_str(), FALSE);
    for (const std::wstring& name : plugins) {
      CopyFileW((ExeFolder() + L"test_plugins\\" + name + L".dll").c_str(), (folder_ + L"plugins\\" + name + L".dll").c_str(),
                FALSE);
    }
  }
  ~Scratch() { Remove(folder_); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // Copies these libraries of the distribution (build/win/dist/plugins).
  bool AddDistPlugins(const std::vector<std::wstring>& names) const {
    for (const std::wstring& name : names) {
      if (!CopyFileW((ExeFolder() + L"..\\dist\\plugins\\" + name + L".dll").c_str(),
                     (folder_ + L"plugins\\" + name + L".dll").c_str(), FALSE)) {
        return false;
      }
    }
    return true;
  }

  std::wstring Exe() const { return folder_ + L"velmora.exe"; }
  std::wstring Folder() const { return folder_; }

  void Write(const std::wstring& path, const std::string& content) const {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
  }
  void Script(const std::wstring& plugin, const std::string& script) const {
    Write(folder_ + L"plugins\\" + plugin + L".script", script);
  }
  std::string Log(const std::wstring& plugin) const {
    std::string content;
    HANDLE file = CreateFileW((folder_ + L"plugins\\" + plugin + L".log").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return content;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) content.append(chunk, read);
    CloseHandle(file);
    return content;
  }
  // Waits until the plug-in's log holds line (a whole line).
  bool WaitLog(const std::wstring& plugin, const std::string& line) const {
    return uiauto::WaitFor([&] { return ("\n" + Log(plugin)).find("\n" + line + "\n") != std::string::npos; });
  }
  bool LogHas(const std::wstring& plugin, const std::string& line) const {
    return ("\n" + Log(plugin)).find("\n" + line + "\n") != std::string::npos;
  }

 private:
  static void Remove(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(folder + name + L"\\");
        } else {
          DeleteFileW((folder + name).c_str());
        }
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::wstring folder_;
};

// The started program and its main window.
struct Shell {
  App app;
  HWND main = nullptr;
  HWND Item(int id) const { return GetDlgItem(main, id); }

  void Start(const Scratch& scratch) {
    ASSERT_TRUE(app.Start(scratch.Exe(), scratch.Folder()));
    main = app.MainWindow(L"Velmora Tools");
    ASSERT_NE(main, nullptr) << "the main window did not appear";
  }
  // Confirms the plug-in at index answer in the connection setup, or
  // cancels it ("cancel").
  void Setup(const std::string& answer) {
    HWND dialog = uiauto::OpenSetup(app, main);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(uiauto::AnswerSetup(dialog, answer));
    Settle();
  }
  // Starts the program in scratch with the distribution's library alone,
  // opens the connection setup, checks that it lists the library's one
  // entry, name, and picks it; *dialog is then the setup dialog.
  void StartAndPick(const Scratch& scratch, const std::wstring& library, const std::wstring& name, HWND* dialog) {
    ASSERT_TRUE(scratch.AddDistPlugins({library}));
    ASSERT_NO_FATAL_FAILURE(Start(scratch));
    *dialog = uiauto::OpenSetup(app, main);
    ASSERT_NE(*dialog, nullptr);
    HWND list = GetDlgItem(*dialog, IDC_PLUGIN_LIST);
    ASSERT_EQ(ChoiceCount(list), 1);
    EXPECT_EQ(ChoiceText(list, 0), name);
    PickChoice(list, 0);
  }
  // Confirms the connection setup with OK and waits until it is gone.
  void ConfirmSetup(HWND dialog) {
    uiauto::Click(GetDlgItem(dialog, IDOK));
    ASSERT_TRUE(uiauto::WaitFor([&] { return !IsWindow(dialog); }));
    Settle();
  }
  // Opens the traffic log by the system menu's command (the numbers of
  // shell/traffic_log_window.h); *log is its window, *rows its list of
  // frames.
  void OpenTrafficLog(HWND* log, HWND* rows) {
    PostMessageW(main, WM_SYSCOMMAND, 0x0110, 0);
    ASSERT_TRUE(uiauto::WaitFor([&] {
      return (*log = FindWindowW(L"VelmoraTrafficLog", L"Traffic Log")) != nullptr &&
             (*rows = GetDlgItem(*log, 1006)) != nullptr;
    }));
  }
  void Click(int id) {
    uiauto::Click(Item(id));
    Settle();
  }
  // Every input posted so far has been handled.
  void Settle() const { ASSERT_TRUE(uiauto::Settle(Item(IDC_DOCUMENT))); }
  std::wstring Text(int id) const { return uiauto::Text(Item(id)); }
};

}  // namespace uiauto

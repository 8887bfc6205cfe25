// The settings pages as the setup dialog hosts them: a real page from a
// plug-in-like resource module, a child of a dialog with OK and Cancel,
// driven by posted clicks and keys, read back from its controls and from
// the records that OK applies. The serial ports come from the registry of
// the test prefix, written with reg.exe.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/app_context.h"
#include "common/ui_pump.h"
#include "settings/network_page.h"
#include "settings/serial_page.h"
#include "settings/settings_resource_ids.h"

namespace {

const wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// --- the registry of the prefix ------------------------------------------------

bool RunReg(const std::wstring& arguments) {
  std::wstring command = L"reg.exe " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  bool finished = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return finished && code == 0;
}

bool ClearPorts() { return RunReg(L"delete \"HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM\" /va /f"); }
bool AddPortValue(const wchar_t* name, const wchar_t* type, const wchar_t* data) {
  return RunReg(std::wstring(L"add \"HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM\" /v ") + name + L" /t " + type + L" /d " +
                data + L" /f");
}

// The prefix's own port values, put back when the suite ends.
struct SavedValue {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
};

std::vector<SavedValue> SavePorts() {
  std::vector<SavedValue> saved;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ, &key) != ERROR_SUCCESS) return saved;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    BYTE data[512];
    DWORD dataLength = sizeof(data);
    DWORD type = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
    saved.push_back({name, type, std::vector<BYTE>(data, data + dataLength)});
  }
  RegCloseKey(key);
  return saved;
}

void RestorePorts(const std::vector<SavedValue>& saved) {
  ClearPorts();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  for (const SavedValue& value : saved) {
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
  }
  RegCloseKey(key);
}

// --- the host dialog ---------------------------------------------------------------

// Stands in for the setup dialog: OK applies the page, as the shell does.
class HostDialog : public ui::Dialog {
 public:
  void (*apply)(void* page) = nullptr;
  void* page = nullptr;
  int okCount = 0;
  int cancelCount = 0;

 protected:
  void Dispatch(ui::Message& message) override {
    if (message.message == WM_INITDIALOG) {
      message.result = FALSE;
      message.handled = true;
    } else if (message.message == WM_COMMAND && LOWORD(message.wParam) == IDOK) {
      if (apply) apply(page);
      ++okCount;
      message.handled = true;
    } else if (message.message == WM_COMMAND && LOWORD(message.wParam) == IDCANCEL) {
      ++cancelCount;
      message.handled = true;
    }
  }
};

template <typename Page>
void ApplyPage(void* page) {
  static_cast<Page*>(page)->Apply();
}

std::wstring Text(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::u16string Str(const Unit* text) { return text; }

// The labels of a page, top to bottom.
std::vector<std::wstring> StaticTexts(HWND page) {
  std::vector<std::wstring> texts;
  for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    if (lstrcmpiW(className, L"Static") == 0 && GetWindowTextLengthW(child) > 0) texts.push_back(Text(child));
  }
  return texts;
}

std::vector<std::wstring> ComboItems(HWND combo) {
  std::vector<std::wstring> items;
  LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[128] = {};
    if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 127) SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}

// Closes the handshake pop-up by keyboard once it shows, noting whether the
// current handshake was checked in it.
struct MenuDriver {
  static UINT checkedItem;
  static int downs;
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (!menu || !IsWindowVisible(menu)) return;
    KillTimer(nullptr, id);
    HMENU popup = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
    checkedItem = 0;
    for (UINT item = IDM_HANDSHAKE_NONE; item <= IDM_HANDSHAKE_RTS_TOGGLE; ++item) {
      if (popup && (GetMenuState(popup, item, MF_BYCOMMAND) & MF_CHECKED)) checkedItem = item;
    }
    for (int i = 0; i < downs; ++i) {
      PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 1);
      PostMessageW(menu, WM_KEYUP, VK_DOWN, 0xC0000001);
    }
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(menu, WM_KEYUP, VK_RETURN, 0xC0000001);
  }
};
UINT MenuDriver::checkedItem = 0;
int MenuDriver::downs = 0;

class SettingsPagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    saved_ = new std::vector<SavedValue>(SavePorts());
    host_ = new HostDialog;
    window_ = uitest::OpenActiveDialog(host_, 300);
  }
  static void TearDownTestSuite() {
    uitest::CloseSuiteDialog(&window_, &host_);
    RestorePorts(*saved_);
    delete saved_;
  }

  void SetUp() override { ASSERT_NE(window_, nullptr); }
  void TearDown() override {
    host_->apply = nullptr;
    host_->page = nullptr;
    if (context_) AppContextRelease(context_);
    context_ = nullptr;
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }

  // Names the page module in the module record, as a plug-in's own record does.
  void UseModule(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path, length);
    dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + L"settings_pages\\" + name + L".dll";
    module_ = LoadLibraryW(dll.c_str());
    ASSERT_NE(module_, nullptr) << "missing page module";
    context_ = AppContextCreate(module_);
  }

  template <typename Page>
  HWND Host(Page& page) {
    host_->apply = &ApplyPage<Page>;
    host_->page = &page;
    // The setup dialog enables OK and makes it the default before it asks
    // for the page.
    EnableWindow(GetDlgItem(window_, IDOK), TRUE);
    SendMessageW(window_, DM_SETDEFID, IDOK, 0);
    HWND created = page.Create(window_);
    EXPECT_NE(created, nullptr);
    if (!created) return nullptr;
    RECT marker;
    GetWindowRect(GetDlgItem(window_, 327), &marker);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&marker), 2);
    SetWindowPos(created, nullptr, marker.left, marker.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return created;
  }

  // Dispatches through the dialog manager, as the setup dialog's modal loop
  // does, so Enter and Tab act on the dialog.
  static void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (IsDialogMessageW(window_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
  }
  template <typename Done>
  static bool PumpUntil(Done done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > timeoutMs) return false;
      Pump(20);
    }
    return true;
  }

  static void Click(HWND page, int id) {
    PostMessageW(GetDlgItem(page, id), BM_CLICK, 0, 0);
    Pump(50);
  }
  // Types text into a field as a user replaces its content, then presses
  // Enter, which reaches the setup dialog's default button.
  static void TypeAndEnter(HWND edit, const wchar_t* text) {
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    for (; *text; ++text) PostMessageW(edit, WM_CHAR, *text, 1);
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
    int before = host_->okCount;
    PumpUntil([&] { return host_->okCount > before; }, 5000);
  }
  // A click on the link's text (posted Enter keys do not reach a link under
  // Wine's dialog manager; the menu itself is driven by keys).
  // The menu runs its own modal loop inside the click; MenuDriver's timer
  // closes it by keyboard.
  static void ClickLink(HWND link) {
    UINT_PTR timer = SetTimer(nullptr, 0, 100, MenuDriver::Tick);
    SetFocus(link);
    PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 5));
    PostMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(6, 5));
    Pump(400);
    KillTimer(nullptr, timer);
  }
  static bool Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }
  static bool Enabled(HWND page, int id) { return IsWindowEnabled(GetDlgItem(page, id)) != FALSE; }
  static LRESULT DefaultId() { return LOWORD(SendMessageW(window_, DM_GETDEFID, 0, 0)); }

  // Keeps a picture of the dialog with its page where a person can look.
  static void SaveScreenshot(const wchar_t* file) {
    RECT frame;
    GetWindowRect(window_, &frame);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    // What the screen shows: PrintWindow leaves the child controls out under Wine.
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(100);
    HDC windowDc = GetWindowDC(window_);
    BitBlt(dc, 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
    ReleaseDC(window_, windowDc);
    GdiFlush();
    DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
    BITMAPFILEHEADER header = {0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageBytes),
                               0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(out, &header, sizeof(header), &written, nullptr);
      WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr);
      WriteFile(out, bits, imageBytes, &written, nullptr);
      CloseHandle(out);
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
  }

  static std::vector<SavedValue>* saved_;
  static HostDialog* host_;
  static HWND window_;
  HMODULE module_ = nullptr;
  AppContext* context_ = nullptr;
};

std::vector<SavedValue>* SettingsPagesTest::saved_ = nullptr;
HostDialog* SettingsPagesTest::host_ = nullptr;
HWND SettingsPagesTest::window_ = nullptr;

// --- serial pages ----------------------------------------------------------------

TEST_F(SettingsPagesTest, SerialPortsFromTheRegistryAndTheLineRules) {
  ASSERT_TRUE(ClearPorts());
  ASSERT_TRUE(AddPortValue(L"\\Device\\Test10", L"REG_SZ", L"COM10"));
  ASSERT_TRUE(AddPortValue(L"\\Device\\Test2", L"REG_SZ", L"COM2"));
  ASSERT_TRUE(AddPortValue(L"\\Device\\Test3", L"REG_SZ", L"com3"));
  ASSERT_TRUE(AddPortValue(L"\\Device\\TestX", L"REG_SZ", L"COMX1"));
  ASSERT_TRUE(AddPortValue(L"\\Device\\TestNumber", L"REG_DWORD", L"4"));
  UseModule(L"serial_client_page");

  SerialSettings settings{SerialFraming::Rtu};
  CopyTextCut(u"COM7", settings.portName, kPortNameCapacity);  // a port that has gone
  settings.baudRate = 12345;                                   // a rate the page does not offer
  SerialSettingsPage page(settings, SerialFraming::Rtu, SerialRole::Client);
  HWND window = Host(page);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_CHILD);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);  // Tab reaches the page
  EXPECT_EQ(GetParent(GetNextDlgTabItem(window_, GetDlgItem(window_, IDCANCEL), FALSE)), window);

  HWND ports = GetDlgItem(window, IDC_SERIAL_PORT);
  EXPECT_EQ(ComboItems(ports), (std::vector<std::wstring>{L"COM2", L"com3", L"COM10"}));
  EXPECT_EQ(SendMessageW(ports, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(Text(GetDlgItem(window, IDC_SERIAL_BAUD)), L"1200");
  EXPECT_EQ(ComboItems(GetDlgItem(window, IDC_SERIAL_BAUD)).size(), 8u);
  EXPECT_TRUE(Enabled(window_, IDOK));
  EXPECT_EQ(DefaultId(), IDOK);
  EXPECT_EQ(StaticTexts(window)[5], L"Response timeout:");
  EXPECT_EQ(Text(GetDlgItem(window, IDC_SERIAL_FIELD)), L"1500 ms");

  // The parity decides the stop bits; the framing the data bits.
  struct Step {
    int click;
    bool stop1, stop2, stop1Enabled, stop2Enabled;
  };
  const Step steps[] = {
      {IDC_SERIAL_NONE, false, true, false, true},
      {IDC_SERIAL_EVEN, true, false, true, false},
      {IDC_SERIAL_NONE, false, true, false, true},
      {IDC_SERIAL_ODD, true, false, true, false},
  };
  for (const Step& step : steps) {
    Click(window, step.click);
    EXPECT_EQ(Checked(window, IDC_SERIAL_STOP1), step.stop1) << step.click;
    EXPECT_EQ(Checked(window, IDC_SERIAL_STOP2), step.stop2) << step.click;
    EXPECT_EQ(Enabled(window, IDC_SERIAL_STOP1), step.stop1Enabled) << step.click;
    EXPECT_EQ(Enabled(window, IDC_SERIAL_STOP2), step.stop2Enabled) << step.click;
  }
  EXPECT_TRUE(Checked(window, IDC_SERIAL_DATA8));
  EXPECT_FALSE(Enabled(window, IDC_SERIAL_DATA7));
  SaveScreenshot(L"serial_settings_page.bmp");

  // The typed timeout is read as typed when Enter applies the page.
  struct Typed {
    const wchar_t* text;
    uint32_t stored;
  };
  const Typed typed[] = {{L"20", 50}, {L"99999", 10000}, {L"4294967346", 10000}, {L"750", 750}};
  for (const Typed& t : typed) {
    TypeAndEnter(GetDlgItem(window, IDC_SERIAL_FIELD), t.text);
    EXPECT_EQ(settings.responseTimeoutMs, t.stored) << t.text;
  }
  EXPECT_EQ(Str(settings.portName), u"COM2");  // the vanished port replaced by the first
  EXPECT_EQ(settings.baudRate, 1200u);
  EXPECT_EQ(settings.parity, kParityOdd);
  EXPECT_EQ(settings.stopBits, kStopBitsOne);
  EXPECT_EQ(settings.dataBits, 8);
  Unit line[64];
  ASSERT_EQ(SerialConnectionLine(settings, SerialRole::Client, line, 64), 1);
  EXPECT_EQ(Str(line), u"COM2: 1200-8-O-1-None");
  page.Destroy();
  EXPECT_EQ(page.Window(), nullptr);
  EXPECT_FALSE(IsWindow(window));
}


TEST_F(SettingsPagesTest, AsciiServerPageHandshakeMenuAndSlaveIdClamping) {
  ASSERT_TRUE(ClearPorts());
  ASSERT_TRUE(AddPortValue(L"\\Device\\Test5", L"REG_SZ", L"COM5"));
  ASSERT_TRUE(AddPortValue(L"\\Device\\Test4", L"REG_SZ", L"COM4"));
  UseModule(L"serial_server_page");

  SerialSettings settings{SerialFraming::Rtu};  // a record that says 8 data bits
  CopyTextCut(u"COM5", settings.portName, kPortNameCapacity);
  settings.handshake = 9;  // not offered: the menu starts at "No handshake"
  SerialSettingsPage page(settings, SerialFraming::Ascii, SerialRole::Server);
  HWND window = Host(page);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageW(GetDlgItem(window, IDC_SERIAL_PORT), CB_GETCURSEL, 0, 0), 1);  // COM4, COM5
  EXPECT_TRUE(Checked(window, IDC_SERIAL_DATA7));
  EXPECT_FALSE(Checked(window, IDC_SERIAL_DATA8));
  EXPECT_FALSE(Enabled(window, IDC_SERIAL_DATA8));
  EXPECT_EQ(StaticTexts(window)[5], L"Slave ID:");
  EXPECT_EQ(Text(GetDlgItem(window, IDC_SERIAL_FIELD)), L"1");

  // Enter on the link opens the menu; the keyboard chooses "CTS + DSR".
  MenuDriver::downs = 4;
  MenuDriver::checkedItem = 0;
  HWND link = GetDlgItem(window, IDC_SERIAL_HANDSHAKE);
  int okBefore = host_->okCount;
  ClickLink(link);
  EXPECT_EQ(host_->okCount, okBefore);  // Enter went to the link, not to OK
  EXPECT_EQ(MenuDriver::checkedItem, static_cast<UINT>(IDM_HANDSHAKE_NONE));

  const struct {
    const wchar_t* text;
    uint32_t stored;
  } typed[] = {{L"0", 1}, {L"300", 247}, {L"99999999999999999999", 247}, {L"17", 17}};
  for (const auto& t : typed) {
    TypeAndEnter(GetDlgItem(window, IDC_SERIAL_FIELD), t.text);
    EXPECT_EQ(settings.slaveId, t.stored) << t.text;
  }
  EXPECT_EQ(settings.handshake, kHandshakeCtsDsr);
  EXPECT_EQ(settings.dataBits, 7);
  Unit line[72];
  ASSERT_EQ(SerialConnectionLine(settings, SerialRole::Server, line, 72), 1);
  EXPECT_EQ(Str(line), u"COM5: 19200-7-E-1-CTS+DSR, ID: 17");

  // Opened again, the menu shows the choice checked.
  MenuDriver::downs = 0;
  MenuDriver::checkedItem = 0;
  ClickLink(link);
  EXPECT_EQ(MenuDriver::checkedItem, static_cast<UINT>(IDM_HANDSHAKE_CTS_DSR));
  page.Destroy();
}

TEST_F(SettingsPagesTest, NoSerialPortsPageCannotBeConfirmed) {
  ASSERT_TRUE(ClearPorts());
  ASSERT_TRUE(AddPortValue(L"\\Device\\Printer", L"REG_SZ", L"LPT1"));
  UseModule(L"serial_client_page");
  SerialSettings settings{SerialFraming::Rtu};
  SerialSettingsPage page(settings, SerialFraming::Rtu, SerialRole::Client);
  HWND window = Host(page);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ComboItems(GetDlgItem(window, IDC_SERIAL_PORT)),
            (std::vector<std::wstring>{L"No serial ports found on this host"}));
  for (int id = IDC_SERIAL_PORT; id <= IDC_SERIAL_FIELD; ++id) EXPECT_FALSE(Enabled(window, id)) << id;
  EXPECT_FALSE(Enabled(window_, IDOK));
  EXPECT_EQ(DefaultId(), IDCANCEL);
  // Applying anyway keeps the record's port.
  page.Apply();
  EXPECT_EQ(Str(settings.portName), u"COM1");
  page.Destroy();
}

TEST_F(SettingsPagesTest, APageDestroyedByItsHostIsNeverDestroyedAgain) {
  ASSERT_TRUE(ClearPorts());
  ASSERT_TRUE(AddPortValue(L"\\Device\\Test2", L"REG_SZ", L"COM2"));
  UseModule(L"serial_client_page");
  SerialSettings settings{SerialFraming::Rtu};
  SerialSettingsPage page(settings, SerialFraming::Rtu, SerialRole::Client);
  HWND first = Host(page);
  ASSERT_NE(first, nullptr);
  DestroyWindow(first);  // the setup dialog destroys the page itself
  EXPECT_EQ(page.Window(), nullptr);
  page.Apply();  // no page: the record stays
  EXPECT_EQ(Str(settings.portName), u"COM1");
  // A window made now may get the old handle; the page must leave it alone.
  HWND other = CreateWindowW(L"STATIC", L"other", WS_CHILD, 0, 0, 10, 10, window_, nullptr, uitest::Self(), nullptr);
  page.Destroy();
  EXPECT_TRUE(IsWindow(other));
  DestroyWindow(other);
  // Creating twice destroys the first page.
  HWND second = Host(page);
  HWND third = Host(page);
  EXPECT_FALSE(IsWindow(second));
  EXPECT_TRUE(IsWindow(third));
  page.Destroy();
  EXPECT_FALSE(IsWindow(third));
}

// --- network pages ------------------------------------------------------------------

struct NumberShown {
  int control;
  const wchar_t* text;
};

TEST_F(SettingsPagesTest, TcpClientPageDefaultsAndClamping) {
  UseModule(L"tcp_client_page");
  NetworkClientSettings settings;
  NetworkSettingsPage page(settings, NetworkPageVariant::TcpClient);
  HWND window = Host(page);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(StaticTexts(window),
            (std::vector<std::wstring>{L"Target IP:", L"Port:", L"Connect timeout:", L"Response timeout:"}));
  DWORD address = 0;
  SendDlgItemMessageW(window, IDC_NET_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  EXPECT_EQ(address, 0x7F000001u);
  const NumberShown shown[] = {{IDC_NET_PORT, L"502"}, {IDC_NET_FIELD, L"1500 ms"}, {IDC_NET_EXTRA, L"1500 ms"}};
  for (const NumberShown& s : shown) EXPECT_EQ(Text(GetDlgItem(window, s.control)), s.text);
  Unit line[256];
  ASSERT_EQ(NetworkClientConnectionLine(settings, line, 256), 1);
  EXPECT_EQ(Str(line), u"127.0.0.1:502");

  SendDlgItemMessageW(window, IDC_NET_ADDRESS, IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 1, 20));
  TypeAndEnter(GetDlgItem(window, IDC_NET_PORT), L"70000");
  TypeAndEnter(GetDlgItem(window, IDC_NET_FIELD), L"10");
  TypeAndEnter(GetDlgItem(window, IDC_NET_EXTRA), L"4294967346");
  EXPECT_EQ(settings.address, 0xC0A80114u);
  EXPECT_EQ(settings.port, 65535);
  EXPECT_EQ(settings.connectTimeoutMs, 50u);
  EXPECT_EQ(settings.responseTimeoutMs, 10000u);
  ASSERT_EQ(NetworkClientConnectionLine(settings, line, 256), 1);
  EXPECT_EQ(Str(line), u"192.168.1.20:65535");
  page.Destroy();
}

TEST_F(SettingsPagesTest, UdpClientAndRtuOverUdpServerPages) {
  UseModule(L"udp_client_page");
  NetworkClientSettings client;
  client.connectTimeoutMs = 777;  // not on a UDP page: kept
  NetworkSettingsPage clientPage(client, NetworkPageVariant::UdpClient);
  HWND window = Host(clientPage);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(StaticTexts(window), (std::vector<std::wstring>{L"Target IP:", L"UDP port:", L"Response timeout:"}));
  EXPECT_EQ(GetDlgItem(window, IDC_NET_EXTRA), nullptr);
  TypeAndEnter(GetDlgItem(window, IDC_NET_FIELD), L"10");
  EXPECT_EQ(client.responseTimeoutMs, 50u);
  EXPECT_EQ(client.connectTimeoutMs, 777u);
  clientPage.Destroy();
  TearDown();

  UseModule(L"rtu_udp_server_page");
  RtuOverIpServerSettings server;
  NetworkSettingsPage serverPage(server);
  window = Host(serverPage);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(StaticTexts(window), (std::vector<std::wstring>{L"Bind address:", L"UDP port:", L"Slave ID:"}));
  EXPECT_EQ(Text(GetDlgItem(window, IDC_NET_FIELD)), L"1");
  Unit line[40];
  ASSERT_EQ(RtuOverIpServerConnectionLine(server, line, 40), 1);
  EXPECT_EQ(Str(line), u"0.0.0.0:502, Slave ID: 1");
  const struct {
    const wchar_t* text;
    uint8_t stored;
  } typed[] = {{L"0", 1}, {L"300", 247}, {L"12", 12}};
  for (const auto& t : typed) {
    TypeAndEnter(GetDlgItem(window, IDC_NET_FIELD), t.text);
    EXPECT_EQ(server.slaveId, t.stored) << t.text;
  }
  TypeAndEnter(GetDlgItem(window, IDC_NET_PORT), L"0");
  EXPECT_EQ(server.port, 1);
  ASSERT_EQ(RtuOverIpServerConnectionLine(server, line, 40), 1);
  EXPECT_EQ(Str(line), u"0.0.0.0:1, Slave ID: 12");
  serverPage.Destroy();
}

TEST_F(SettingsPagesTest, MbapServerPageAcceptAny) {
  UseModule(L"mbap_tcp_server_page");
  MbapServerSettings settings;
  NetworkSettingsPage page(settings);
  HWND window = Host(page);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(StaticTexts(window), (std::vector<std::wstring>{L"Bind address:", L"Port:", L"Unit ID:"}));
  EXPECT_TRUE(Checked(window, IDC_NET_EXTRA));
  EXPECT_EQ(Text(GetDlgItem(window, IDC_NET_FIELD)), L"255");
  Unit line[48];
  ASSERT_EQ(MbapServerConnectionLine(settings, line, 48), 1);
  EXPECT_EQ(Str(line), u"0.0.0.0:502, any Unit ID");
  SaveScreenshot(L"mbap_server_settings_page.bmp");

  Click(window, IDC_NET_EXTRA);
  EXPECT_FALSE(Checked(window, IDC_NET_EXTRA));
  EXPECT_TRUE(Enabled(window, IDC_NET_FIELD));  // the unit id stays editable either way
  PostMessageW(window_, WM_COMMAND, IDOK, 0);
  Pump(100);
  ASSERT_EQ(MbapServerConnectionLine(settings, line, 48), 1);
  EXPECT_EQ(Str(line), u"0.0.0.0:502, Unit ID: 255");

  TypeAndEnter(GetDlgItem(window, IDC_NET_FIELD), L"256");
  EXPECT_EQ(settings.unitId, 255);
  TypeAndEnter(GetDlgItem(window, IDC_NET_FIELD), L"0");
  EXPECT_EQ(settings.unitId, 0);
  Click(window, IDC_NET_EXTRA);
  PostMessageW(window_, WM_COMMAND, IDOK, 0);
  Pump(100);
  EXPECT_EQ(settings.acceptAny, 1u);
  EXPECT_EQ(settings.unitId, 0);  // kept while any unit is accepted
  page.Destroy();
}

}  // namespace

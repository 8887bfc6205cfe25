#include "settings/serial_page.h"

#include <commctrl.h>

#include "common/memory.h"
#include "common/ui/numeric_field.h"
#include "settings/settings_resource_ids.h"
#include "view/value_format.h"

namespace {

const wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const wchar_t kNoPorts[] = L"No serial ports found on this host";
constexpr DWORD kValueNameCapacity = 256;
constexpr DWORD kValueDataUnits = 64;

// How many characters of the further field's text are read.
constexpr int32_t kTimeoutDigits = 32;
constexpr int32_t kSlaveIdDigits = 16;

class SerialPageState : public SettingsPageState {
 public:
  SerialPageState(SerialSettings& settings, SerialFraming framing, SerialRole role)
      : settings_(settings), framing_(framing), role_(role) {
    ports_ = mem::New<PortList>();
    EnumerateSerialPorts(*ports_);
  }
  ~SerialPageState() override { mem::Delete(ports_); }

  void Apply() override;

 protected:
  void Fill() override;
  void DispatchPage(ui::Message& message) override;

 private:
  static void OnLineButton(SerialPageState& page, ui::Message& message);
  static void OnHandshakeLink(SerialPageState& page, ui::Message& message);

  HWND Item(int id) const { return GetDlgItem(Window(), id); }
  bool Checked(int id) const { return IsDlgButtonChecked(Window(), id) == BST_CHECKED; }
  void SetButton(int id, bool checked, bool enabled);
  void FillPorts();
  void FillBaudRates();
  void FillField();
  void ApplyConsistencyRule();
  void ShowHandshakeMenu();

  SerialSettings& settings_;
  SerialFraming framing_;
  SerialRole role_;
  PortList* ports_ = nullptr;
  uint8_t handshake_ = kHandshakeNone;
  ui::NumericField field_;
};

void SerialPageState::DispatchPage(ui::Message& message) {
  static constexpr ui::MessageEntry<SerialPageState> kMap[] = {
      ui::On(WM_COMMAND, &SerialPageState::OnLineButton),
      ui::OnNotify(IDC_SERIAL_HANDSHAKE, NM_CLICK, &SerialPageState::OnHandshakeLink),
      ui::OnNotify(IDC_SERIAL_HANDSHAKE, NM_RETURN, &SerialPageState::OnHandshakeLink),
  };
  ui::DispatchMessageMap(*this, kMap, message);
}

void SerialPageState::Fill() {
  handshake_ = KnownHandshake(settings_.handshake);
  FillPorts();
  FillBaudRates();
  bool eight = settings_.dataBits != 7;
  SetButton(IDC_SERIAL_DATA8, eight, true);
  SetButton(IDC_SERIAL_DATA7, !eight, true);
  int parity = settings_.parity == kParityNone  ? IDC_SERIAL_NONE
               : settings_.parity == kParityOdd ? IDC_SERIAL_ODD
                                                     : IDC_SERIAL_EVEN;
  CheckRadioButton(Window(), IDC_SERIAL_EVEN, IDC_SERIAL_NONE, parity);
  CheckRadioButton(Window(), IDC_SERIAL_STOP1, IDC_SERIAL_STOP2,
                   settings_.stopBits == kStopBitsTwo ? IDC_SERIAL_STOP2 : IDC_SERIAL_STOP1);
  ApplyConsistencyRule();
  FillField();
  if (ports_->count == 0) EnablePageControls(Window(), IDC_SERIAL_PORT, IDC_SERIAL_FIELD, false);
}

void SerialPageState::FillPorts() {
  HWND list = Item(IDC_SERIAL_PORT);
  HWND parent = GetParent(Window());
  if (ports_->count == 0) {
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNoPorts));
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    EnableWindow(GetDlgItem(parent, IDOK), FALSE);
    SendMessageW(parent, DM_SETDEFID, IDCANCEL, 0);
    return;
  }
  for (uint32_t i = 0; i < ports_->count; ++i) {
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ports_->names[i]));
  }
  // A port that has gone selects the first, so that confirming replaces it.
  int32_t selected = FindPortName(*ports_, settings_.portName);
  SendMessageW(list, CB_SETCURSEL, selected < 0 ? 0 : selected, 0);
  EnableWindow(GetDlgItem(parent, IDOK), TRUE);
  SendMessageW(parent, DM_SETDEFID, IDOK, 0);
}

void SerialPageState::FillBaudRates() {
  HWND list = Item(IDC_SERIAL_BAUD);
  int selected = 0;
  for (uint32_t i = 0; i < kBaudRateCount; ++i) {
    TextBuffer text;
    text.AppendUnsigned(kBaudRates[i]);
    LRESULT index = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.Text()));
    SendMessageW(list, CB_SETITEMDATA, index, kBaudRates[i]);
    if (kBaudRates[i] == settings_.baudRate) selected = static_cast<int>(index);
  }
  SendMessageW(list, CB_SETCURSEL, selected, 0);
}

void SerialPageState::FillField() {
  bool client = role_ == SerialRole::Client;
  field_.SetMode(kNumericUnsigned);
  if (client) {
    field_.SetRange(kTimeoutMinMs, kTimeoutMaxMs);
    field_.SetSuffix(u" ms");
  } else {
    field_.SetRange(kLowestSlaveId, kHighestSlaveId);
  }
  field_.Attach(Item(IDC_SERIAL_FIELD));
  field_.ShowValue(client ? settings_.responseTimeoutMs : settings_.slaveId);
}

void SerialPageState::SetButton(int id, bool checked, bool enabled) {
  CheckDlgButton(Window(), id, checked ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(Item(id), enabled ? TRUE : FALSE);
}

// The framing fixes the data bits; the stop bits follow the parity so that
// every character has 11 bits.
void SerialPageState::ApplyConsistencyRule() {
  bool ascii = framing_ == SerialFraming::Ascii;
  SetButton(IDC_SERIAL_DATA8, !ascii, !ascii);
  SetButton(IDC_SERIAL_DATA7, ascii, ascii);
  bool twoStopBits = Checked(IDC_SERIAL_NONE);
  SetButton(IDC_SERIAL_STOP1, !twoStopBits, !twoStopBits);
  SetButton(IDC_SERIAL_STOP2, twoStopBits, twoStopBits);
}

void SerialPageState::OnLineButton(SerialPageState& page, ui::Message& message) {
  int id = LOWORD(message.wParam);
  if (HIWORD(message.wParam) != BN_CLICKED || id < IDC_SERIAL_DATA8 || id > IDC_SERIAL_STOP2) return;
  page.ApplyConsistencyRule();
  message.handled = true;
}

void SerialPageState::OnHandshakeLink(SerialPageState& page, ui::Message& message) {
  page.ShowHandshakeMenu();
  message.handled = true;
}

void SerialPageState::ShowHandshakeMenu() {
  HMENU menu = LoadMenuW(PluginResourceModule(), MAKEINTRESOURCEW(IDM_HANDSHAKE));
  if (!menu) return;
  HMENU popup = GetSubMenu(menu, 0);
  RECT link;
  GetWindowRect(Item(IDC_SERIAL_HANDSHAKE), &link);
  if (popup) {
    CheckMenuItem(popup, IDM_HANDSHAKE_NONE + handshake_, MF_BYCOMMAND | MF_CHECKED);
    UINT chosen = static_cast<UINT>(
        TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD, link.left, link.top,
                         Window(), nullptr));
    if (chosen >= IDM_HANDSHAKE_NONE && chosen <= IDM_HANDSHAKE_RTS_TOGGLE) {
      handshake_ = static_cast<uint8_t>(chosen - IDM_HANDSHAKE_NONE);
    }
  }
  DestroyMenu(menu);
}

void SerialPageState::Apply() {
  if (ports_->count > 0) {
    // The list holds only names of at most 31 characters.
    LRESULT selected = SendMessageW(Item(IDC_SERIAL_PORT), CB_GETCURSEL, 0, 0);
    if (selected >= 0 && static_cast<uint32_t>(selected) < ports_->count) {
      CopyTextCut(ports_->names[selected], settings_.portName, kPortNameCapacity);
    }
  }
  LRESULT rate = SendMessageW(Item(IDC_SERIAL_BAUD), CB_GETCURSEL, 0, 0);
  if (rate >= 0) settings_.baudRate = static_cast<uint32_t>(SendMessageW(Item(IDC_SERIAL_BAUD), CB_GETITEMDATA, rate, 0));

  ApplyConsistencyRule();
  settings_.dataBits = framing_ == SerialFraming::Ascii ? 7 : 8;
  settings_.parity = Checked(IDC_SERIAL_EVEN) ? kParityEven : Checked(IDC_SERIAL_ODD) ? kParityOdd : kParityNone;
  settings_.stopBits = Checked(IDC_SERIAL_STOP1) ? kStopBitsOne : kStopBitsTwo;
  settings_.handshake = handshake_;

  // The field's text as typed: Enter may apply the page before the field
  // shows its value again, so the number is read here and saturates rather
  // than wrapping.
  Unit text[kTimeoutDigits + 1] = {};
  GetWindowTextW(Item(IDC_SERIAL_FIELD), reinterpret_cast<wchar_t*>(text), kTimeoutDigits + 1);
  if (role_ == SerialRole::Client) {
    settings_.responseTimeoutMs = ClampTimeoutMs(ReadLeadingDecimal(text, kTimeoutDigits));
  } else {
    settings_.slaveId = ClampSlaveId(ReadLeadingDecimal(text, kSlaveIdDigits));
  }
}

}  // namespace

void EnumerateSerialPorts(PortList& list) {
  list.count = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (DWORD index = 0; list.count < kMaxPorts; ++index) {
    wchar_t name[kValueNameCapacity];
    DWORD nameLength = kValueNameCapacity;
    wchar_t data[kValueDataUnits];
    DWORD dataBytes = sizeof(data);
    DWORD type = 0;
    LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                &dataBytes);
    if (result == ERROR_NO_MORE_ITEMS) break;
    // A value too long for the buffers is no port name.
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    uint32_t length = dataBytes / sizeof(wchar_t);
    while (length > 0 && data[length - 1] == 0) --length;
    AddPortName(list, reinterpret_cast<const Unit*>(data), length);
  }
  RegCloseKey(key);
  SortPortNames(list);
}

HWND SerialSettingsPage::Create(HWND parent) {
  slot_.Destroy();
  return slot_.Create(mem::New<SerialPageState>(settings_, framing_, role_), parent);
}

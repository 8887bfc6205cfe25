#include "settings/network_page.h"

#include <commctrl.h>

#include "common/memory.h"
#include "common/ui/numeric_field.h"

namespace {

// One numeric edit of a page: its control, range and suffix.
struct NumberField {
  int control;
  uint32_t min;
  uint32_t max;
  const Unit* suffix;
};

constexpr uint32_t kMaxNumbers = 3;

struct VariantLayout {
  NumberField numbers[kMaxNumbers];
  uint32_t numberCount;
  bool acceptAny;  // the "Accept any" check box at IDC_NET_EXTRA
};

constexpr NumberField kPortField = {IDC_NET_PORT, kPortMin, kPortMax, nullptr};
constexpr NumberField kTimeoutAt(int control) { return NumberField{control, kTimeoutMinMs, kTimeoutMaxMs, u" ms"}; }

// Indexed by NetworkPageVariant.
const VariantLayout kLayouts[] = {
    {{kPortField, kTimeoutAt(IDC_NET_FIELD), kTimeoutAt(IDC_NET_EXTRA)}, 3, false},
    {{kPortField, kTimeoutAt(IDC_NET_FIELD), {}}, 2, false},
    {{kPortField, {IDC_NET_FIELD, kLowestSlaveId, kHighestSlaveId, nullptr}, {}}, 2, false},
    {{kPortField, {IDC_NET_FIELD, 0, kHighestUnitId, nullptr}, {}}, 2, true},
};

// The record's values in the page's terms: the address, the numbers in the
// order of the layout, and the accept-any flag.
struct PageValues {
  uint32_t address = 0;
  uint32_t numbers[kMaxNumbers] = {};
  bool acceptAny = false;
};

PageValues ReadRecord(NetworkPageVariant variant, const void* record) {
  PageValues values;
  switch (variant) {
    case NetworkPageVariant::TcpClient:
    case NetworkPageVariant::UdpClient: {
      const auto& client = *static_cast<const NetworkClientSettings*>(record);
      values.address = client.address;
      values.numbers[0] = client.port;
      bool tcp = variant == NetworkPageVariant::TcpClient;
      values.numbers[1] = tcp ? client.connectTimeoutMs : client.responseTimeoutMs;
      values.numbers[2] = client.responseTimeoutMs;
      break;
    }
    case NetworkPageVariant::RtuOverIpServer: {
      const auto& server = *static_cast<const RtuOverIpServerSettings*>(record);
      values.address = server.bindAddress;
      values.numbers[0] = server.port;
      values.numbers[1] = server.slaveId;
      break;
    }
    case NetworkPageVariant::MbapServer: {
      const auto& server = *static_cast<const MbapServerSettings*>(record);
      values.address = server.bindAddress;
      values.numbers[0] = server.port;
      values.numbers[1] = server.unitId;
      values.acceptAny = server.acceptAny != 0;
      break;
    }
  }
  return values;
}

// The numbers are already inside their fields' ranges.
void WriteRecord(NetworkPageVariant variant, void* record, const PageValues& values) {
  switch (variant) {
    case NetworkPageVariant::TcpClient:
    case NetworkPageVariant::UdpClient: {
      auto& client = *static_cast<NetworkClientSettings*>(record);
      client.address = values.address;
      client.port = static_cast<uint16_t>(values.numbers[0]);
      if (variant == NetworkPageVariant::TcpClient) {
        client.connectTimeoutMs = values.numbers[1];
        client.responseTimeoutMs = values.numbers[2];
      } else {
        client.responseTimeoutMs = values.numbers[1];
      }
      break;
    }
    case NetworkPageVariant::RtuOverIpServer: {
      auto& server = *static_cast<RtuOverIpServerSettings*>(record);
      server.bindAddress = values.address;
      server.port = static_cast<uint16_t>(values.numbers[0]);
      server.slaveId = static_cast<uint8_t>(values.numbers[1]);
      break;
    }
    case NetworkPageVariant::MbapServer: {
      auto& server = *static_cast<MbapServerSettings*>(record);
      server.bindAddress = values.address;
      server.port = static_cast<uint16_t>(values.numbers[0]);
      server.unitId = static_cast<uint8_t>(values.numbers[1]);
      server.acceptAny = values.acceptAny ? 1 : 0;
      break;
    }
  }
}

class NetworkPageState : public SettingsPageState {
 public:
  NetworkPageState(NetworkPageVariant variant, void* record)
      : variant_(variant), record_(record), layout_(kLayouts[static_cast<uint8_t>(variant)]) {}

  void Apply() override;

 protected:
  void Fill() override;

 private:
  NetworkPageVariant variant_;
  void* record_;
  const VariantLayout& layout_;
  ui::NumericField fields_[kMaxNumbers];
};

void NetworkPageState::Fill() {
  PageValues values = ReadRecord(variant_, record_);
  for (uint32_t i = 0; i < layout_.numberCount; ++i) {
    const NumberField& number = layout_.numbers[i];
    ui::NumericField& field = fields_[i];
    field.SetMode(kNumericUnsigned);
    field.SetRange(number.min, number.max);
    field.SetSuffix(number.suffix);
    field.Attach(GetDlgItem(Window(), number.control));
    field.ShowValue(values.numbers[i]);
  }
  SendDlgItemMessageW(Window(), IDC_NET_ADDRESS, IPM_SETADDRESS, 0, static_cast<LPARAM>(values.address));
  if (layout_.acceptAny) {
    CheckDlgButton(Window(), IDC_NET_EXTRA, values.acceptAny ? BST_CHECKED : BST_UNCHECKED);
  }
}

void NetworkPageState::Apply() {
  PageValues values;
  DWORD address = 0;
  SendDlgItemMessageW(Window(), IDC_NET_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  values.address = address;
  for (uint32_t i = 0; i < layout_.numberCount; ++i) {
    // CurrentValue parses with saturation and clamps into the field's range.
    values.numbers[i] = static_cast<uint32_t>(fields_[i].CurrentValue());
  }
  values.acceptAny = layout_.acceptAny && IsDlgButtonChecked(Window(), IDC_NET_EXTRA) == BST_CHECKED;
  WriteRecord(variant_, record_, values);
}

}  // namespace

NetworkSettingsPage::NetworkSettingsPage(NetworkClientSettings& settings, NetworkPageVariant variant)
    : variant_(variant == NetworkPageVariant::UdpClient ? variant : NetworkPageVariant::TcpClient),
      record_(&settings) {}

NetworkSettingsPage::NetworkSettingsPage(RtuOverIpServerSettings& settings)
    : variant_(NetworkPageVariant::RtuOverIpServer), record_(&settings) {}

NetworkSettingsPage::NetworkSettingsPage(MbapServerSettings& settings)
    : variant_(NetworkPageVariant::MbapServer), record_(&settings) {}

HWND NetworkSettingsPage::Create(HWND parent) {
  slot_.Destroy();
  return slot_.Create(mem::New<NetworkPageState>(variant_, record_), parent);
}

// The fault-injecting slaves' glue: the "Faults" group, the hook at
// Connect, the RX line and the connection line.

#include "server/fault_slave.h"

#include <windows.h>

#include <atomic>

#include "common/memory.h"
#include "common/ui/numeric_field.h"
#include "server/fault_page_ids.h"
#include "server/fault_serve.h"
#include "server/server_context.h"
#include "settings/settings_page.h"
#include "settings/settings_records.h"
#include "transport/serial/line_timing.h"
#include "view/host_command_sender.h"
#include "view/view_helpers.h"

namespace {

// The exception codes offered, in the order of the list.
const uint8_t kCodes[] = {1, 2, 3, 4, 6};
const Unit* const kCodeTexts[] = {u"1", u"2", u"3", u"4", u"6"};
constexpr uint32_t kCodeCount = sizeof kCodes / sizeof kCodes[0];

class FaultsPageState : public SettingsPageState {
 public:
  FaultsPageState(FaultSettings* settings, bool tcp) : settings_(settings), tcp_(tcp) {}
  void Apply() override;

 protected:
  void Fill() override;

 private:
  uint32_t RateCount() const { return tcp_ ? kFaultKindCount : kFaultKindCount - 1; }

  FaultSettings* settings_;
  bool tcp_;
  ui::NumericField rates_[kFaultKindCount];
  ui::NumericField delay_;
};

void FaultsPageState::Fill() {
  HWND window = Window();
  for (uint32_t i = 0; i < RateCount(); ++i) {
    rates_[i].SetMode(kNumericUnsigned);
    rates_[i].SetRange(0, kFaultMaxEvery);
    rates_[i].Attach(GetDlgItem(window, IDC_FAULT_FIRST_RATE + static_cast<int>(i)));
    rates_[i].ShowValue(settings_->every[i]);
  }
  delay_.SetMode(kNumericUnsigned);
  delay_.SetRange(0, kFaultMaxDelayMs);
  delay_.Attach(GetDlgItem(window, IDC_FAULT_DELAY));
  delay_.ShowValue(settings_->delayMs);
  HWND codes = GetDlgItem(window, IDC_FAULT_CODE);
  for (uint32_t i = 0; i < kCodeCount; ++i) {
    SendMessageW(codes, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kCodeTexts[i]));
    if (kCodes[i] == settings_->exceptionCode) SendMessageW(codes, CB_SETCURSEL, i, 0);
  }
}

void FaultsPageState::Apply() {
  for (uint32_t i = 0; i < RateCount(); ++i) settings_->every[i] = static_cast<uint16_t>(rates_[i].CurrentValue());
  settings_->delayMs = static_cast<uint32_t>(delay_.CurrentValue());
  const LRESULT code = SendDlgItemMessageW(Window(), IDC_FAULT_CODE, CB_GETCURSEL, 0, 0);
  if (code >= 0 && static_cast<uint32_t>(code) < kCodeCount) settings_->exceptionCode = kCodes[code];
}

// One per loaded library, as the plug-in instance is.
struct FaultSlave {
  bool tcp = false;
  FaultSettings settings;
  FaultServe serve;
  ServerContext* server = nullptr;
  PageSlot page;
  ServerPluginExtension extension = {};
  // A RefreshHeaderLines is queued and the shell has not read the count
  // since: a flood of faults posts one at a time, and the last read always
  // comes after the last fault.
  std::atomic<bool> linePending{false};
};

FaultSlave* Self(void* context) { return static_cast<FaultSlave*>(context); }

void DestroyPage(void* context) { Self(context)->page.Destroy(); }

// The group goes under the transport page, which grows to hold it.
void CreatePage(void* context, PluginWindow transportPage) {
  FaultSlave* self = Self(context);
  HWND parent = reinterpret_cast<HWND>(transportPage);
  HWND group = self->page.Create(mem::New<FaultsPageState>(&self->settings, self->tcp), parent, IDD_FAULTS_PAGE);
  if (!group) return;
  PlaceGroupUnder(parent, group);
}

void ApplyPage(void* context) { Self(context)->page.Apply(); }

// The traffic log's row of a fault: "Fault injected: answer dropped", with
// the request it fell on (the RX line's text names the fault after its
// dash).
void LogFault(ServerWorker* worker, const Unit* line) {
  const Unit* name = line;
  for (const Unit* at = line; *at; ++at) {
    if (*at == u'\u2014' && at[1] == u' ') name = at + 2;
  }
  TextBuffer text;
  if (!text.Assign(u"Fault injected: ") || !text.Append(name)) return;
  const Link* served = worker->session.link;
  LogServerFailure(worker, kTrafficTx, text.Text(), served ? served->receiveBuffer : nullptr,
                   served ? served->receiveLength : 0);
}

// Worker thread: the fault replaces the request's frame on the RX line, and
// the connection line's count is read again.
void ReportFault(void* context, const Unit* text) {
  FaultSlave* self = Self(context);
  ServerWorker* worker = &self->server->worker;
  const HostLink* link = *worker->hostLink;
  PostRxText(link, text, true);
  LogFault(worker, text);
  if (!self->linePending.exchange(true)) PostHostCommand(link, HostCommandKind::RefreshHeaderLines);
}

// On RTU the port itself keeps t3.5 of silence before the second part (it
// starts a new frame for the port); t3.5 more makes the silence plainly
// longer than 3.5 characters.
uint32_t SplitGap(const FaultSlave* self, const void* settings) {
  if (self->tcp) return kTcpSplitGapMs;
  return RtuT35Ms(static_cast<const SerialSettings*>(settings)->baudRate);
}

void Connecting(void* context, ServerContext* server, const void* settings) {
  FaultSlave* self = Self(context);
  self->server = server;
  FaultServeRestart(&self->serve, self->settings, self->tcp, SplitGap(self, settings));
  self->linePending.store(false);  // a copy discarded at detach is never handled
  server->worker.session.hook = &self->serve.hook;
}

// Cleared before the count is read: a fault counted after the read posts
// again.
int32_t ExtendConnectionLine(void* context, Unit* buffer, uint32_t capacity) {
  FaultSlave* self = Self(context);
  self->linePending.store(false);
  TextBuffer text;
  const int built = text.Assign(buffer) && text.Append(u", faults injected: ") &&
                    text.AppendUnsigned(FaultsInjected(&self->serve));
  if (!built || static_cast<uint32_t>(text.Length()) + 1 > capacity) return 1;  // the transport's line stays
  for (int32_t i = 0; i <= text.Length(); ++i) buffer[i] = text.Text()[i];
  return 1;
}

FaultSlave g_slave;

}  // namespace

int32_t FaultSlaveCreate(ServerDeliverable deliverable, PluginOps* table) {
  FaultSlave* self = &g_slave;
  self->tcp = deliverable == ServerDeliverable::kStreamHdr;
  FaultServeInit(&self->serve, &ReportFault, self);
  ServerPluginExtension& extension = self->extension;
  extension.protocolTitle = self->tcp ? u"Modbus TCP/IP (slave, fault injection)" : u"Modbus RTU (slave, fault injection)";
  extension.context = self;
  extension.createPage = &CreatePage;
  extension.applyPage = &ApplyPage;
  extension.destroyPage = &DestroyPage;
  extension.connecting = &Connecting;
  extension.extendConnectionLine = &ExtendConnectionLine;
  return ServerPluginCreateExtended(deliverable, &extension, table);
}

// The life of a ClientContext, the instance behind a client plug-in's
// operations table.
#include "client/client_plugin.h"

#include "common/memory.h"
#include "modbus/framing.h"
#include "view/connection_texts.h"
#include "view/host_command_sender.h"
#include "view/view_rules.h"

ClientContext::ClientContext(const ClientComposition& c)
    : PluginInstance(c.extras),
      composition(c),
      polls(c.framerKind),
      worker(&polls),
      previewFramer(CreateFramer(c.framerKind)),
      settings(c.settings->create()) {}

ClientContext::~ClientContext() {
  worker.Stop();
  composition.settings->release(settings);
  mem::Delete(previewFramer);
  polls.Lock();
  polls.Clear();
  polls.Unlock();
}

void ClientContext::Attach(const HostLink* link) {
  host = link;
  worker.SetHost(link);
  PollViewAttach(this);
}

void ClientContext::Detach() {
  worker.Stop();
  SendRxText(host, kIdleRxText, false);
  const ClientSettingsOps* ops = composition.settings;
  if (ops->destroyPage) ops->destroyPage(settings);
  polls.Lock();
  polls.Clear();
  polls.Unlock();
  worker.SetHost(nullptr);
  host = nullptr;
}

PluginWindow ClientContext::CreateSettingsPage(PluginWindow parent) {
  const ClientSettingsOps* ops = composition.settings;
  return ops->createPage ? ops->createPage(settings, parent) : nullptr;
}

void ClientContext::ApplySettings() {
  const ClientSettingsOps* ops = composition.settings;
  if (ops->applyPage) ops->applyPage(settings);
}

int64_t ClientContext::HandleEvent(const ViewEvent& event) { return PollViewHandleEvent(this, event); }

int32_t ClientContext::GetProtocolLine(Unit* buffer, uint32_t capacity) {
  return ProtocolLine(composition.protocolLine, buffer, capacity);
}

int32_t ClientContext::GetConnectionLine(Unit* buffer, uint32_t capacity) {
  const ClientSettingsOps* ops = composition.settings;
  return ops->connectionLine ? ops->connectionLine(settings, buffer, capacity) : 0;
}

int32_t ClientPluginCreate(const ClientComposition& composition, PluginOps* table) {
  return FillPluginOps(mem::New<ClientContext>(composition), table);
}

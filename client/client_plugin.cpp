// The PluginOps table of the client plug-ins and the life of a
// ClientContext: attach fills the view and adds Poll 1; detach stops the
// worker, drops the settings page and every poll and forgets the host link.
#include "client/client_plugin.h"

#include "common/memory.h"
#include "modbus/ascii_framer.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "view/host_command_sender.h"
#include "view/view_rules.h"

Framer* CreateClientFramer(uint32_t framerKind) {
  switch (framerKind) {
    case kFramerAscii:
      return mem::New<AsciiFramer>();
    case kFramerMbap:
      return mem::New<MbapFramer>();
    case kFramerRtuStream:
      return mem::New<RtuFramer>(true);
    default:
      return mem::New<RtuFramer>(false);
  }
}

ClientContext::ClientContext(const ClientComposition& c)
    : composition(c),
      polls(c.framerKind),
      worker(&polls),
      previewFramer(CreateClientFramer(c.framerKind)),
      settings(c.settings->create()) {
  if (c.extras && c.extras->create) extras = c.extras->create();
}

ClientContext::~ClientContext() {
  worker.Stop();
  const ClientComposition& c = composition;
  if (c.extras && c.extras->release) c.extras->release(extras);
  c.settings->release(settings);
  mem::Delete(previewFramer);
  polls.Lock();
  polls.Clear();
  polls.Unlock();
}

namespace {

ClientContext* Context(void* instance) { return static_cast<ClientContext*>(instance); }

int32_t Attach(void* instance, const HostLink* link) {
  ClientContext* context = Context(instance);
  context->host = link;
  context->worker.SetHost(link);
  PollViewAttach(context);
  return 1;
}

void Detach(void* instance) {
  ClientContext* context = Context(instance);
  context->worker.Stop();
  SendRxText(context->host, u"RX: -", false);
  const ClientSettingsOps* settings = context->composition.settings;
  if (settings->destroyPage) settings->destroyPage(context->settings);
  context->polls.Lock();
  context->polls.Clear();
  context->polls.Unlock();
  context->worker.SetHost(nullptr);
  context->host = nullptr;
}

PluginWindow CreateSettingsPage(void* instance, PluginWindow parent) {
  ClientContext* context = Context(instance);
  const ClientSettingsOps* settings = context->composition.settings;
  return settings->createPage ? settings->createPage(context->settings, parent) : nullptr;
}

int32_t ApplySettings(void* instance) {
  ClientContext* context = Context(instance);
  const ClientSettingsOps* settings = context->composition.settings;
  if (settings->applyPage) settings->applyPage(context->settings);
  return 1;
}

int64_t HandleEvent(void* instance, const ViewEvent* event) {
  if (!event) return 0;
  return PollViewHandleEvent(Context(instance), *event);
}

void Destroy(void* instance) { mem::Delete(Context(instance)); }

int32_t GetProtocolLine(void* instance, Unit* buffer, uint32_t capacity) {
  return ProtocolLine(Context(instance)->composition.protocolLine, buffer, capacity);
}

int32_t GetConnectionLine(void* instance, Unit* buffer, uint32_t capacity) {
  ClientContext* context = Context(instance);
  const ClientSettingsOps* settings = context->composition.settings;
  if (!settings->connectionLine) return 0;
  return settings->connectionLine(context->settings, buffer, capacity);
}

void ShowConnectionIndicator(void* instance, PluginWindow iconWindow, int32_t connected) {
  ClientContext* context = Context(instance);
  const ClientViewExtrasOps* extras = context->composition.extras;
  if (extras && extras->showConnectionIndicator)
    extras->showConnectionIndicator(context->extras, iconWindow, connected);
}

int32_t GetTip(void* instance, uint32_t seed, Unit* buffer, uint32_t capacity) {
  ClientContext* context = Context(instance);
  const ClientViewExtrasOps* extras = context->composition.extras;
  return extras && extras->getTip ? extras->getTip(context->extras, seed, buffer, capacity) : 0;
}

int32_t GetNextTip(void* instance, Unit* buffer, uint32_t capacity) {
  ClientContext* context = Context(instance);
  const ClientViewExtrasOps* extras = context->composition.extras;
  return extras && extras->getNextTip ? extras->getNextTip(context->extras, buffer, capacity) : 0;
}

}  // namespace

int32_t ClientPluginCreate(const ClientComposition& composition, PluginOps* table) {
  ClientContext* context = mem::New<ClientContext>(composition);
  table->size = kPluginOpsSize;
  table->version = kPluginInterfaceVersion;
  table->instance = context;
  table->attach = &Attach;
  table->detach = &Detach;
  table->createSettingsPage = &CreateSettingsPage;
  table->applySettings = &ApplySettings;
  table->handleEvent = &HandleEvent;
  table->destroy = &Destroy;
  table->getProtocolLine = &GetProtocolLine;
  table->getConnectionLine = &GetConnectionLine;
  table->showConnectionIndicator = &ShowConnectionIndicator;
  table->getTip = &GetTip;
  table->getNextTip = &GetNextTip;
  return 1;
}

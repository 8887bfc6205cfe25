#include "view/plugin_instance.h"

#include "common/memory.h"

PluginInstance::PluginInstance(const ViewExtrasOps* extras) : extrasOps_(extras) {
  if (extrasOps_ && extrasOps_->create) extras_ = extrasOps_->create();
}

PluginInstance::~PluginInstance() {
  if (extrasOps_ && extrasOps_->release) extrasOps_->release(extras_);
}

int32_t PluginInstance::GetTip(uint32_t seed, Unit* buffer, uint32_t capacity) {
  return extrasOps_ && extrasOps_->getTip ? extrasOps_->getTip(extras_, seed, buffer, capacity) : 0;
}

int32_t PluginInstance::GetNextTip(Unit* buffer, uint32_t capacity) {
  return extrasOps_ && extrasOps_->getNextTip ? extrasOps_->getNextTip(extras_, buffer, capacity) : 0;
}

void PluginInstance::ShowConnectionIndicator(PluginWindow iconWindow, int32_t connected) {
  if (extrasOps_ && extrasOps_->showConnectionIndicator)
    extrasOps_->showConnectionIndicator(extras_, iconWindow, connected);
}

namespace {

PluginInstance* Self(void* instance) { return static_cast<PluginInstance*>(instance); }

int32_t Attach(void* instance, const HostLink* link) {
  Self(instance)->Attach(link);
  return 1;
}

void Detach(void* instance) { Self(instance)->Detach(); }

PluginWindow CreateSettingsPage(void* instance, PluginWindow parent) {
  return Self(instance)->CreateSettingsPage(parent);
}

int32_t ApplySettings(void* instance) {
  Self(instance)->ApplySettings();
  return 1;
}

int64_t HandleEvent(void* instance, const ViewEvent* event) {
  return event ? Self(instance)->HandleEvent(*event) : 0;
}

void Destroy(void* instance) { mem::Delete(Self(instance)); }

int32_t GetProtocolLine(void* instance, Unit* buffer, uint32_t capacity) {
  return Self(instance)->GetProtocolLine(buffer, capacity);
}

int32_t GetConnectionLine(void* instance, Unit* buffer, uint32_t capacity) {
  return Self(instance)->GetConnectionLine(buffer, capacity);
}

void ShowConnectionIndicator(void* instance, PluginWindow iconWindow, int32_t connected) {
  Self(instance)->ShowConnectionIndicator(iconWindow, connected);
}

int32_t GetTip(void* instance, uint32_t seed, Unit* buffer, uint32_t capacity) {
  return Self(instance)->GetTip(seed, buffer, capacity);
}

int32_t GetNextTip(void* instance, Unit* buffer, uint32_t capacity) {
  return Self(instance)->GetNextTip(buffer, capacity);
}

}  // namespace

int32_t FillPluginOps(PluginInstance* instance, PluginOps* table) {
  table->size = kPluginOpsSize;
  table->version = kPluginInterfaceVersion;
  table->instance = instance;
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

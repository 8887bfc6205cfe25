#pragma once
// The instance behind a plug-in's operations table, master and slave alike.
// A plug-in derives its instance from PluginInstance, answers the entries
// that differ, and hands it to FillPluginOps, which fills the table once for
// every plug-in: each entry forwards to the instance, destroy deletes it,
// and the tips and the connection indicator go to the view extras the
// instance was given (kViewExtras of view/view_helpers.h on Windows; without
// them there are no tips and no indicator).

#include <stdint.h>

#include "common/plugin_interface.h"

// The tips and the connection indicator of one instance, behind a table so
// that the portable build can go without them.
struct ViewExtrasOps {
  void* (*create)();
  void (*release)(void* extras);
  int32_t (*getTip)(void* extras, uint32_t seed, Unit* buffer, uint32_t capacity);
  int32_t (*getNextTip)(void* extras, Unit* buffer, uint32_t capacity);
  void (*showConnectionIndicator)(void* extras, PluginWindow iconWindow, int32_t connected);
};

class PluginInstance {
 public:
  // extras may be null.
  explicit PluginInstance(const ViewExtrasOps* extras);
  // Releases the view extras (stopping the indicator) after the derived
  // instance is gone.
  virtual ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  virtual void Attach(const HostLink* link) = 0;
  virtual void Detach() = 0;
  virtual PluginWindow CreateSettingsPage(PluginWindow parent) = 0;
  virtual void ApplySettings() = 0;
  virtual int64_t HandleEvent(const ViewEvent& event) = 0;
  virtual int32_t GetProtocolLine(Unit* buffer, uint32_t capacity) = 0;
  virtual int32_t GetConnectionLine(Unit* buffer, uint32_t capacity) = 0;

  int32_t GetTip(uint32_t seed, Unit* buffer, uint32_t capacity);
  int32_t GetNextTip(Unit* buffer, uint32_t capacity);
  void ShowConnectionIndicator(PluginWindow iconWindow, int32_t connected);

 private:
  const ViewExtrasOps* extrasOps_;
  void* extras_ = nullptr;
};

// Fills table (size, version, the instance and every entry) for instance,
// made with mem::New; the table's destroy deletes it. Returns 1.
int32_t FillPluginOps(PluginInstance* instance, PluginOps* table);

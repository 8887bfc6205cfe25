#pragma once
// The shell's side of the HostLink: the one link handed to every attached
// plug-in, the attachment stamp and the queue of posted commands.
//
// send handles a command at once on the user-interface thread. post copies
// the command with its text, caption and data bytes into one heap block and
// queues it to the main window as kPostedCommandMessage; the window hands the
// copy back to HandlePosted, which runs it exactly like a sent command and
// frees it. A command whose stamp is non-zero and differs from the current
// stamp was issued under an earlier attachment and is dropped.

#include <windows.h>

#include <atomic>
#include <stdint.h>

#include "common/plugin_interface.h"
#include "shell/traffic_store.h"

constexpr UINT kPostedCommandMessage = WM_APP + 1;

// Runs one accepted command; the main window installs it.
using HostCommandHandler = void (*)(void* context, const HostCommand& command);

class HostLinkHost {
 public:
  HostLinkHost();
  HostLinkHost(const HostLinkHost&) = delete;
  HostLinkHost& operator=(const HostLinkHost&) = delete;

  // The window that receives posted copies and the handler of accepted
  // commands.
  void Bind(HWND window, HostCommandHandler handler, void* context);

  // The traffic log's store: logFrame adds to it and, when the store asks
  // for it, posts wakeMessage to the bound window (once per batch).
  void BindTraffic(TrafficStore* store, UINT wakeMessage) {
    traffic_ = store;
    trafficWake_ = wakeMessage;
  }

  const HostLink* Link() const { return &link_; }

  // Raised by one at every attach and every detach, skipping 0. Worker
  // threads read it in post while the user-interface thread raises it.
  uintptr_t Stamp() const { return stamp_.load(std::memory_order_acquire); }
  void RaiseStamp();

  // Removes and frees every posted copy still queued for the window.
  void PurgeQueued();

  // The window's handler of kPostedCommandMessage: lParam is the copy.
  void HandlePosted(LPARAM copy);

  // Runs a command unless its stamp marks an earlier attachment.
  void Handle(const HostCommand& command);

  // The number of posted copies not yet handled or purged (tests read it).
  int32_t Outstanding() const { return outstanding_.load(std::memory_order_acquire); }

 private:
  static int64_t Send(void* host, const HostCommand* command);
  static void Post(void* host, const HostCommand* command);
  static void LogFrame(void* host, const TrafficFrame* frame);
  void ReleaseCopy(HostCommand* copy);

  HostLink link_{};
  std::atomic<uintptr_t> stamp_{1};
  std::atomic<int32_t> outstanding_{0};
  HWND window_ = nullptr;
  HostCommandHandler handler_ = nullptr;
  TrafficStore* traffic_ = nullptr;
  UINT trafficWake_ = 0;
  void* context_ = nullptr;
};

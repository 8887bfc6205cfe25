#include "shell/host_link.h"

#include "common/memory.h"

HostLinkHost::HostLinkHost() {
  link_.size = kHostLinkSize;
  link_.version = kPluginInterfaceVersion;
  link_.host = this;
  link_.send = &HostLinkHost::Send;
  link_.post = &HostLinkHost::Post;
  link_.logFrame = &HostLinkHost::LogFrame;
}

void HostLinkHost::Bind(HWND window, HostCommandHandler handler, void* context) {
  window_ = window;
  handler_ = handler;
  context_ = context;
}

void HostLinkHost::RaiseStamp() {
  uintptr_t next = stamp_.load(std::memory_order_relaxed) + 1;
  if (next == 0) next = 1;
  stamp_.store(next, std::memory_order_release);
}

int64_t HostLinkHost::Send(void* host, const HostCommand* command) {
  HostLinkHost* self = static_cast<HostLinkHost*>(host);
  if (!self || !command) return 0;
  HostCommand stamped = *command;
  stamped.stamp = self->Stamp();
  self->Handle(stamped);
  return 0;
}

void HostLinkHost::Post(void* host, const HostCommand* command) {
  HostLinkHost* self = static_cast<HostLinkHost*>(host);
  if (!self || !command) return;
  const uintptr_t stamp = self->Stamp();
  const CoalesceOffer offer = self->coalesced_.Offer(*command, stamp);
  if (offer == CoalesceOffer::kStored) return;
  // One block: the command, then its text, caption and data bytes.
  HostCommand* copy = CopyCommand(mem::Allocate(CommandCopySize(*command)), *command);
  copy->stamp = stamp;
  self->outstanding_.fetch_add(1, std::memory_order_acq_rel);
  if (!self->window_ || !PostMessageW(self->window_, kPostedCommandMessage, 0, reinterpret_cast<LPARAM>(copy))) {
    self->ReleaseCopy(copy);
    if (offer == CoalesceOffer::kLeading) self->coalesced_.LeadingLost(command->kind);
  }
}

// The plug-ins' threads: no window message per frame, one per batch.
void HostLinkHost::LogFrame(void* host, const TrafficFrame* frame) {
  HostLinkHost* self = static_cast<HostLinkHost*>(host);
  if (!self || !frame || !self->traffic_) return;
  if (self->traffic_->Add(*frame) && self->window_) PostMessageW(self->window_, self->trafficWake_, 0, 0);
}

void HostLinkHost::ReleaseCopy(HostCommand* copy) {
  outstanding_.fetch_sub(1, std::memory_order_acq_rel);
  mem::Release(copy);
}

void HostLinkHost::HandlePosted(LPARAM copy) {
  HostCommand* command = reinterpret_cast<HostCommand*>(copy);
  if (!command) return;
  Handle(*command);
  const HostCommandKind kind = command->kind;
  ReleaseCopy(command);
  if (coalesced_.LeadingHandled(kind) && !pace_.Running()) pace_.Start(window_, kCoalescePaceMs, this);
}

void HostLinkHost::HandleKept(void* host, const HostCommand& command) {
  static_cast<HostLinkHost*>(host)->Handle(command);
}

void HostLinkHost::OnTimer(ui::BoundTimer&) { TakeLatest(); }

void HostLinkHost::TakeLatest() {
  if (!coalesced_.Drain(&HostLinkHost::HandleKept, this)) pace_.Stop();
}

void HostLinkHost::Handle(const HostCommand& command) {
  if (command.stamp != 0 && command.stamp != Stamp()) return;
  if (handler_) handler_(context_, command);
}

void HostLinkHost::PurgeQueued() {
  if (!window_) return;
  MSG message;
  while (PeekMessageW(&message, window_, kPostedCommandMessage, kPostedCommandMessage, PM_REMOVE)) {
    if (message.lParam) ReleaseCopy(reinterpret_cast<HostCommand*>(message.lParam));
  }
  // After the queue: a leading copy removed above would leave its slot
  // waiting for it for good.
  coalesced_.Clear();
}

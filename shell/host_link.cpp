#include "shell/host_link.h"

#include "common/memory.h"

namespace {

size_t TextBytes(const Unit* text) { return text ? (static_cast<size_t>(TextLength(text)) + 1) * sizeof(Unit) : 0; }

}  // namespace

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
  const size_t textBytes = TextBytes(command->text);
  const size_t captionBytes = TextBytes(command->caption);
  const size_t dataBytes = command->data && command->length ? command->length : 0;
  // One block: the command, then its text, caption and data bytes.
  uint8_t* block = static_cast<uint8_t*>(mem::Allocate(sizeof(HostCommand) + textBytes + captionBytes + dataBytes));
  HostCommand* copy = reinterpret_cast<HostCommand*>(block);
  *copy = *command;
  uint8_t* cursor = block + sizeof(HostCommand);
  if (textBytes) {
    mem::CopyBytes(cursor, command->text, textBytes);
    copy->text = reinterpret_cast<const Unit*>(cursor);
    cursor += textBytes;
  }
  if (captionBytes) {
    mem::CopyBytes(cursor, command->caption, captionBytes);
    copy->caption = reinterpret_cast<const Unit*>(cursor);
    cursor += captionBytes;
  }
  if (dataBytes) {
    mem::CopyBytes(cursor, command->data, dataBytes);
    copy->data = cursor;
  } else {
    copy->data = nullptr;
    copy->length = 0;
  }
  copy->stamp = self->Stamp();
  self->outstanding_.fetch_add(1, std::memory_order_acq_rel);
  if (!self->window_ || !PostMessageW(self->window_, kPostedCommandMessage, 0, reinterpret_cast<LPARAM>(copy))) {
    self->ReleaseCopy(copy);
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
  ReleaseCopy(command);
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
}

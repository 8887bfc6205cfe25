#include "support/recording_host_link.h"

#include <string.h>

#include <chrono>

#include "common/platform.h"

bool RecordedCommand::Format(FieldFormat* format) const {
  if (kind != HostCommandKind::SetFieldFormat || data.size() != sizeof(FieldFormat)) return false;
  memcpy(format, data.data(), sizeof(FieldFormat));
  return true;
}

RecordingHostLink::RecordingHostLink(Handler handler)
    : handler_(std::move(handler)), arrived_(plat::EventNew(false, false)) {
  link_.size = kHostLinkSize;
  link_.version = kPluginInterfaceVersion;
  link_.host = this;
  link_.send = &RecordingHostLink::Send;
  link_.post = &RecordingHostLink::Post;
}

RecordingHostLink::~RecordingHostLink() { plat::EventFree(arrived_); }

void RecordingHostLink::NewAttachment() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (++stamp_ == 0) stamp_ = 1;
}

RecordedCommand RecordingHostLink::Copy(const HostCommand& command) {
  RecordedCommand copy;
  copy.kind = command.kind;
  copy.index = command.index;
  copy.value = command.value;
  copy.hasText = command.text != nullptr;
  if (command.text) copy.text = command.text;
  copy.hasCaption = command.caption != nullptr;
  if (command.caption) copy.caption = command.caption;
  if (command.data && command.length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(command.data);
    copy.data.assign(bytes, bytes + command.length);
  }
  copy.threadId = plat::CurrentThreadId();
  return copy;
}

int64_t RecordingHostLink::Send(void* host, const HostCommand* command) {
  RecordingHostLink* self = static_cast<RecordingHostLink*>(host);
  RecordedCommand copy = Copy(*command);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    copy.stamp = self->stamp_;
  }
  ++self->sends_;
  self->handler_(copy);
  return 0;
}

void RecordingHostLink::Post(void* host, const HostCommand* command) {
  RecordingHostLink* self = static_cast<RecordingHostLink*>(host);
  RecordedCommand copy = Copy(*command);
  copy.posted = true;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    copy.stamp = self->stamp_;
    self->queue_.push_back(std::move(copy));
    ++self->posts_;
  }
  plat::EventSet(self->arrived_);
  if (self->onPosted) self->onPosted();
}

size_t RecordingHostLink::posts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return posts_;
}

size_t RecordingHostLink::Pump() {
  size_t handled = 0;
  for (;;) {
    RecordedCommand copy;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) return handled;
      copy = std::move(queue_.front());
      queue_.pop_front();
      if (copy.stamp != stamp_) continue;
    }
    handler_(copy);
    ++handled;
  }
}

bool RecordingHostLink::PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Pump();
    if (done()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    plat::EventWait(arrived_, static_cast<uint32_t>(left.count()));
  }
}

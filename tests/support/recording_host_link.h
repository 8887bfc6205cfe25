#pragma once
// A HostLink for tests that stands where the shell's link stands. send hands
// the command to the handler at once, on the caller's thread; post copies
// the command with its text, caption and data bytes (as the shell does) and
// queues the copy until the test's own "user-interface thread" calls Pump,
// which hands the copies to the handler in posting order. Copies are stamped
// with the attachment stamp of the moment they were posted; Pump drops those
// from an earlier attachment, as the shell does.
//
// post may be called from any thread; everything else from the test thread.

#include <stdint.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/plugin_interface.h"

struct RecordedCommand {
  HostCommandKind kind = HostCommandKind::SetLabel;
  uint64_t index = 0;
  uint64_t value = 0;
  bool hasText = false;
  std::u16string text;
  bool hasCaption = false;
  std::u16string caption;
  std::vector<uint8_t> data;  // the length bytes at data, when data was non-null
  bool posted = false;
  uintptr_t stamp = 0;
  uint32_t threadId = 0;  // the thread that called send or post

  // The FieldFormat of a SetFieldFormat command with exactly 40 bytes.
  bool Format(FieldFormat* format) const;
};

class RecordingHostLink {
 public:
  using Handler = std::function<void(const RecordedCommand& command)>;

  explicit RecordingHostLink(Handler handler);
  ~RecordingHostLink();
  RecordingHostLink(const RecordingHostLink&) = delete;
  RecordingHostLink& operator=(const RecordingHostLink&) = delete;

  const HostLink* Link() const { return &link_; }

  // Raised at every attach and detach, skipping 0; queued copies of an
  // earlier attachment are dropped at the next Pump.
  void NewAttachment();

  // Hands queued copies to the handler in order; returns how many were
  // handled (dropped ones not counted).
  size_t Pump();
  // Pumps until done() is true or timeoutMs passes, sleeping on the arrival
  // of new copies in between. Returns done().
  bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs);

  size_t posts() const;  // copies ever posted

  // Called on the posting thread after each copy is queued, as the shell's
  // post queues a window message: a test's message loop can pump from there.
  std::function<void()> onPosted;
  size_t sends() const { return sends_; }

 private:
  static int64_t Send(void* host, const HostCommand* command);
  static void Post(void* host, const HostCommand* command);
  static RecordedCommand Copy(const HostCommand& command);

  HostLink link_{};
  Handler handler_;
  uintptr_t stamp_ = 1;
  size_t sends_ = 0;
  mutable std::mutex mutex_;
  plat::Event* arrived_;  // auto-reset, set at every post
  std::deque<RecordedCommand> queue_;
  size_t posts_ = 0;
};

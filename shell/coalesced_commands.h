#pragma once
// The latest TX frame, RX frame or text and table refresh that a plug-in's
// worker posts, kept for the user-interface thread instead of queued one
// message each. A master polling every millisecond or a slave under a busy
// client posts two or three of them per exchange; queuing every one made the
// worker pay a cross-thread message per frame and the user-interface thread
// wake, copy and format texts that the frame lines' 100 ms throttle never
// shows. No window code, so the native tests run it under the sanitizers.
//
// Each slot (TX line, RX line, table) runs this cycle:
//   idle     the next command of the slot is queued as usual (Offer answers
//            kLeading): a lone frame shows as soon as before
//   leading  that copy waits in the queue; later commands of the slot are
//            kept as its latest (kStored), each replacing the one before
//   active   the copy was handled (LeadingHandled); the user-interface thread
//            now takes the slot's latest at every pace tick (Drain), and a
//            tick that finds none makes the slot idle again
// So while traffic flows the worker queues nothing, the user-interface
// thread takes one command per slot and tick, and once traffic stops the
// latest command of every slot is the last one handled.
//
// Threads: Offer and LeadingLost from any thread; the rest on the
// user-interface thread. Commands are handled outside the lock.

#include <stddef.h>
#include <stdint.h>

#include "common/platform.h"
#include "common/plugin_interface.h"

// The bytes a copy of command needs: the record, its text, caption and data.
size_t CommandCopySize(const HostCommand& command);
// Writes that copy into block (CommandCopySize bytes) and returns it: text,
// caption and data point into the block; data without a length is dropped.
HostCommand* CopyCommand(void* block, const HostCommand& command);

enum class CoalesceOffer : uint8_t {
  kQueue,    // not a kept kind: queue the command as usual
  kLeading,  // the slot was idle: queue the command, then LeadingHandled
  kStored,   // kept as the slot's latest; nothing to queue
};

class CoalescedCommands {
 public:
  // Handles one command taken from a slot.
  using Handler = void (*)(void* context, const HostCommand& command);

  CoalescedCommands();
  ~CoalescedCommands();
  CoalescedCommands(const CoalescedCommands&) = delete;
  CoalescedCommands& operator=(const CoalescedCommands&) = delete;

  // Whether commands of this kind go through a slot.
  static bool Kept(HostCommandKind kind);

  // Any thread. The copy kept carries stamp.
  CoalesceOffer Offer(const HostCommand& command, uintptr_t stamp);
  // Any thread: the queue refused the leading copy of kind. The slot is idle
  // again, what it kept meanwhile is dropped with the copy, and the next
  // command is queued.
  void LeadingLost(HostCommandKind kind);

  // A queued command of a kept kind was handled. True when its slot became
  // active: the pace must run (Drain at every tick).
  bool LeadingHandled(HostCommandKind kind);
  // Hands each active slot's latest command to handler (TX, RX, table) and
  // makes the active slots that had none idle. False when every slot is
  // idle: the pace may stop.
  bool Drain(Handler handler, void* context);
  // Forgets the kept commands and makes every slot idle (a detach purges the
  // queue, leading copies included).
  void Clear();

 private:
  enum class State : uint8_t { kIdle, kLeading, kActive };
  struct Slot {
    State state = State::kIdle;
    bool filled = false;
    uint8_t* block = nullptr;  // the copy: a HostCommand, then its texts and data
    size_t capacity = 0;
  };
  static constexpr int kSlots = 3;
  static int SlotOf(HostCommandKind kind);
  static void Fill(Slot& slot, const HostCommand& command, uintptr_t stamp);

  plat::Mutex* mutex_;
  Slot slots_[kSlots];
  // Filled by Drain under the lock, handled after it: the swap hands the
  // worker's storage over without copying or allocating.
  Slot taken_[kSlots];
};

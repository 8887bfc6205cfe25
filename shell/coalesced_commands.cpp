#include "shell/coalesced_commands.h"

#include <utility>

#include "common/exit_codes.h"
#include "common/memory.h"

namespace {

size_t TextBytes(const Unit* text) { return text ? (static_cast<size_t>(TextLength(text)) + 1) * sizeof(Unit) : 0; }
size_t DataBytes(const HostCommand& command) { return command.data && command.length ? command.length : 0; }

}  // namespace

size_t CommandCopySize(const HostCommand& command) {
  return sizeof(HostCommand) + TextBytes(command.text) + TextBytes(command.caption) + DataBytes(command);
}

HostCommand* CopyCommand(void* block, const HostCommand& command) {
  const size_t textBytes = TextBytes(command.text);
  const size_t captionBytes = TextBytes(command.caption);
  const size_t dataBytes = DataBytes(command);
  HostCommand* copy = static_cast<HostCommand*>(block);
  *copy = command;
  uint8_t* cursor = static_cast<uint8_t*>(block) + sizeof(HostCommand);
  if (textBytes) {
    mem::CopyBytes(cursor, command.text, textBytes);
    copy->text = reinterpret_cast<const Unit*>(cursor);
    cursor += textBytes;
  }
  if (captionBytes) {
    mem::CopyBytes(cursor, command.caption, captionBytes);
    copy->caption = reinterpret_cast<const Unit*>(cursor);
    cursor += captionBytes;
  }
  if (dataBytes) {
    mem::CopyBytes(cursor, command.data, dataBytes);
    copy->data = cursor;
  } else {
    copy->data = nullptr;
    copy->length = 0;
  }
  return copy;
}

CoalescedCommands::CoalescedCommands() : mutex_(plat::MutexNew()) {
  if (!mutex_) plat::FatalExit(kExitOutOfMemory);
}

CoalescedCommands::~CoalescedCommands() {
  for (int i = 0; i < kSlots; ++i) {
    mem::Release(slots_[i].block);
    mem::Release(taken_[i].block);
  }
  plat::MutexFree(mutex_);
}

bool CoalescedCommands::Kept(HostCommandKind kind) { return SlotOf(kind) >= 0; }

// The RX frame and the RX text share a slot: both end on the RX line, and
// the later of them is what the line must show.
int CoalescedCommands::SlotOf(HostCommandKind kind) {
  switch (kind) {
    case HostCommandKind::ShowTxFrame: return 0;
    case HostCommandKind::ShowRxFrame:
    case HostCommandKind::ShowRxText: return 1;
    case HostCommandKind::RefreshTable: return 2;
    default: return -1;
  }
}

// The block only grows, so a steady exchange allocates nothing.
void CoalescedCommands::Fill(Slot& slot, const HostCommand& command, uintptr_t stamp) {
  const size_t size = CommandCopySize(command);
  if (size > slot.capacity) {
    mem::Release(slot.block);
    slot.block = static_cast<uint8_t*>(mem::Allocate(size));
    slot.capacity = size;
  }
  CopyCommand(slot.block, command)->stamp = stamp;
  slot.filled = true;
}

CoalesceOffer CoalescedCommands::Offer(const HostCommand& command, uintptr_t stamp) {
  const int index = SlotOf(command.kind);
  if (index < 0) return CoalesceOffer::kQueue;
  plat::MutexLock(mutex_);
  Slot& slot = slots_[index];
  CoalesceOffer offer = CoalesceOffer::kStored;
  if (slot.state == State::kIdle) {
    slot.state = State::kLeading;
    offer = CoalesceOffer::kLeading;
  } else {
    Fill(slot, command, stamp);
  }
  plat::MutexUnlock(mutex_);
  return offer;
}

void CoalescedCommands::LeadingLost(HostCommandKind kind) {
  const int index = SlotOf(kind);
  if (index < 0) return;
  plat::MutexLock(mutex_);
  // Only the user-interface thread can start the pace, so nothing would take
  // what was kept behind the lost copy: it goes too, as a refused copy always
  // did, and the next command is queued again.
  Slot& slot = slots_[index];
  if (slot.state == State::kLeading) {
    slot.state = State::kIdle;
    slot.filled = false;
  }
  plat::MutexUnlock(mutex_);
}

bool CoalescedCommands::LeadingHandled(HostCommandKind kind) {
  const int index = SlotOf(kind);
  if (index < 0) return false;
  plat::MutexLock(mutex_);
  // A copy queued before a Clear finds its slot idle and changes nothing.
  const bool activated = slots_[index].state == State::kLeading;
  if (activated) slots_[index].state = State::kActive;
  plat::MutexUnlock(mutex_);
  return activated;
}

bool CoalescedCommands::Drain(Handler handler, void* context) {
  bool busy = false;
  plat::MutexLock(mutex_);
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = slots_[i];
    // A leading copy still queued is handled first: taking what came after
    // it now would let the older copy overwrite the newer one.
    if (slot.state == State::kActive && slot.filled) {
      std::swap(slot.block, taken_[i].block);
      std::swap(slot.capacity, taken_[i].capacity);
      slot.filled = false;
      taken_[i].filled = true;
    } else if (slot.state == State::kActive) {
      slot.state = State::kIdle;
    }
    busy = busy || slot.state != State::kIdle;
  }
  plat::MutexUnlock(mutex_);
  for (int i = 0; i < kSlots; ++i) {
    if (!taken_[i].filled) continue;
    taken_[i].filled = false;
    handler(context, *reinterpret_cast<const HostCommand*>(taken_[i].block));
  }
  return busy;
}

void CoalescedCommands::Clear() {
  plat::MutexLock(mutex_);
  for (Slot& slot : slots_) {
    slot.state = State::kIdle;
    slot.filled = false;
  }
  plat::MutexUnlock(mutex_);
}

#include "server/device_map.h"

#include "common/exit_codes.h"
#include "common/memory.h"

DeviceMap::DeviceMap() {
  lock_ = plat::MutexNew();
  if (!lock_) plat::FatalExit(kExitOutOfMemory);
}

DeviceMap::~DeviceMap() {
  mem::Release(aliases_);
  plat::MutexFree(lock_);
}

uint16_t DeviceMap::ReadCellLocked(uint8_t area, uint16_t address) {
  LockMap();
  uint16_t value = Cell(area, address);
  UnlockMap();
  return value;
}

void DeviceMap::WriteCellFromUser(uint8_t area, uint16_t address, int32_t value) {
  uint16_t low = static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
  if (IsBitArea(area)) low = low ? 1 : 0;
  LockMap();
  SetCell(area, address, low);
  UnlockMap();
}

void DeviceMap::ReadCellsLocked(uint8_t area, uint16_t address, uint16_t* values, uint32_t count) {
  LockMap();
  for (uint32_t i = 0; i < count; ++i) {
    values[i] = address + i < kCellsPerArea ? Cell(area, static_cast<uint16_t>(address + i)) : 0;
  }
  UnlockMap();
}

void DeviceMap::WriteCellsFromUser(uint8_t area, uint16_t address, const uint16_t* values, uint32_t count) {
  if (IsBitArea(area)) return;
  LockMap();
  for (uint32_t i = 0; i < count && address + i < kCellsPerArea; ++i) {
    SetCell(area, static_cast<uint16_t>(address + i), values[i]);
  }
  UnlockMap();
}

int64_t DeviceMap::FindAlias(uint8_t area, uint16_t address) const {
  for (uint32_t i = 0; i < aliasCount_; ++i) {
    if (aliases_[i].area == area && aliases_[i].address == address) return i;
  }
  return -1;
}

void DeviceMap::GetAlias(uint8_t area, uint16_t address, Unit* buffer, int32_t capacity) {
  if (!buffer || capacity <= 0) return;
  LockMap();
  int64_t index = FindAlias(area, address);
  CopyBounded(buffer, capacity, index >= 0 ? aliases_[index].text : nullptr);
  UnlockMap();
}

namespace {

void StoreAliasText(AliasEntry* entry, const Unit* text) {
  CopyBounded(entry->text, kAliasMaxLength + 1, text);
}

}  // namespace

void DeviceMap::SetAlias(uint8_t area, uint16_t address, const Unit* text) {
  bool hasText = text && text[0];
  LockMap();
  int64_t index = FindAlias(area, address);
  if (index >= 0 && hasText) {
    StoreAliasText(&aliases_[index], text);
  } else if (index >= 0) {
    for (uint32_t i = static_cast<uint32_t>(index) + 1; i < aliasCount_; ++i) aliases_[i - 1] = aliases_[i];
    --aliasCount_;
  } else if (hasText) {
    mem::GrowWhenFull(&aliases_, aliasCount_, &aliasCapacity_);
    AliasEntry* entry = &aliases_[aliasCount_++];
    entry->area = area;
    entry->address = address;
    StoreAliasText(entry, text);
  }
  UnlockMap();
}

#pragma once
// The simulated device: four tables of 65,536 cells, one per Modbus data
// area, and the aliases the user gives to single cells. The worker thread
// reads and writes the tables for a client, the user-interface thread for
// the user; one map lock serialises them.

#include <stdint.h>

#include "common/platform.h"
#include "common/text.h"

// Areas in their fixed order; the number is carried in every area field of
// the server framework.
enum MapArea : uint8_t {
  kAreaCoils = 0,
  kAreaDiscreteInputs = 1,
  kAreaInputRegisters = 2,
  kAreaHoldingRegisters = 3,
};

constexpr uint32_t kAreaCount = 4;
constexpr uint32_t kCellsPerArea = 65536;
// An alias holds at most this many units before its NUL.
constexpr int32_t kAliasMaxLength = 31;

struct AliasEntry {
  uint8_t area;
  uint16_t address;
  Unit text[kAliasMaxLength + 1];  // never empty
};

// Bit areas hold a whole cell per bit, always 0 or 1.
inline bool IsBitArea(uint8_t area) { return area == kAreaCoils || area == kAreaDiscreteInputs; }

class DeviceMap {
 public:
  // Every cell 0, no alias. Creating the map lock is an allocation: its
  // failure ends the process.
  DeviceMap();
  ~DeviceMap();
  DeviceMap(const DeviceMap&) = delete;
  DeviceMap& operator=(const DeviceMap&) = delete;

  // The map lock guards the tables and the aliases together. Request
  // processing holds it for a whole request so that neither side ever sees
  // half of the other's multi-cell change. Never call out to the shell while
  // holding it.
  void LockMap() { plat::MutexLock(lock_); }
  void UnlockMap() { plat::MutexUnlock(lock_); }

  // Plain cell access; the caller holds the map lock. An area above 3 reads
  // 0 and ignores writes.
  uint16_t Cell(uint8_t area, uint16_t address) const {
    return area < kAreaCount ? cells_[area * kCellsPerArea + address] : 0;
  }
  void SetCell(uint8_t area, uint16_t address, uint16_t value) {
    if (area < kAreaCount) cells_[area * kCellsPerArea + address] = value;
  }

  // The 65,536 cells of an area (0 to 3) in address order, for copying or
  // comparing whole tables; the caller holds the map lock.
  const uint16_t* Table(uint8_t area) const { return cells_ + (area & 3u) * kCellsPerArea; }

  // The operations below take the map lock themselves.
  uint16_t ReadCellLocked(uint8_t area, uint16_t address);
  // A bit area stores 1 when the low 16 bits of value are nonzero, else 0; a
  // register area stores the low 16 bits (-1 becomes 65535).
  void WriteCellFromUser(uint8_t area, uint16_t address, int32_t value);
  // Consecutive register cells read or written together under one hold of
  // the lock, so that a client never sees half of a wide value; cells past
  // the area's end are left out (read as 0).
  void ReadCellsLocked(uint8_t area, uint16_t address, uint16_t* values, uint32_t count);
  void WriteCellsFromUser(uint8_t area, uint16_t address, const uint16_t* values, uint32_t count);

  // Writes the alias of the cell, cut to capacity - 1 units, and a NUL; the
  // empty text when the cell has none. Null buffer or capacity 0: nothing.
  void GetAlias(uint8_t area, uint16_t address, Unit* buffer, int32_t capacity);
  // A non-empty text sets or replaces the cell's alias (first 31 units); a
  // null or empty one removes it, keeping the order of the others.
  void SetAlias(uint8_t area, uint16_t address, const Unit* text);

  // For tests and the view: entries in insertion order. Hold the map lock.
  uint32_t AliasCount() const { return aliasCount_; }
  const AliasEntry& AliasAt(uint32_t index) const { return aliases_[index]; }

 private:
  // Index of the cell's alias, or -1.
  int64_t FindAlias(uint8_t area, uint16_t address) const;

  uint16_t cells_[kAreaCount * kCellsPerArea] = {};
  AliasEntry* aliases_ = nullptr;
  uint32_t aliasCount_ = 0;
  uint32_t aliasCapacity_ = 0;
  plat::Mutex* lock_ = nullptr;
};

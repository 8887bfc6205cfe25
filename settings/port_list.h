#pragma once
// The serial ports a settings page offers: names of the form COM<digits>
// (any case), at most 256 of them, sorted by their number so that COM2
// comes before COM10. Portable; the Windows side reads the names from the
// registry (serial_page.cpp).

#include <stdint.h>

#include "common/text.h"
#include "settings/settings_records.h"

constexpr uint32_t kMaxPorts = 256;

struct PortList {
  uint32_t count = 0;
  Unit names[kMaxPorts][kPortNameCapacity];
};

// Whether length units of data are C, O, M (each in either case) followed by
// one or more decimal digits and nothing else.
bool IsSerialPortName(const Unit* data, uint32_t length);

// Adds a matching name, cut to 31 characters, while the list has room.
// Returns 1 when added.
int AddPortName(PortList& list, const Unit* data, uint32_t length);

// Sorts by the number after the first three characters, ascending; names
// with equal numbers keep their order.
void SortPortNames(PortList& list);

// The index of the name equal to name (exact comparison), or -1.
int32_t FindPortName(const PortList& list, const Unit* name);

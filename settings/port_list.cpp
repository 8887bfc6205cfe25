#include "settings/port_list.h"

#include "view/value_format.h"

namespace {

bool IsLetter(Unit unit, Unit upper) { return unit == upper || unit == upper + (u'a' - u'A'); }

uint32_t PortNumber(const Unit* name) { return ReadLeadingDecimal(name + 3, -1); }

bool SameName(const Unit* a, const Unit* b) {
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

}  // namespace

bool IsSerialPortName(const Unit* data, uint32_t length) {
  if (!data || length < 4) return false;
  if (!IsLetter(data[0], u'C') || !IsLetter(data[1], u'O') || !IsLetter(data[2], u'M')) return false;
  for (uint32_t i = 3; i < length; ++i) {
    if (data[i] < u'0' || data[i] > u'9') return false;
  }
  return true;
}

int AddPortName(PortList& list, const Unit* data, uint32_t length) {
  if (list.count >= kMaxPorts || !IsSerialPortName(data, length)) return 0;
  Unit* name = list.names[list.count];
  uint32_t kept = length < kPortNameCapacity - 1 ? length : kPortNameCapacity - 1;
  for (uint32_t i = 0; i < kept; ++i) name[i] = data[i];
  name[kept] = 0;
  ++list.count;
  return 1;
}

void SortPortNames(PortList& list) {
  for (uint32_t i = 1; i < list.count; ++i) {
    Unit moving[kPortNameCapacity];
    CopyTextCut(list.names[i], moving, kPortNameCapacity);
    uint32_t number = PortNumber(moving);
    uint32_t at = i;
    for (; at > 0 && PortNumber(list.names[at - 1]) > number; --at) {
      CopyTextCut(list.names[at - 1], list.names[at], kPortNameCapacity);
    }
    CopyTextCut(moving, list.names[at], kPortNameCapacity);
  }
}

int32_t FindPortName(const PortList& list, const Unit* name) {
  if (!name) return -1;
  for (uint32_t i = 0; i < list.count; ++i) {
    if (SameName(list.names[i], name)) return static_cast<int32_t>(i);
  }
  return -1;
}

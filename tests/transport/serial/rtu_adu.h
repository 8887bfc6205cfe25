#pragma once
// An RTU frame (unit, function, data, CRC) as the serial tests feed it to a
// simulated line.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "modbus/rtu_framer.h"

inline std::vector<uint8_t> RtuAdu(uint8_t unit, uint8_t function, std::vector<uint8_t> data) {
  AduHeader header;
  header.unitId = unit;
  Pdu pdu;
  pdu.function = function;
  pdu.length = static_cast<uint32_t>(data.size());
  for (size_t i = 0; i < data.size(); ++i) pdu.data[i] = data[i];
  uint8_t adu[kAduBufferSize];
  RtuFramer framer;
  const int32_t length = framer.BuildAdu(header, pdu, adu, sizeof adu);
  return std::vector<uint8_t>(adu, adu + (length > 0 ? length : 0));
}

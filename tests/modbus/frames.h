#pragma once
// Small builders of raw frames for the stack's tests.

#include <stdint.h>

#include <string>
#include <vector>

#include "modbus/ascii_framer.h"
#include "modbus/mbap_framer.h"
#include "modbus/pdu.h"
#include "modbus/rtu_framer.h"

using Bytes = std::vector<uint8_t>;

inline Pdu MakePdu(uint8_t function, const Bytes& data) {
  Pdu pdu;
  pdu.function = function;
  pdu.length = static_cast<uint32_t>(data.size());
  for (size_t i = 0; i < data.size() && i < kMaxPduData; ++i) pdu.data[i] = data[i];
  return pdu;
}

inline Bytes Build(const Framer& framer, uint8_t unit, uint16_t transaction, uint8_t function,
                   const Bytes& data) {
  uint8_t buffer[kAduBufferSize];
  AduHeader header;
  header.unitId = unit;
  header.transactionId = transaction;
  int32_t n = framer.BuildAdu(header, MakePdu(function, data), buffer, sizeof buffer);
  return Bytes(buffer, buffer + (n > 0 ? n : 0));
}

inline Bytes Rtu(uint8_t unit, uint8_t function, const Bytes& data) {
  return Build(RtuFramer(), unit, 0, function, data);
}

inline Bytes Mbap(uint16_t transaction, uint8_t unit, uint8_t function, const Bytes& data) {
  return Build(MbapFramer(), unit, transaction, function, data);
}

inline Bytes Ascii(uint8_t unit, uint8_t function, const Bytes& data) {
  return Build(AsciiFramer(), unit, 0, function, data);
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

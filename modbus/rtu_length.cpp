#include "modbus/rtu_length.h"

#include "modbus/functions.h"

// Requests, the frames a server receives. Lengths count address, function
// code, data and CRC.
RtuLengthRule RequestLength(uint8_t function) {
  switch (function) {
    case kReadCoils: case kReadDiscreteInputs: case kReadHoldingRegisters: case kReadInputRegisters:
    case kWriteSingleCoil: case kWriteSingleRegister:
      return {RtuLength::kFixed, 8, 0};
    case kReadExceptionStatus: case kGetCommEventCounter: case kGetCommEventLog: case kReportServerId:
      return {RtuLength::kFixed, 4, 0};
    // Return Query Data echoes any amount of data after the sub-function.
    case kDiagnostics: return {RtuLength::kChecked, 6, 2};
    case kWriteMultipleCoils: case kWriteMultipleRegisters: return {RtuLength::kCounted, 6, 9};
    case kReadFileRecord: case kWriteFileRecord: return {RtuLength::kCounted, 2, 5};
    case kMaskWriteRegister: return {RtuLength::kFixed, 10, 0};
    case kReadWriteMultipleRegisters: return {RtuLength::kCounted, 10, 13};
    case kReadFifoQueue: return {RtuLength::kFixed, 6, 0};
    case kEncapsulatedInterface: return {RtuLength::kMei, 0, 0};
    default: return {RtuLength::kUnknown, 0, 0};
  }
}

// Responses, the frames a client receives: only those of the functions a
// client of ours sends, and exception responses.
RtuLengthRule ResponseLength(uint8_t function) {
  if (IsReadFunction(function)) return {RtuLength::kCounted, 2, 5};
  if (IsWriteFunction(function) || function == kDiagnostics) return {RtuLength::kFixed, 8, 0};
  if (function & kExceptionFlag) return {RtuLength::kFixed, 5, 0};
  return {RtuLength::kUnknown, 0, 0};
}

// Function 43: Read Device Identification has a fixed request; the other
// MEI types carry data of their own length, found by its CRC.
RtuLengthRule MeiLength(uint8_t meiType) {
  if (meiType == kMeiReadDeviceId) return {RtuLength::kFixed, 7, 0};
  return {RtuLength::kChecked, 5, 1};
}

#pragma once
// The Modbus protocol numbers both sides agree on: function codes, the
// quantity limits of each function, the two coil values, the unit ID bounds
// of the serial and RTU-over-IP framings, and the exception codes the
// server answers with. Client, server, link and the test programs take
// them from here.

#include <stdint.h>

constexpr uint8_t kReadCoils = 1;
constexpr uint8_t kReadDiscreteInputs = 2;
constexpr uint8_t kReadHoldingRegisters = 3;
constexpr uint8_t kReadInputRegisters = 4;
constexpr uint8_t kWriteSingleCoil = 5;
constexpr uint8_t kWriteSingleRegister = 6;
constexpr uint8_t kDiagnostics = 8;
constexpr uint8_t kWriteMultipleCoils = 15;
constexpr uint8_t kWriteMultipleRegisters = 16;

// Functions no server of ours supports. The RTU stream still has to know
// where their requests end, to answer them with exception 1.
constexpr uint8_t kReadExceptionStatus = 7;
constexpr uint8_t kGetCommEventCounter = 11;
constexpr uint8_t kGetCommEventLog = 12;
constexpr uint8_t kReportServerId = 17;
constexpr uint8_t kReadFileRecord = 20;
constexpr uint8_t kWriteFileRecord = 21;
constexpr uint8_t kMaskWriteRegister = 22;
constexpr uint8_t kReadWriteMultipleRegisters = 23;
constexpr uint8_t kReadFifoQueue = 24;
constexpr uint8_t kEncapsulatedInterface = 43;
// The MEI type of function 43 that reads the device identification.
constexpr uint8_t kMeiReadDeviceId = 14;

// Set in the function code of an exception response.
constexpr uint8_t kExceptionFlag = 0x80;

constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalDataAddress = 2;
constexpr uint8_t kIllegalDataValue = 3;
// The other exception codes: the fault-injecting slaves answer 4 and 6 on
// purpose, and the traffic log names them all. A gateway answers 0x0A when
// it has no path to the line behind it, 0x0B when the unit addressed there
// did not answer.
constexpr uint8_t kServerDeviceFailure = 4;
constexpr uint8_t kAcknowledge = 5;
constexpr uint8_t kServerDeviceBusy = 6;
constexpr uint8_t kMemoryParityError = 8;
constexpr uint8_t kGatewayPathUnavailable = 0x0A;
constexpr uint8_t kGatewayTargetFailedToRespond = 0x0B;

// Largest quantity of one request: what fits into a response of
// kMaxPduData bytes (reads) or into the request itself (writes).
constexpr uint32_t kMaxReadBits = 2000;
constexpr uint32_t kMaxReadRegisters = 125;
constexpr uint32_t kMaxWriteCoils = 1968;
constexpr uint32_t kMaxWriteRegisters = 123;

// The only values of a single coil write.
constexpr uint16_t kCoilOff = 0x0000;
constexpr uint16_t kCoilOn = 0xFF00;

// Unit IDs of the serial and RTU-over-IP framings: 0 addresses every slave
// (writes only, never answered), 1 to 247 one slave. MBAP treats every
// value alike, 0 to 255; 255 when nothing behind the server is addressed.
constexpr uint8_t kBroadcastUnitId = 0;
constexpr uint8_t kLowestSlaveId = 1;
constexpr uint8_t kHighestSlaveId = 247;
constexpr uint8_t kHighestUnitId = 255;

// Functions 1 to 4.
constexpr bool IsReadFunction(uint8_t function) {
  return function >= kReadCoils && function <= kReadInputRegisters;
}

// Functions 5, 6, 15 and 16: the only ones a broadcast may carry.
constexpr bool IsWriteFunction(uint8_t function) {
  return function == kWriteSingleCoil || function == kWriteSingleRegister ||
         function == kWriteMultipleCoils || function == kWriteMultipleRegisters;
}

// Bytes that carry count packed bits, the first in bit 0 of the first byte.
constexpr uint32_t BitByteCount(uint32_t count) { return (count + 7) / 8; }

#include "client/register_functions.h"

#include "modbus/functions.h"

bool IsRegisterFunction(uint8_t function) {
  return function == kReadHoldingRegisters || function == kReadInputRegisters || function == kWriteMultipleRegisters;
}

#pragma once
// Which functions carry registers that a poll may show as wider values. Kept
// apart from poll_list.h, whose IsWriteFunction takes the name that
// modbus/functions.h gives its own.

#include <stdint.h>

// 3, 4 and 16; function 6 writes a single register and stays 16-bit.
bool IsRegisterFunction(uint8_t function);

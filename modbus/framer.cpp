#include "modbus/framer.h"

Framer::~Framer() = default;

uint8_t Framer::EndCharacter() const { return 0; }

int32_t Framer::SetEndCharacter(uint8_t) { return 0; }

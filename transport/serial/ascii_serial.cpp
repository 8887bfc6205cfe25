#include "transport/serial/ascii_serial.h"

#include "transport/serial/line_timing.h"

int32_t AsciiSerialTransport::ApplyLineTimeouts() {
  return SetDriverTimeouts(0, 0, 0, AsciiWriteMsPerCharacter(Line().baudRate),
                           kDefaultWriteBudgetMs);
}

// The serial transport family of engine_host (Windows builds): a COM port
// with the RTU or ASCII line discipline.
//   --port COMn --baud B --parity none|odd|even --stop 1|2 --data-bits 7|8
//   --handshake 0..4 --framing rtu|ascii
#include <stdio.h>

#include <string>

#include "modbus/ascii_framer.h"
#include "modbus/rtu_framer.h"
#include "options.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/rtu_serial.h"

namespace {

bool LineFromOptions(const Options& options, SerialLineSettings* line) {
  std::string parity = options.Text("parity", "none");
  long stop = options.Number("stop", 1);
  line->baudRate = static_cast<uint32_t>(options.Number("baud", 19200));
  line->dataBits = static_cast<uint8_t>(options.Number("data-bits", 8));
  line->handshake = static_cast<uint8_t>(options.Number("handshake", 0));
  line->stopBits = stop == 2 ? kStopBitsTwo : kStopBitsOne;
  if (parity == "none") {
    line->parity = kParityNone;
  } else if (parity == "odd") {
    line->parity = kParityOdd;
  } else if (parity == "even") {
    line->parity = kParityEven;
  } else {
    fprintf(stderr, "parity must be none, odd or even\n");
    return false;
  }
  if (stop != 1 && stop != 2) {
    fprintf(stderr, "stop must be 1 or 2\n");
    return false;
  }
  return true;
}

}  // namespace

Transport* SerialTransport(const Options& options) {
  std::string port = options.Text("port", "COM1");
  std::u16string name(port.begin(), port.end());
  SerialLineSettings line;
  line.portName = name.c_str();
  if (!LineFromOptions(options, &line)) return nullptr;
  // The transport keeps its own copy of the port name.
  if (options.Text("framing", "rtu") == "ascii") return new AsciiSerialTransport(line);
  return new RtuSerialTransport(line);
}

Framer* SerialFramer(const Options& options) {
  std::string framing = options.Text("framing", "rtu");
  if (framing == "rtu") return new RtuFramer(false);
  if (framing == "ascii") return new AsciiFramer();
  fprintf(stderr, "framing %s is not available on a serial line\n", framing.c_str());
  return nullptr;
}

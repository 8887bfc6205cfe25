#pragma once
// The connection settings of the serial and network plug-ins, the clamping
// their pages apply, and the one-line summaries the shell shows. Portable:
// the pages (serial_page.h, network_page.h) are the Windows side.
//
// How a plug-in uses it (library velmora_settings):
//   keep one record in the plug-in context, constructed with its defaults:
//     SerialSettings serial{SerialFraming::Rtu};    NetworkClientSettings tcp;
//     RtuOverIpServerSettings rtuServer;            MbapServerSettings mbapServer;
//   getConnectionLine  return SerialConnectionLine(serial, SerialRole::Client, buffer, capacity);
//                      (NetworkClientConnectionLine, RtuOverIpServerConnectionLine,
//                      MbapServerConnectionLine for the network plug-ins)
//   Connect            SerialLineSettings line = LineSettingsOf(serial);  (serial transport)
//                      FormatIpv4(tcp.address, text) for the network transports

#include <stdint.h>

#include "common/text.h"
#include "modbus/functions.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/serial_port.h"

enum class SerialFraming : uint8_t { Rtu, Ascii };
enum class SerialRole : uint8_t { Client, Server };

// The eight baud rates a serial page offers, ascending.
constexpr uint32_t kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr uint32_t kBaudRateCount = sizeof(kBaudRates) / sizeof(kBaudRates[0]);

constexpr uint32_t kPortNameCapacity = 32;  // 31 characters and the NUL
constexpr uint32_t kTimeoutMinMs = 50;
constexpr uint32_t kTimeoutMaxMs = 10000;
constexpr uint32_t kPortMin = 1;
constexpr uint32_t kPortMax = 65535;

// Capacities below which a summary is refused.
constexpr uint32_t kSerialClientLineCapacity = 64;
constexpr uint32_t kSerialServerLineCapacity = 72;
constexpr uint32_t kRtuOverIpServerLineCapacity = 40;
constexpr uint32_t kMbapServerLineCapacity = 48;

struct SerialSettings {
  explicit SerialSettings(SerialFraming framing = SerialFraming::Rtu)
      : dataBits(framing == SerialFraming::Ascii ? 7 : 8) {}

  Unit portName[kPortNameCapacity] = u"COM1";
  uint32_t baudRate = 19200;
  uint8_t dataBits;                     // fixed by the framing: 8 RTU, 7 ASCII
  uint8_t parity = kParityEven;         // kParityNone, kParityOdd, kParityEven
  uint8_t stopBits = kStopBitsOne;      // kStopBitsOne, kStopBitsTwo
  uint8_t handshake = kHandshakeNone;   // kHandshakeNone .. kHandshakeRtsToggle
  uint32_t responseTimeoutMs = 1500;    // clients: 50..10000
  uint32_t slaveId = 1;                 // servers: 1..247
};

// IPv4 addresses are held most significant byte first: 127.0.0.1 is 0x7F000001.
struct NetworkClientSettings {
  uint32_t address = 0x7F000001u;
  uint16_t port = 502;
  uint32_t connectTimeoutMs = 1500;  // TCP clients only: 50..10000
  uint32_t responseTimeoutMs = 1500;  // 50..10000
};

struct RtuOverIpServerSettings {
  uint32_t bindAddress = 0;  // 0.0.0.0: every interface
  uint16_t port = 502;
  uint8_t slaveId = 1;  // 1..247
};

struct MbapServerSettings {
  uint32_t bindAddress = 0;
  uint16_t port = 502;
  uint8_t unitId = kHighestUnitId;  // 0..255; kept while acceptAny is set
  uint32_t acceptAny = 1;   // nonzero: answer every unit id
};

// The line settings the serial transport opens with; portName points into
// the record.
SerialLineSettings LineSettingsOf(const SerialSettings& settings);

// The page's clamping of typed numbers: a timeout above 10000 becomes 10000,
// then one below 50 becomes 50; a slave id above 247 becomes 247 and 0
// becomes 1.
uint32_t ClampTimeoutMs(uint32_t value);
uint32_t ClampSlaveId(uint32_t value);

// A handshake the menu does not offer (above 4) reads as none.
uint8_t KnownHandshake(uint8_t handshake);

// The consistency rule: every character has 11 bits, so a line without
// parity has two stop bits and one with parity has one.
uint8_t StopBitsForParity(uint8_t parity);

// The summaries. Each returns 1 when the text was written whole, else 0.
// "COM1: 19200-8-E-1-None", and for servers ", ID: 1" appended; refused
// below kSerialClientLineCapacity or kSerialServerLineCapacity.
int SerialConnectionLine(const SerialSettings& settings, SerialRole role, Unit* buffer, uint32_t capacity);
// "127.0.0.1:502", cut to the capacity (0 then).
int NetworkClientConnectionLine(const NetworkClientSettings& settings, Unit* buffer, uint32_t capacity);
// "0.0.0.0:502, Slave ID: 1"; refused below kRtuOverIpServerLineCapacity.
int RtuOverIpServerConnectionLine(const RtuOverIpServerSettings& settings, Unit* buffer, uint32_t capacity);
// "0.0.0.0:502, any Unit ID" or "0.0.0.0:502, Unit ID: 255"; refused below
// kMbapServerLineCapacity.
int MbapServerConnectionLine(const MbapServerSettings& settings, Unit* buffer, uint32_t capacity);

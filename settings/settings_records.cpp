#include "settings/settings_records.h"

namespace {

const Unit* const kHandshakeTexts[] = {u"None", u"CTS", u"DSR", u"CTS+DSR", u"RTS toggle"};

// "a.b.c.d:port"
int AppendEndpoint(TextBuffer& text, uint32_t address, uint16_t port) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.AppendUnsigned((address >> shift) & 0xFFu)) return 0;
    if (!text.AppendUnit(shift > 0 ? u'.' : u':')) return 0;
  }
  return text.AppendUnsigned(port);
}

int Deliver(const TextBuffer& text, int built, Unit* buffer, uint32_t capacity) {
  if (!built) return 0;
  return CopyTextCut(text.Text(), buffer, capacity);
}

}  // namespace

SerialLineSettings LineSettingsOf(const SerialSettings& settings) {
  SerialLineSettings line;
  line.portName = settings.portName;
  line.baudRate = settings.baudRate;
  line.dataBits = settings.dataBits;
  line.parity = settings.parity;
  line.stopBits = settings.stopBits;
  line.handshake = settings.handshake;
  return line;
}

uint32_t ClampTimeoutMs(uint32_t value) {
  if (value > kTimeoutMaxMs) value = kTimeoutMaxMs;
  if (value < kTimeoutMinMs) value = kTimeoutMinMs;
  return value;
}

uint32_t ClampSlaveId(uint32_t value) {
  if (value > kHighestSlaveId) return kHighestSlaveId;
  return value < kLowestSlaveId ? kLowestSlaveId : value;
}

uint8_t KnownHandshake(uint8_t handshake) { return handshake > kHandshakeRtsToggle ? kHandshakeNone : handshake; }

uint8_t StopBitsForParity(uint8_t parity) { return parity == kParityNone ? kStopBitsTwo : kStopBitsOne; }

int SerialConnectionLine(const SerialSettings& settings, SerialRole role, Unit* buffer, uint32_t capacity) {
  bool server = role == SerialRole::Server;
  if (!buffer || capacity < (server ? kSerialServerLineCapacity : kSerialClientLineCapacity)) return 0;
  Unit parity = settings.parity == kParityEven ? u'E' : settings.parity == kParityOdd ? u'O' : u'N';
  TextBuffer text;
  int built = text.Assign(settings.portName) && text.Append(u": ") && text.AppendUnsigned(settings.baudRate) &&
              text.AppendUnit(u'-') && text.AppendUnsigned(settings.dataBits) && text.AppendUnit(u'-') &&
              text.AppendUnit(parity) && text.AppendUnit(u'-') &&
              text.AppendUnsigned(settings.stopBits == kStopBitsTwo ? 2 : 1) && text.AppendUnit(u'-') &&
              text.Append(kHandshakeTexts[KnownHandshake(settings.handshake)]);
  if (built && server) built = text.Append(u", ID: ") && text.AppendUnsigned(settings.slaveId);
  return Deliver(text, built, buffer, capacity);
}

int NetworkClientConnectionLine(const NetworkClientSettings& settings, Unit* buffer, uint32_t capacity) {
  TextBuffer text;
  return Deliver(text, AppendEndpoint(text, settings.address, settings.port), buffer, capacity);
}

int RtuOverIpServerConnectionLine(const RtuOverIpServerSettings& settings, Unit* buffer, uint32_t capacity) {
  if (!buffer || capacity < kRtuOverIpServerLineCapacity) return 0;
  TextBuffer text;
  int built = AppendEndpoint(text, settings.bindAddress, settings.port) && text.Append(u", Slave ID: ") &&
              text.AppendUnsigned(settings.slaveId);
  return Deliver(text, built, buffer, capacity);
}

int MbapServerConnectionLine(const MbapServerSettings& settings, Unit* buffer, uint32_t capacity) {
  if (!buffer || capacity < kMbapServerLineCapacity) return 0;
  TextBuffer text;
  int built = AppendEndpoint(text, settings.bindAddress, settings.port);
  if (built && settings.acceptAny) {
    built = text.Append(u", any Unit ID");
  } else if (built) {
    built = text.Append(u", Unit ID: ") && text.AppendUnsigned(settings.unitId);
  }
  return Deliver(text, built, buffer, capacity);
}

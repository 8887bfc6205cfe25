#include "modbus/traffic_decode.h"

#include "common/plugin_interface.h"
#include "modbus/functions.h"

namespace {

constexpr uint32_t kMbapHeaderBytes = 7;
constexpr uint32_t kRtuCrcBytes = 2;
constexpr uint8_t kAsciiStart = ':';

const Unit* FunctionName(uint8_t function) {
  switch (function) {
    case kReadCoils: return u"Read Coils";
    case kReadDiscreteInputs: return u"Read Discrete Inputs";
    case kReadHoldingRegisters: return u"Read Holding Registers";
    case kReadInputRegisters: return u"Read Input Registers";
    case kWriteSingleCoil: return u"Write Single Coil";
    case kWriteSingleRegister: return u"Write Single Register";
    case kReadExceptionStatus: return u"Read Exception Status";
    case kDiagnostics: return u"Diagnostics";
    case kGetCommEventCounter: return u"Get Comm Event Counter";
    case kGetCommEventLog: return u"Get Comm Event Log";
    case kWriteMultipleCoils: return u"Write Multiple Coils";
    case kWriteMultipleRegisters: return u"Write Multiple Registers";
    case kReportServerId: return u"Report Server ID";
    case kReadFileRecord: return u"Read File Record";
    case kWriteFileRecord: return u"Write File Record";
    case kMaskWriteRegister: return u"Mask Write Register";
    case kReadWriteMultipleRegisters: return u"Read/Write Multiple Registers";
    case kReadFifoQueue: return u"Read FIFO Queue";
    case kEncapsulatedInterface: return u"Encapsulated Interface Transport";
    default: return nullptr;
  }
}

// What a quantity of the function counts.
const Unit* ItemName(uint8_t function, uint32_t count) {
  const bool one = count == 1;
  switch (function) {
    case kReadCoils:
    case kWriteSingleCoil:
    case kWriteMultipleCoils: return one ? u" coil" : u" coils";
    case kReadDiscreteInputs: return one ? u" input" : u" inputs";
    default: return one ? u" register" : u" registers";
  }
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

uint16_t U16(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

int AppendCount(TextBuffer& out, uint32_t count, uint8_t function) {
  return out.AppendUnsigned(count) && out.Append(ItemName(function, count));
}

int AppendFunction(TextBuffer& out, uint8_t function) {
  if (const Unit* name = FunctionName(function)) return out.Append(name);
  return out.Append(u"Function ") && out.AppendUnsigned(function);
}

int AppendAddress(TextBuffer& out, uint16_t address) { return out.Append(u"address ") && out.AppendUnsigned(address); }

int AppendCoilValue(TextBuffer& out, uint16_t value) {
  if (value == kCoilOn) return out.Append(u"ON");
  if (value == kCoilOff) return out.Append(u"OFF");
  return out.Append(u"value ") && out.AppendUnsigned(value);
}

// ", address A, N registers" and the like: the body of a request or of a
// write's echo.
int AppendRequestBody(TextBuffer& out, uint8_t function, const uint8_t* data, uint32_t length) {
  if (length < 4) return 1;
  const uint16_t address = U16(data);
  const uint16_t second = U16(data + 2);
  if (!out.Append(u", ") || !AppendAddress(out, address) || !out.Append(u", ")) return 0;
  switch (function) {
    case kWriteSingleCoil: return AppendCoilValue(out, second);
    case kWriteSingleRegister: return out.Append(u"value ") && out.AppendUnsigned(second);
    default: return AppendCount(out, second, function);
  }
}

int DescribeRequest(const uint8_t* pdu, uint32_t length, uint8_t unit, TextBuffer& out) {
  const uint8_t function = pdu[0];
  if (!AppendFunction(out, function) || !out.Append(u", unit ") || !out.AppendUnsigned(unit)) return 0;
  if (IsReadFunction(function) || IsWriteFunction(function)) return AppendRequestBody(out, function, pdu + 1, length - 1);
  if (function == kDiagnostics && length >= 3) return out.Append(u", sub-function ") && out.AppendUnsigned(U16(pdu + 1));
  return 1;
}

int DescribeAnswer(const uint8_t* pdu, uint32_t length, const TrafficRequestInfo* request, TextBuffer& out) {
  const uint8_t function = pdu[0];
  if (function & kExceptionFlag) {
    if (length < 2) return out.Append(u"Exception (no code)");
    const uint8_t code = pdu[1];
    out.width = 2;
    out.fill = u'0';
    const int built = out.Append(u"Exception ") && out.AppendUnsigned(code);
    out.width = 0;
    out.fill = u' ';
    return built && out.Append(u" - ") && out.Append(TrafficExceptionName(code));
  }
  if (!out.Append(u"answer: ")) return 0;
  if (IsReadFunction(function)) {
    if (length < 2) return AppendFunction(out, function);
    const uint8_t byteCount = pdu[1];
    if (function == kReadHoldingRegisters || function == kReadInputRegisters) {
      return AppendCount(out, byteCount / 2u, function);
    }
    if (request && request->function == function) return AppendCount(out, request->quantity, function);
    return out.AppendUnsigned(byteCount) && out.Append(byteCount == 1 ? u" byte of" : u" bytes of") &&
           out.Append(ItemName(function, 2));
  }
  if (IsWriteFunction(function)) {
    return out.Append(u"written") && AppendRequestBody(out, function, pdu + 1, length - 1);
  }
  if (function == kDiagnostics && length >= 3) {
    return out.Append(u"Diagnostics, sub-function ") && out.AppendUnsigned(U16(pdu + 1));
  }
  return AppendFunction(out, function);
}

}  // namespace

const Unit* TrafficExceptionName(uint8_t code) {
  switch (code) {
    case kIllegalFunction: return u"Illegal function";
    case kIllegalDataAddress: return u"Illegal data address";
    case kIllegalDataValue: return u"Illegal data value";
    case kServerDeviceFailure: return u"Server device failure";
    case kAcknowledge: return u"Acknowledge";
    case kServerDeviceBusy: return u"Server device busy";
    case kMemoryParityError: return u"Memory parity error";
    case kGatewayPathUnavailable: return u"Gateway path unavailable";
    case kGatewayTargetFailedToRespond: return u"Gateway target failed";
    default: return u"Unknown";
  }
}

bool TrafficPduOf(uint8_t framing, const uint8_t* bytes, uint32_t length, uint8_t* pdu, uint32_t* pduLength,
                  uint8_t* unit, uint16_t* transactionId) {
  *transactionId = 0;
  if (!bytes) return false;
  uint32_t count = 0;
  if (framing == kTrafficMbap) {
    if (length <= kMbapHeaderBytes) return false;
    *transactionId = U16(bytes);
    *unit = bytes[6];
    count = length - kMbapHeaderBytes;
    if (count > 256) count = 256;
    for (uint32_t i = 0; i < count; ++i) pdu[i] = bytes[kMbapHeaderBytes + i];
  } else if (framing == kTrafficAscii) {
    // ':' then hex pairs (unit, PDU, LRC) up to CR.
    if (length < 1 || bytes[0] != kAsciiStart) return false;
    uint8_t decoded[258];
    uint32_t pairs = 0;
    for (uint32_t i = 1; i + 1 < length && pairs < sizeof decoded; i += 2) {
      const int high = HexValue(bytes[i]);
      const int low = HexValue(bytes[i + 1]);
      if (high < 0 || low < 0) break;
      decoded[pairs++] = static_cast<uint8_t>(high * 16 + low);
    }
    if (pairs < 3) return false;
    *unit = decoded[0];
    count = pairs - 2;  // without the unit and the LRC
    for (uint32_t i = 0; i < count; ++i) pdu[i] = decoded[1 + i];
  } else {
    if (length < 2 + kRtuCrcBytes) return false;
    *unit = bytes[0];
    count = length - 1 - kRtuCrcBytes;
    if (count > 256) count = 256;
    for (uint32_t i = 0; i < count; ++i) pdu[i] = bytes[1 + i];
  }
  *pduLength = count;
  return count > 0;
}

bool TrafficRequestOf(uint8_t framing, const uint8_t* bytes, uint32_t length, TrafficRequestInfo* request) {
  uint8_t pdu[256];
  uint32_t pduLength = 0;
  uint8_t unit = 0;
  uint16_t transactionId = 0;
  if (!TrafficPduOf(framing, bytes, length, pdu, &pduLength, &unit, &transactionId)) return false;
  *request = TrafficRequestInfo{};
  request->function = pdu[0];
  request->transactionId = transactionId;
  if (pduLength >= 5) {
    request->address = U16(pdu + 1);
    request->quantity = U16(pdu + 3);
  }
  return true;
}

bool TrafficAnswers(uint8_t framing, const uint8_t* bytes, uint32_t length, const TrafficRequestInfo& request) {
  uint8_t pdu[256];
  uint32_t pduLength = 0;
  uint8_t unit = 0;
  uint16_t transactionId = 0;
  if (!TrafficPduOf(framing, bytes, length, pdu, &pduLength, &unit, &transactionId)) return false;
  if ((pdu[0] & static_cast<uint8_t>(~kExceptionFlag)) != request.function) return false;
  return framing != kTrafficMbap || transactionId == request.transactionId;
}

int DescribeTraffic(uint8_t framing, bool isRequest, const uint8_t* bytes, uint32_t length,
                    const TrafficRequestInfo* request, TextBuffer& out) {
  uint8_t pdu[256];
  uint32_t pduLength = 0;
  uint8_t unit = 0;
  uint16_t transactionId = 0;
  if (!TrafficPduOf(framing, bytes, length, pdu, &pduLength, &unit, &transactionId)) {
    return out.Append(u"no Modbus frame");
  }
  return isRequest ? DescribeRequest(pdu, pduLength, unit, out) : DescribeAnswer(pdu, pduLength, request, out);
}

int AppendTrafficBytes(uint8_t framing, const uint8_t* bytes, uint32_t length, TextBuffer& out) {
  static const Unit kHex[] = u"0123456789ABCDEF";
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    if (framing == kTrafficAscii) {
      const int appended = b == '\r'   ? out.Append(u"<CR>")
                           : b == '\n' ? out.Append(u"<LF>")
                           : (b >= 0x20 && b < 0x7F) ? out.AppendUnit(static_cast<Unit>(b))
                                                     : out.AppendUnit(u'?');
      if (!appended) return 0;
      continue;
    }
    if (i > 0 && !out.AppendUnit(u' ')) return 0;
    if (!out.AppendUnit(kHex[b >> 4]) || !out.AppendUnit(kHex[b & 0xF])) return 0;
  }
  return 1;
}

#include "modbus/link.h"

#include "common/deadline.h"
#include "common/memory.h"
#include "modbus/functions.h"
#include "modbus/rtu_length.h"

namespace {

// The rest of a stream frame after its first byte must arrive within this.
constexpr uint32_t kStreamFrameMs = 2000;
// Longest pause between two characters of an ASCII frame.
constexpr uint32_t kAsciiCharacterMs = 1000;
// ReadFrame capacities: one byte more than the framing allows, so that an
// oversize frame is seen as such.
constexpr uint32_t kWholeFrameCapacity = kMaxRtuAdu + 1;
constexpr uint32_t kDatagramCapacity = kMaxMbapAdu + 1;

int32_t StatusFromRead(int32_t result) {
  switch (result) {
    case TransportCancelled: return StatusCancelled;
    case TransportLineError: return StatusSerialFramingError;
    case TransportOverrun: return StatusSerialOverrun;
    default: return StatusTransportError;
  }
}

int32_t StatusFromFrameRead(int32_t result) {
  switch (result) {
    case TransportFrameTooLarge: return StatusFrameTooLarge;
    case TransportInvalidFrame: return StatusInvalidFrame;
    default: return StatusFromRead(result);
  }
}

int32_t Parse(Link* link, uint32_t length, AduHeader* header, Pdu* pdu) {
  int32_t status = link->framer->ParseAdu(link->receiveBuffer, length, header, pdu);
  return status != StatusOk ? status : static_cast<int32_t>(length);
}

// A stream frame given up after its first byte: the transport is reset so
// that the next receive starts at a frame boundary.
int32_t AbandonStreamFrame(Link* link, int32_t status) {
  if (status == StatusTimeout || status == StatusIncompleteFrame) {
    link->transport->ResetAfterError();
    return StatusIncompleteFrame;
  }
  return status;
}

int32_t JudgeWholeFrame(const void* context, const uint8_t* bytes, uint32_t length);

int32_t ReceiveWholeFrame(Link* link, AduHeader* header, Pdu* pdu, uint32_t deadline) {
  if (DeadlinePassed(deadline)) return StatusTimeout;
  link->transport->SetFrameJudge(&JudgeWholeFrame, link);
  int32_t n = link->transport->ReadFrame(link->receiveBuffer, kWholeFrameCapacity,
                                         RemainingMs(deadline));
  link->transport->SetFrameJudge(nullptr, nullptr);
  if (n == TransportTimedOut) return StatusTimeout;
  if (n < 0) return StatusFromFrameRead(n);
  if (static_cast<uint32_t>(n) > kMaxRtuAdu) return StatusFrameTooLarge;
  return Parse(link, static_cast<uint32_t>(n), header, pdu);
}

int32_t ReceiveAsciiStream(Link* link, AduHeader* header, Pdu* pdu, uint32_t deadline) {
  uint8_t* buffer = link->receiveBuffer;
  const uint8_t endCharacter = link->framer->EndCharacter();
  uint32_t index = 0;
  bool started = false;
  for (;;) {
    uint8_t c = 0;
    uint32_t until = started ? DeadlineAfter(kAsciiCharacterMs) : deadline;
    int32_t status = ReadExact(link, &c, 1, until);
    if (status < 0) return started && status == StatusTimeout ? StatusIncompleteFrame : status;
    if (c == ':') {
      buffer[0] = c;
      index = 1;
      started = true;
      continue;
    }
    if (!started) continue;
    buffer[index++] = c;
    if (index >= 2 && buffer[index - 2] == '\r' && buffer[index - 1] == endCharacter) {
      if (index < link->framer->MinAduLength()) return StatusInvalidFrame;
      return Parse(link, index, header, pdu);
    }
    if (index == kMaxAsciiAdu) return StatusFrameTooLarge;
  }
}

int32_t ReceiveMbap(Link* link, AduHeader* header, Pdu* pdu, uint32_t deadline) {
  Transport* transport = link->transport;
  uint8_t* buffer = link->receiveBuffer;
  if (transport->IsMessageOriented()) {
    if (DeadlinePassed(deadline)) return StatusTimeout;
    int32_t n = transport->ReadFrame(buffer, kDatagramCapacity, RemainingMs(deadline));
    if (n == TransportTimedOut) return StatusTimeout;
    // A datagram socket reports no line errors; anything unexpected is a
    // transport failure.
    if (n == TransportCancelled) return StatusCancelled;
    if (n == TransportFrameTooLarge) return StatusFrameTooLarge;
    if (n == TransportInvalidFrame) return StatusInvalidFrame;
    if (n < 0) return StatusTransportError;
    if (static_cast<uint32_t>(n) > kMaxMbapAdu) return StatusFrameTooLarge;
    return Parse(link, static_cast<uint32_t>(n), header, pdu);
  }

  int32_t status = ReadExact(link, buffer, 1, deadline);
  if (status < 0) return status;
  const uint32_t rest = DeadlineAfter(kStreamFrameMs);
  status = ReadExact(link, buffer + 1, 6, rest);
  if (status < 0) return AbandonStreamFrame(link, status);
  const uint32_t lengthField = GetU16(buffer + 4);
  if (lengthField < 2) {
    transport->ResetAfterError();
    return StatusInvalidLength;
  }
  if (lengthField + 6 > kMaxMbapAdu) {
    transport->ResetAfterError();
    return StatusFrameTooLarge;
  }
  status = ReadExact(link, buffer + 7, lengthField - 1, rest);
  if (status < 0) return AbandonStreamFrame(link, status);
  return Parse(link, lengthField + 6, header, pdu);
}

// --- whole frames read across gaps ----------------------------------------------

bool ChecksOut(const Link* link, const uint8_t* bytes, uint32_t length) {
  AduHeader header;
  Pdu pdu;
  return link->framer->ParseAdu(bytes, length, &header, &pdu) == StatusOk;
}

// One rule's verdict on the first length bytes of a frame. A frame longer
// than the rule says, or of that length with a failing CRC, is not one the
// rule places.
int32_t JudgeByRule(const Link* link, RtuLengthRule rule, const uint8_t* bytes, uint32_t length) {
  if (rule.kind == RtuLength::kMei) {
    if (length < 3) return kFrameGoesOn;
    rule = MeiLength(bytes[2]);
  }
  uint32_t total = rule.value;
  switch (rule.kind) {
    case RtuLength::kFixed: break;
    case RtuLength::kCounted:
      if (length <= rule.value) return kFrameGoesOn;
      total = rule.extra + bytes[rule.value];
      break;
    case RtuLength::kChecked:
      // Return Query Data: the CRC alone tells where its data ends.
      if (length >= rule.value && (length - rule.value) % rule.extra == 0 && ChecksOut(link, bytes, length))
        return kFrameEndsHere;
      return length < kMaxRtuAdu ? kFrameGoesOn : kFrameUnplaced;
    default: return kFrameUnplaced;
  }
  if (length < total) return kFrameGoesOn;
  return length == total && ChecksOut(link, bytes, length) ? kFrameEndsHere : kFrameUnplaced;
}

// The rules that may place a frame received on a serial line. A client
// hears the answer to its own request: the request tells its length, an
// exception answer is 5 bytes, and the answer rules of the stream serve
// when nothing was recorded. A slave hears requests, and on a shared bus
// the other slaves' answers too: a frame that the request rules cannot
// place may be placed by the answer rules.
int32_t JudgeWholeFrame(const void* context, const uint8_t* bytes, uint32_t length) {
  const Link* link = static_cast<const Link*>(context);
  if (length < 2) return kFrameGoesOn;
  const uint8_t function = bytes[1];
  RtuLengthRule rules[2];
  int count = 0;
  if (link->role == kLinkRoleServer) {
    rules[count++] = RequestLength(function);
    rules[count++] = ResponseLength(function);
  } else if (link->awaitedLength != 0 && function == link->awaitedFunction) {
    if (length < link->awaitedLength) return kFrameGoesOn;
    return length == link->awaitedLength && ChecksOut(link, bytes, length) ? kFrameEndsHere : kFrameUnplaced;
  } else {
    rules[count++] = ResponseLength(function);
  }
  int32_t verdict = kFrameUnplaced;
  for (int i = 0; i < count; ++i) {
    const int32_t one = JudgeByRule(link, rules[i], bytes, length);
    if (one == kFrameEndsHere) return kFrameEndsHere;
    if (one == kFrameGoesOn) verdict = kFrameGoesOn;
  }
  return verdict;
}

// Reads the frame on from *have bytes to count bytes.
int32_t ReadFrameTo(Link* link, uint32_t* have, uint32_t count, uint32_t deadline) {
  if (*have >= count) return StatusOk;
  const int32_t status = ReadExact(link, link->receiveBuffer + *have, count - *have, deadline);
  if (status < 0) return status;
  *have = count;
  return StatusOk;
}

// A frame that fails its CRC leaves the stream at an unknown place: the
// transport is reset as for any other frame given up half way.
int32_t ParseStreamFrame(Link* link, uint32_t length, AduHeader* header, Pdu* pdu) {
  const int32_t result = Parse(link, length, header, pdu);
  if (result == StatusCrcError) link->transport->ResetAfterError();
  return result;
}

int32_t ReceiveRtuStream(Link* link, AduHeader* header, Pdu* pdu, uint32_t deadline) {
  Transport* transport = link->transport;
  const uint8_t* buffer = link->receiveBuffer;
  uint32_t have = 0;
  int32_t status = ReadFrameTo(link, &have, 1, deadline);
  if (status < 0) return status;
  const uint32_t rest = DeadlineAfter(kStreamFrameMs);
  status = ReadFrameTo(link, &have, 2, rest);
  if (status < 0) return AbandonStreamFrame(link, status);
  RtuLengthRule rule = link->role == kLinkRoleServer ? RequestLength(buffer[1]) : ResponseLength(buffer[1]);
  if (rule.kind == RtuLength::kMei) {
    status = ReadFrameTo(link, &have, 3, rest);
    if (status < 0) return AbandonStreamFrame(link, status);
    rule = MeiLength(buffer[2]);
  }
  uint32_t total = rule.value;
  switch (rule.kind) {
    case RtuLength::kFixed: break;
    case RtuLength::kCounted:
      status = ReadFrameTo(link, &have, rule.value + 1u, rest);
      if (status < 0) return AbandonStreamFrame(link, status);
      total = rule.extra + buffer[rule.value];
      break;
    case RtuLength::kChecked:
      for (; total <= kMaxRtuAdu; total += rule.extra) {
        status = ReadFrameTo(link, &have, total, rest);
        if (status < 0) return AbandonStreamFrame(link, status);
        status = Parse(link, total, header, pdu);
        if (status != StatusCrcError) return status;
      }
      transport->ResetAfterError();
      return StatusCrcError;
    default:
      transport->ResetAfterError();
      return StatusInvalidFrame;
  }
  if (total > kMaxRtuAdu) {
    transport->ResetAfterError();
    return StatusFrameTooLarge;
  }
  status = ReadFrameTo(link, &have, total, rest);
  if (status < 0) return AbandonStreamFrame(link, status);
  return ParseStreamFrame(link, total, header, pdu);
}

}  // namespace

Link* LinkCreate(Transport* transport, Framer* framer, uint8_t role, void* monitorContext,
                 AduMonitor transmitMonitor, AduMonitor receiveMonitor) {
  Link* link = mem::New<Link>();
  link->transport = transport;
  link->framer = framer;
  link->role = role;
  link->monitorContext = monitorContext;
  link->transmitMonitor = transmitMonitor;
  link->receiveMonitor = receiveMonitor;
  return link;
}

void LinkDestroy(Link* link) { mem::Delete(link); }

int32_t ReadExact(Link* link, uint8_t* buffer, uint32_t count, uint32_t deadline) {
  uint32_t total = 0;
  while (total < count) {
    if (DeadlinePassed(deadline)) break;
    int32_t n = link->transport->Read(buffer + total, count - total, RemainingMs(deadline));
    if (n == TransportTimedOut) break;
    if (n < 0) return StatusFromRead(n);
    // More than was asked for would overrun the caller's buffer.
    if (static_cast<uint32_t>(n) > count - total) return StatusTransportError;
    total += static_cast<uint32_t>(n);
  }
  if (total == count) return static_cast<int32_t>(total);
  return total == 0 ? StatusTimeout : StatusIncompleteFrame;
}

int32_t ReceiveAdu(Link* link, AduHeader* header, Pdu* pdu, uint32_t timeoutMs) {
  mem::FillBytes(link->receiveBuffer, 0, sizeof link->receiveBuffer);
  link->receiveLength = 0;
  const uint32_t deadline = DeadlineAfter(timeoutMs);
  int32_t length = StatusInvalidFrame;
  switch (link->framer->Traits().receipt) {
    case FrameReceipt::kWhole: length = ReceiveWholeFrame(link, header, pdu, deadline); break;
    case FrameReceipt::kDelimited: length = ReceiveAsciiStream(link, header, pdu, deadline); break;
    case FrameReceipt::kMbapLength: length = ReceiveMbap(link, header, pdu, deadline); break;
    case FrameReceipt::kRtuLength: length = ReceiveRtuStream(link, header, pdu, deadline); break;
    default: break;
  }
  if (length > 0) link->receiveLength = static_cast<uint32_t>(length);
  return length;
}

namespace {

// The length of the normal answer to an RTU request; 0 when the request
// does not tell it.
uint16_t AwaitedRtuLength(const uint8_t* request, uint32_t length) {
  if (length < 4) return 0;
  const uint8_t function = request[1];
  const uint32_t quantity = length >= 6 ? GetU16(request + 4) : 0;
  uint32_t answer = 0;
  if (function == kReadCoils || function == kReadDiscreteInputs) answer = 5 + BitByteCount(quantity);
  else if (IsReadFunction(function)) answer = 5 + 2 * quantity;
  else if (IsWriteFunction(function)) answer = 8;
  else if (function == kDiagnostics) answer = length;  // the echo of the request
  return answer <= kMaxRtuAdu ? static_cast<uint16_t>(answer) : 0;
}

}  // namespace

int32_t SendAdu(Link* link, const uint8_t* bytes, uint32_t length) {
  Transport* transport = link->transport;
  if (link->role == kLinkRoleClient && link->framer->Traits().receipt == FrameReceipt::kWhole) {
    link->awaitedFunction = length >= 2 ? bytes[1] : 0;
    link->awaitedLength = AwaitedRtuLength(bytes, length);
  }
  if (transport->BeginTransmit() == 0) return StatusCancelled;
  if (link->transmitMonitor) link->transmitMonitor(link->monitorContext, bytes, length);
  const uint32_t deadline = DeadlineAfter(transport->WriteBudget(length));
  uint32_t written = 0;
  while (written < length) {
    if (DeadlinePassed(deadline)) break;
    int32_t w = transport->Write(bytes + written, length - written, RemainingMs(deadline));
    if (w == TransportTimedOut) break;
    if (w < 0 || static_cast<uint32_t>(w) > length - written) {
      transport->ResetAfterError();
      return w == TransportCancelled ? StatusCancelled : StatusTransportError;
    }
    written += static_cast<uint32_t>(w);
  }
  if (written == length && !DeadlinePassed(deadline)) {
    int32_t f = transport->FinishTransmit(RemainingMs(deadline));
    if (f > 0) return static_cast<int32_t>(length);
    if (f < 0) {
      transport->ResetAfterError();
      return f == TransportCancelled ? StatusCancelled : StatusTransportError;
    }
  }
  transport->ResetAfterError();
  return StatusTimeout;
}

#include "client/transaction.h"

#include "common/deadline.h"
#include "common/memory.h"
#include "modbus/functions.h"
#include "modbus/status.h"

namespace {

bool QuantityFits(const ClientRequest& request, uint32_t limit) {
  return request.quantity >= 1 && request.quantity <= limit &&
         static_cast<uint32_t>(request.address) + request.quantity <= 65536u;
}

// Failures after which listening on cannot help.
bool IsFatal(int32_t status) {
  return status == StatusTransportError || status == StatusCancelled ||
         status == StatusSerialFramingError || status == StatusSerialOverrun;
}

}  // namespace

int32_t BuildRequestPdu(const ClientRequest& request, Pdu* pdu) {
  pdu->function = request.function;
  PutU16(pdu->data, request.address);
  PutU16(pdu->data + 2, request.quantity);
  pdu->length = 4;
  switch (request.function) {
    case kReadCoils:
    case kReadDiscreteInputs:
      return QuantityFits(request, kMaxReadBits) ? StatusOk : StatusInvalidRequest;
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      return QuantityFits(request, kMaxReadRegisters) ? StatusOk : StatusInvalidRequest;
    case kWriteSingleCoil:
      return request.quantity == kCoilOff || request.quantity == kCoilOn ? StatusOk : StatusInvalidRequest;
    case kWriteSingleRegister:
      return StatusOk;
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters: {
      const bool coils = request.function == kWriteMultipleCoils;
      if (!QuantityFits(request, coils ? kMaxWriteCoils : kMaxWriteRegisters)) return StatusInvalidRequest;
      const uint32_t expected = coils ? BitByteCount(request.quantity) : 2u * request.quantity;
      if (request.byteCount != expected) return StatusInvalidRequest;
      pdu->data[4] = request.byteCount;
      mem::CopyBytes(pdu->data + 5, request.data, request.byteCount);
      pdu->length = 5u + request.byteCount;
      return StatusOk;
    }
    default:
      return StatusUnsupportedFunction;
  }
}

int32_t BuildRequestAdu(const Framer& framer, uint16_t transactionId, const ClientRequest& request,
                        uint8_t* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return StatusFrameTooLarge;
  const FramingTraits& framing = framer.Traits();
  const bool broadcast = framing.hasBroadcast && request.unitId == kBroadcastUnitId;
  if ((broadcast && !IsWriteFunction(request.function)) || request.unitId > framing.highestUnitId) {
    return StatusInvalidRequest;
  }
  Pdu pdu;
  int32_t status = BuildRequestPdu(request, &pdu);
  if (status < 0) return status;
  AduHeader header;
  header.unitId = request.unitId;
  header.transactionId = transactionId;
  int32_t length = framer.BuildAdu(header, pdu, buffer, capacity);
  return length == 0 ? StatusInvalidLength : length;
}

int32_t Transact(Link* link, const ClientRequest& request, ClientResponse* response,
                 uint32_t timeoutMs) {
  Transport* transport = link->transport;
  const FramingTraits& framing = link->framer->Traits();
  if (!transport->IsReady()) return StatusNotConnected;
  *response = ClientResponse();
  if (!transport->PrepareExchange()) return StatusTransportError;
  const uint16_t transactionId = link->transactionCounter++;

  uint8_t adu[kAduBufferSize];
  int32_t length = BuildRequestAdu(*link->framer, transactionId, request, adu, sizeof adu);
  if (length < 0) return length;
  int32_t status = SendAdu(link, adu, static_cast<uint32_t>(length));
  if (status < 0) return status;
  if (request.unitId == kBroadcastUnitId && framing.hasBroadcast && IsWriteFunction(request.function)) return 0;

  const uint32_t deadline = DeadlineAfter(timeoutMs);
  int32_t remembered = StatusTimeout;
  while (!DeadlinePassed(deadline)) {
    AduHeader header;
    Pdu pdu;
    const int32_t received = ReceiveAdu(link, &header, &pdu, RemainingMs(deadline));
    if (received == StatusTimeout) return remembered;
    if (IsFatal(received)) return received;
    if (received < 0) {
      remembered = received;
      // A stream link that gave up in the middle of a frame has reset the
      // transport; a TCP client is closed then, and its next read would
      // report a cancellation that never happened.
      if (!transport->IsReady()) return remembered;
      continue;
    }
    ClientResponse candidate;
    if (header.unitId != request.unitId) {
      remembered = StatusInvalidFrame;
    } else if (framing.mbapHeader && header.transactionId != transactionId) {
      remembered = StatusTransactionMismatch;
    } else if (!ParseResponsePdu(pdu, &candidate)) {
      remembered = StatusInvalidFrame;
    } else if (!ResponseMatches(request, candidate)) {
      remembered = StatusResponseMismatch;
    } else {
      *response = candidate;
      if (candidate.isException) return StatusFromException(candidate.exceptionCode);
      if (link->receiveMonitor) {
        link->receiveMonitor(link->monitorContext, link->receiveBuffer, static_cast<uint32_t>(received));
      }
      return static_cast<int32_t>(pdu.length);
    }
  }
  return remembered;
}

bool ParseResponsePdu(const Pdu& pdu, ClientResponse* response) {
  if (pdu.function & kExceptionFlag) {
    if (pdu.length != 1 || pdu.data[0] == 0) return false;
    response->function = static_cast<uint8_t>(pdu.function ^ kExceptionFlag);
    response->isException = true;
    response->exceptionCode = pdu.data[0];
    return true;
  }
  switch (pdu.function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters: {
      if (pdu.length < 2) return false;
      const uint8_t byteCount = pdu.data[0];
      if (byteCount > kMaxResponseData || pdu.length != byteCount + 1u) return false;
      response->function = pdu.function;
      response->isException = false;
      response->byteCount = byteCount;
      mem::CopyBytes(response->data, pdu.data + 1, byteCount);
      return true;
    }
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      if (pdu.length != 4) return false;
      response->function = pdu.function;
      response->isException = false;
      response->echoAddress = GetU16(pdu.data);
      response->echoValue = GetU16(pdu.data + 2);
      return true;
    default:
      return false;
  }
}

bool ResponseMatches(const ClientRequest& request, const ClientResponse& response) {
  if (response.function != request.function) return false;
  if (response.isException) return true;
  switch (request.function) {
    case kReadCoils:
    case kReadDiscreteInputs:
      return response.byteCount == BitByteCount(request.quantity);
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      return response.byteCount == 2u * request.quantity;
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      return response.echoAddress == request.address && response.echoValue == request.quantity;
    default:
      return false;
  }
}

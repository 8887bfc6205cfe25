// Receiving a request, sending its response, and the per-request decision
// sequences of the two server families.

#include "server/serve.h"

#include "common/memory.h"
#include "modbus/functions.h"

namespace {

bool IsSupportedFunction(uint8_t function) {
  return IsReadFunction(function) || IsWriteFunction(function) || function == kDiagnostics;
}

bool HasQuantity(uint8_t function) {
  return IsReadFunction(function) || function == kWriteMultipleCoils || function == kWriteMultipleRegisters;
}

uint8_t ExceptionCodeFor(int32_t status) {
  switch (status) {
    case StatusUnsupportedFunction: return kIllegalFunction;
    case StatusInvalidAddress: return kIllegalDataAddress;
    default: return kIllegalDataValue;
  }
}

void BuildException(const ServerRequest& request, uint8_t code, ServerResponse* response) {
  mem::FillBytes(response, 0, sizeof *response);
  response->function = request.function;
  response->isException = true;
  response->exceptionCode = code;
}

// The serial and RTU-over-IP servers take the frames for their slave ID and
// broadcasts; the rest of a shared bus's traffic is not theirs.
bool IsAddressedHere(const ServeSession& session, uint8_t unitId) {
  return unitId == session.unitId || unitId == kBroadcastUnitId;
}

// The ASCII end character set by a diagnostic takes effect only once the
// response to that diagnostic has gone out with the old one.
void InstallPendingEndCharacter(Link* link, DiagnosticState* state) {
  if (!state->pendingEndCharacter) return;
  link->framer->SetEndCharacter(state->pendingEndCharacter);
  state->pendingEndCharacter = 0;
}

// The hook's refusal of a request about to be answered, if any.
bool RefusedByHook(const ServeSession* session, const AduHeader& header, const ServerRequest& request,
                   ServerResponse* response) {
  uint8_t code = 0;
  if (!session->hook || !session->hook->beforeAnswer(session->hook->context, header, &code)) return false;
  BuildException(request, code, response);
  return true;
}

int32_t SendAnswer(const ServeSession* session, const AduHeader& header, const ServerResponse& response) {
  if (session->hook) return session->hook->send(session->hook->context, session->link, header, response);
  return SendResponse(session->link, header, response);
}

}  // namespace

bool IsAnswerable(int32_t status) {
  return status == StatusOk || status == StatusUnsupportedFunction || status == StatusInvalidAddress ||
         status == StatusInvalidRequest;
}

bool IsBusCommunicationError(int32_t status) {
  switch (status) {
    case StatusIncompleteFrame:
    case StatusCrcError:
    case StatusLrcError:
    case StatusInvalidLength:
    case StatusInvalidFrame:
    case StatusFrameTooLarge:
    case StatusSerialFramingError:
    case StatusSerialOverrun:
      return true;
    default:
      return false;
  }
}

int32_t ReceiveRequest(ServeSession* session, AduHeader* header, ServerRequest* request, uint32_t timeoutMs) {
  Link* link = session->link;
  if (!link->transport->IsReady()) return StatusNotConnected;
  *header = AduHeader{};
  mem::FillBytes(request, 0, sizeof *request);
  Pdu pdu;
  const int32_t length = ReceiveAdu(link, header, &pdu, timeoutMs);
  if (length < 0) return length;
  if (link->receiveMonitor) {
    link->receiveMonitor(link->monitorContext, link->receiveBuffer, static_cast<uint32_t>(length));
  }
  const FramingTraits& framing = link->framer->Traits();
  if ((pdu.function & kExceptionFlag) && (!framing.hasBroadcast || IsAddressedHere(*session, header->unitId))) {
    return StatusInvalidFrame;
  }

  if (DecodeRequest(pdu, request)) {
    const bool broadcast = framing.hasBroadcast && header->unitId == kBroadcastUnitId;
    if (broadcast && !IsWriteFunction(request->function)) return StatusInvalidRequest;
    if (header->unitId > framing.highestUnitId) return StatusInvalidRequest;
    return StatusOk;
  }

  request->function = pdu.function;
  if (!IsSupportedFunction(pdu.function)) return StatusUnsupportedFunction;
  const uint32_t quantity = request->quantityOrValue;
  if (HasQuantity(pdu.function) && quantity != 0 && request->address + quantity > kCellsPerArea) {
    return StatusInvalidAddress;
  }
  return StatusInvalidRequest;
}

int32_t BuildResponseAdu(const Link* link, const AduHeader& header, const ServerResponse& response, uint8_t* adu,
                         uint32_t capacity) {
  Pdu pdu;
  const int32_t status = BuildResponsePdu(response, &pdu);
  if (status < 0) return status;
  const int32_t length = link->framer->BuildAdu(header, pdu, adu, capacity);
  return length <= 0 ? StatusInvalidLength : length;
}

int32_t SendResponse(Link* link, const AduHeader& header, const ServerResponse& response) {
  if (!link->transport->IsReady()) return StatusNotConnected;
  if (header.unitId == kBroadcastUnitId && link->framer->Traits().hasBroadcast) return 0;
  uint8_t adu[kAduBufferSize];
  const int32_t length = BuildResponseAdu(link, header, response, adu, sizeof adu);
  if (length < 0) return length;
  return SendAdu(link, adu, static_cast<uint32_t>(length));
}

int32_t ServeRequestSerial(ServeSession* session, int32_t receiveStatus, const AduHeader& header,
                           const ServerRequest& request, WrittenRange* written) {
  Link* link = session->link;
  DiagnosticState* state = &session->diagnostics;
  *written = WrittenRange{};
  if (IsBusCommunicationError(receiveStatus)) {
    ++state->busCommunicationErrorCount;
    if (receiveStatus == StatusSerialOverrun) ++state->busCharacterOverrunCount;
  }
  if (!IsAnswerable(receiveStatus)) return 0;
  if (!IsAddressedHere(*session, header.unitId)) return 0;
  // The address field carries the sub-function; 1 restarts communications.
  const bool restart = receiveStatus == StatusOk && request.function == kDiagnostics && request.address == 1;
  if (state->listenOnly && !restart) {
    ++state->serverNoResponseCount;
    return 0;
  }
  ++state->serverMessageCount;

  ServerResponse response;
  // A broadcast is never answered, so no fault falls due on it.
  if (header.unitId != kBroadcastUnitId && RefusedByHook(session, header, request, &response)) {
  } else if (receiveStatus != StatusOk) {
    BuildException(request, ExceptionCodeFor(receiveStatus), &response);
  } else if (request.function == kDiagnostics) {
    const int32_t outcome = HandleDiagnostics(state, request, &response, link->framer->Traits());
    if (outcome == kDiagnosticsSilent) {
      InstallPendingEndCharacter(link, state);
      return 0;
    }
    if (outcome == kDiagnosticsException) BuildException(request, state->diagnosticExceptionCode, &response);
  } else {
    ExecuteRequest(session->map, request, &response, written);
  }
  if (response.isException) ++state->busExceptionErrorCount;
  if (header.unitId == kBroadcastUnitId) ++state->serverNoResponseCount;

  const int32_t sent = SendAnswer(session, header, response);
  InstallPendingEndCharacter(link, state);
  return sent;
}

int32_t ServeRequestMbap(ServeSession* session, int32_t receiveStatus, const AduHeader& header,
                         const ServerRequest& request, WrittenRange* written) {
  *written = WrittenRange{};
  if (!IsAnswerable(receiveStatus)) return 0;
  if (!session->acceptAny && header.unitId != session->unitId) return 0;

  ServerResponse response;
  if (RefusedByHook(session, header, request, &response)) {
  } else if (request.function == kDiagnostics) {
    BuildException(request, kIllegalFunction, &response);
  } else if (receiveStatus != StatusOk) {
    BuildException(request, ExceptionCodeFor(receiveStatus), &response);
  } else {
    ExecuteRequest(session->map, request, &response, written);
  }
  return SendAnswer(session, header, response);
}

// Function 8, the serial-line diagnostics of the serial and RTU-over-IP
// servers.

#include "common/memory.h"
#include "modbus/framer.h"
#include "modbus/functions.h"
#include "server/request.h"

namespace {

constexpr uint16_t kReturnQueryData = 0;
constexpr uint16_t kRestartCommunications = 1;
constexpr uint16_t kReturnDiagnosticRegister = 2;
constexpr uint16_t kChangeAsciiDelimiter = 3;
constexpr uint16_t kForceListenOnly = 4;
constexpr uint16_t kClearCounters = 10;
constexpr uint16_t kLastCounter = 18;
constexpr uint16_t kClearOverrunCounter = 20;

// The two data words of a restart.
constexpr uint16_t kKeepEventLog = 0x0000;
constexpr uint16_t kClearEventLog = 0xFF00;

constexpr uint8_t kLineFeed = 10;
constexpr uint8_t kCarriageReturn = 13;

void ClearCounts(DiagnosticState* state) {
  state->busMessageCount = 0;
  state->busCommunicationErrorCount = 0;
  state->busExceptionErrorCount = 0;
  state->serverMessageCount = 0;
  state->serverNoResponseCount = 0;
  state->serverNakCount = 0;
  state->serverBusyCount = 0;
  state->busCharacterOverrunCount = 0;
}

// Counter returned by sub-functions 11 to 18.
uint16_t CounterOf(const DiagnosticState& state, uint16_t subFunction) {
  switch (subFunction) {
    case 11: return state.busMessageCount;
    case 12: return state.busCommunicationErrorCount;
    case 13: return state.busExceptionErrorCount;
    case 14: return state.serverMessageCount;
    case 15: return state.serverNoResponseCount;
    case 16: return state.serverNakCount;
    case 17: return state.serverBusyCount;
    default: return state.busCharacterOverrunCount;
  }
}

int32_t Reject(DiagnosticState* state, uint8_t code) {
  state->diagnosticExceptionCode = code;
  return kDiagnosticsException;
}

}  // namespace

int32_t HandleDiagnostics(DiagnosticState* state, const ServerRequest& request,
                          ServerResponse* response, const FramingTraits& framing) {
  mem::FillBytes(response, 0, sizeof *response);
  const uint16_t subFunction = request.address;
  const uint16_t word = request.quantityOrValue;
  const bool oneWord = request.dataLength == 2;
  response->function = kDiagnostics;
  response->echoAddress = subFunction;
  state->diagnosticExceptionCode = kIllegalFunction;

  if (state->listenOnly && subFunction != kRestartCommunications) return kDiagnosticsSilent;

  switch (subFunction) {
    case kReturnQueryData:
      response->echoValue = word;
      response->echoDataLength = request.dataLength;
      mem::CopyBytes(response->echoData, request.data, request.dataLength);
      return kDiagnosticsRespond;

    case kRestartCommunications: {
      const bool wasListenOnly = state->listenOnly;
      if (!oneWord || (word != kKeepEventLog && word != kClearEventLog)) {
        // A silent server stays silent: a malformed restart is not answered,
        // not even with an exception.
        if (wasListenOnly) {
          ++state->serverNoResponseCount;
          return kDiagnosticsSilent;
        }
        return Reject(state, kIllegalDataValue);
      }
      state->listenOnly = false;
      ClearCounts(state);
      state->pendingEndCharacter = kLineFeed;
      response->echoValue = word;
      return wasListenOnly ? kDiagnosticsSilent : kDiagnosticsRespond;
    }

    case kChangeAsciiDelimiter: {
      if (framing.receipt != FrameReceipt::kDelimited) return Reject(state, kIllegalFunction);
      const uint8_t character = static_cast<uint8_t>(word >> 8);
      if (!oneWord || (word & 0xFF) != 0 || character == 0 || character == kCarriageReturn || character == ':') {
        return Reject(state, kIllegalDataValue);
      }
      state->pendingEndCharacter = character;
      response->echoValue = word;
      return kDiagnosticsRespond;
    }

    case kForceListenOnly:
      if (!oneWord || word != 0) return Reject(state, kIllegalDataValue);
      state->listenOnly = true;
      ++state->serverNoResponseCount;
      return kDiagnosticsSilent;

    default:
      break;
  }

  const bool reportsOrClears = subFunction == kReturnDiagnosticRegister ||
                               (subFunction >= kClearCounters && subFunction <= kLastCounter) ||
                               subFunction == kClearOverrunCounter;
  if (!reportsOrClears) return Reject(state, kIllegalFunction);
  if (!oneWord || word != 0) return Reject(state, kIllegalDataValue);
  if (subFunction == kReturnDiagnosticRegister) {
    response->echoValue = state->diagnosticRegister;
  } else if (subFunction == kClearCounters) {
    state->diagnosticRegister = 0;
    ClearCounts(state);
  } else if (subFunction == kClearOverrunCounter) {
    state->busCharacterOverrunCount = 0;
  } else {
    response->echoValue = CounterOf(*state, subFunction);
  }
  return kDiagnosticsRespond;
}

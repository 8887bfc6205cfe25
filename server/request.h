#pragma once
// Request processing of the simulated device: decoding a request PDU,
// executing it on the device map, function 8, and the wire PDU of the
// response. The per-request decision sequences of the two server families
// are in server/serve.h.
//
// Everything here runs on the server's worker thread. Only ExecuteRequest
// touches shared data, and it holds the map lock for the whole request.

#include <stdint.h>

#include "modbus/link.h"
#include "modbus/pdu.h"
#include "server/device_map.h"

constexpr uint32_t kRequestDataMax = 250;

// One decoded request; the unit ID and transaction ID stay in the AduHeader.
struct ServerRequest {
  uint8_t function;
  uint16_t address;          // start (1-4, 15, 16), output address (5, 6), sub-function (8)
  uint16_t quantityOrValue;  // quantity (1-4, 15, 16), value (5, 6), data word or 0 (8)
  uint8_t byteCount;         // 15, 16
  uint16_t dataLength;       // 8: bytes after the sub-function
  uint8_t data[kRequestDataMax];  // 15, 16: packed coils or registers; 8: bytes after the sub-function
};

struct ServerResponse {
  uint8_t function;        // as in the request; bit 7 is added on the wire only
  bool isException;
  uint8_t exceptionCode;   // 1, 2 or 3
  uint8_t byteCount;       // 1-4
  uint8_t data[kRequestDataMax];  // 1-4: packed bits (first in bit 0) or registers high byte first
  uint16_t echoAddress;    // 5, 6, 15, 16: address; 8: sub-function
  uint16_t echoValue;      // 5, 6: value; 15, 16: quantity; 8: data word
  uint16_t echoDataLength; // 8, sub-function 0: echoed bytes; otherwise 0
  uint8_t echoData[kRequestDataMax];
};

// The cells a request changed; count 0 when it wrote nothing.
struct WrittenRange {
  uint8_t area;
  uint16_t start;
  uint16_t count;
};

// The serial-line diagnostics of one serving session (serial and RTU-over-IP
// servers). Every counter is 16 bits and wraps. Zeroed at every start of the
// worker.
struct DiagnosticState {
  bool listenOnly;
  uint16_t diagnosticRegister;          // nothing sets it
  uint16_t busMessageCount;             // whole ADUs with a good check, counted by the receive monitor
  uint16_t busCommunicationErrorCount;  // receive failures of the line (see IsBusCommunicationError)
  uint16_t busExceptionErrorCount;      // exception responses built, sent or not
  uint16_t serverMessageCount;          // requests for us or broadcast, not silenced
  uint16_t serverNoResponseCount;       // silenced, broadcast, and Force Listen Only requests
  uint16_t serverNakCount;              // never incremented
  uint16_t serverBusyCount;             // never incremented
  uint16_t busCharacterOverrunCount;    // StatusSerialOverrun
  uint8_t pendingEndCharacter;          // ASCII end character to install after this response; 0 none
  uint8_t diagnosticExceptionCode;      // code of a rejected function 8 request
};

// Outcomes of HandleDiagnostics.
constexpr int32_t kDiagnosticsRespond = 1;
constexpr int32_t kDiagnosticsSilent = 2;
constexpr int32_t kDiagnosticsException = 3;

// Decodes pdu into request and checks it against the limits of its function.
// Address and quantity are stored before their limits are tested, so a
// failed decode still tells the caller what the request named.
bool DecodeRequest(const Pdu& pdu, ServerRequest* request);

// Performs a decoded request of function 1, 2, 3, 4, 5, 6, 15 or 16 on the
// map, under its lock. Any other function gives exception 1.
void ExecuteRequest(DeviceMap* map, const ServerRequest& request, ServerResponse* response,
                    WrittenRange* written);

// Function 8 on the serial and RTU-over-IP servers. Returns
// kDiagnosticsRespond with the response built, kDiagnosticsSilent when
// nothing may be sent, or kDiagnosticsException with the code in
// state->diagnosticExceptionCode. framing is the link framer's.
int32_t HandleDiagnostics(DiagnosticState* state, const ServerRequest& request,
                          ServerResponse* response, const FramingTraits& framing);

// The wire PDU of a response. StatusOk, StatusInvalidRequest for fields that
// no valid response can carry, or StatusUnsupportedFunction.
int32_t BuildResponsePdu(const ServerResponse& response, Pdu* pdu);

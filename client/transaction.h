#pragma once
// The client transaction engine: one Modbus request/response exchange over
// a link, the checks a response must pass, and the status texts of the RX
// line. It has no thread and no state of its own; the polling worker calls
// Transact one transaction at a time per link, and the TX preview calls
// BuildRequestAdu on the user-interface thread with a framer of its own.

#include <stdint.h>

#include "common/text.h"
#include "modbus/framer.h"
#include "modbus/link.h"
#include "modbus/pdu.h"

constexpr uint32_t kMaxRequestData = 246;   // functions 15 and 16
constexpr uint32_t kMaxResponseData = 250;  // functions 1 to 4
constexpr uint32_t kStatusTextCapacity = 96;  // units a StatusText buffer must hold

struct ClientRequest {
  uint8_t unitId = 0;    // 0: broadcast on the serial and RTU framings
  uint8_t function = 0;  // 1, 2, 3, 4, 5, 6, 15 or 16
  uint16_t address = 0;  // starting address, or output address for 5 and 6
  uint16_t quantity = 0; // quantity (1-4, 15, 16), or the value to write (5, 6)
  uint8_t byteCount = 0; // 15 and 16: data bytes that follow
  uint8_t data[kMaxRequestData] = {};  // 15 and 16: packed coils or registers high byte first
};

struct ClientResponse {
  uint8_t function = 0;       // bit 7 cleared
  bool isException = false;   // bit 7 was set
  uint8_t exceptionCode = 0;  // exception responses only, never 0
  uint8_t byteCount = 0;      // 1-4
  uint8_t data[kMaxResponseData] = {};  // 1-4: the data bytes as received
  uint16_t echoAddress = 0;   // 5, 6, 15, 16
  uint16_t echoValue = 0;     // 5, 6: the value; 15, 16: the quantity
};

// Encodes the request PDU. StatusOk, StatusInvalidRequest or
// StatusUnsupportedFunction.
int32_t BuildRequestPdu(const ClientRequest& request, Pdu* pdu);

// Checks the unit id for the framing, builds the PDU and frames it. Returns
// the ADU length, or StatusFrameTooLarge (no buffer), StatusInvalidRequest,
// StatusUnsupportedFunction or StatusInvalidLength (does not fit).
int32_t BuildRequestAdu(const Framer& framer, uint16_t transactionId, const ClientRequest& request,
                        uint8_t* buffer, uint32_t capacity);

// One complete exchange on the worker thread. Returns the data length of the
// accepted response PDU, 0 for a broadcast that expects no answer, -1000 - e
// for an exception response with code e, or another negative status. Frames
// that do not answer the request are skipped until the timeout; the result
// then is the last problem seen, or StatusTimeout when nothing came. Only an
// accepted normal response reaches the link's receive monitor.
int32_t Transact(Link* link, const ClientRequest& request, ClientResponse* response,
                 uint32_t timeoutMs);

// The two checks Transact applies to each received PDU.
bool ParseResponsePdu(const Pdu& pdu, ClientResponse* response);
bool ResponseMatches(const ClientRequest& request, const ClientResponse& response);

// The RX line text of a status: a constant text, or for an exception status
// the text formatted into buffer (at least kStatusTextCapacity units), which
// is then returned.
const Unit* StatusText(int32_t status, Unit* buffer);

// The same text as ASCII (all texts are ASCII), for programs that print
// them. Writes at most capacity bytes including the NUL and returns buffer.
const char* StatusTextAscii(int32_t status, char* buffer, uint32_t capacity);

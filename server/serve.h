#pragma once
// Serving: receiving a request, sending its response, and the per-request
// decision sequences of the two server families. The serial and RTU-over-IP
// servers answer one slave ID, execute broadcast writes without answering
// them, keep the serial-line diagnostic counters and implement function 8.
// The MBAP servers answer one unit ID or any, treat unit ID 0 like any other,
// keep no counters and refuse function 8 with exception 1.
//
// Everything here runs on the server's worker thread.

#include <stdint.h>

#include "modbus/link.h"
#include "modbus/pdu.h"
#include "server/device_map.h"
#include "server/request.h"

// An extension point on the answer path, absent for the ordinary slaves: a
// slave that misbehaves on purpose decides here, once per request that is
// about to be answered, whether the request is refused instead of carried
// out, and sends the response its own way.
struct ServeHook {
  void* context = nullptr;
  // Called before the request is carried out. True refuses it with
  // *exceptionCode instead.
  bool (*beforeAnswer)(void* context, const AduHeader& header, uint8_t* exceptionCode) = nullptr;
  // Sends the response in place of SendResponse and returns as it does.
  int32_t (*send)(void* context, Link* link, const AduHeader& header, const ServerResponse& response) = nullptr;
};

// What the serve sequences carry from one request to the next on one
// connection or line. Set up before the worker starts; the diagnostics are
// zeroed at every start of the worker.
struct ServeSession {
  Link* link = nullptr;
  DeviceMap* map = nullptr;
  uint8_t unitId = 1;       // the slave ID (serial, RTU over IP) or unit ID (MBAP) answered
  bool acceptAny = false;   // MBAP only: answer every unit ID
  DiagnosticState diagnostics = {};  // serial and RTU over IP: counters, listen-only, ASCII end character
  const ServeHook* hook = nullptr;   // the fault-injecting slaves only
};

// The receive failures that count as bus communication errors.
bool IsBusCommunicationError(int32_t status);

// The statuses of ReceiveRequest that are answered, by a response or an
// exception: StatusOk, StatusUnsupportedFunction, StatusInvalidAddress,
// StatusInvalidRequest.
bool IsAnswerable(int32_t status);

// Receives and decodes one request on session->link. StatusOk with a
// decoded request; StatusUnsupportedFunction, StatusInvalidAddress or
// StatusInvalidRequest for a well-framed request that is answered by
// exception 1, 2 or 3 (header and function are valid then); any other
// negative status for a receive failure. Calls the link's receive monitor
// with every ADU that passed its framer.
//
// On a shared serial bus the other slaves' answers pass by as well. A frame
// with bit 7 set in its function code is an invalid request only when it
// is addressed to this server (its slave ID or broadcast) or arrives on
// MBAP; for another slave it is classed like any other function outside the
// supported set, and ServeRequestSerial's address filter then drops it
// silently, so it counts as a bus message and nothing more.
int32_t ReceiveRequest(ServeSession* session, AduHeader* header, ServerRequest* request, uint32_t timeoutMs);

// Builds the response ADU with the request's header into adu. Its length,
// or a negative status.
int32_t BuildResponseAdu(const Link* link, const AduHeader& header, const ServerResponse& response, uint8_t* adu,
                         uint32_t capacity);

// Sends the response with the request's header (its unit ID and MBAP
// transaction ID). 0 when nothing is sent (a broadcast outside MBAP), the
// ADU length when sent, or a negative status.
int32_t SendResponse(Link* link, const AduHeader& header, const ServerResponse& response);

// The decision sequence of the serial and RTU-over-IP servers for the status
// of one ReceiveRequest: counters, address filter, listen-only gate,
// execution or diagnostics, response, then the pending ASCII end character.
// Returns the result of SendResponse, 0 when nothing was sent. *written
// names the cells the request changed, also for a broadcast.
int32_t ServeRequestSerial(ServeSession* session, int32_t receiveStatus, const AduHeader& header,
                           const ServerRequest& request, WrittenRange* written);

// The decision sequence of the MBAP servers: session->acceptAny answers
// every unit ID, otherwise only session->unitId. Returns as
// ServeRequestSerial does.
int32_t ServeRequestMbap(ServeSession* session, int32_t receiveStatus, const AduHeader& header,
                         const ServerRequest& request, WrittenRange* written);

#pragma once
// The link owns nothing: it pairs one transport with one framer and knows
// how to receive one complete ADU of the framer's kind and how to send one.
// A link and its transport are used by one worker thread at a time. Nothing
// here allocates, except LinkCreate.

#include <stdint.h>

#include "modbus/framer.h"
#include "modbus/pdu.h"
#include "modbus/status.h"
#include "modbus/transport.h"

// Called with an ADU: by SendAdu just before writing it, and by the
// frameworks with the receive buffer of an accepted ADU. Runs on the worker
// thread.
using AduMonitor = void (*)(void* context, const uint8_t* bytes, uint32_t length);

constexpr uint8_t kLinkRoleClient = 0;  // receives responses
constexpr uint8_t kLinkRoleServer = 1;  // receives requests

struct Link {
  Transport* transport = nullptr;   // owned by the framework that created the link
  Framer* framer = nullptr;         // owned by the framework
  uint8_t role = kLinkRoleClient;
  void* monitorContext = nullptr;
  AduMonitor transmitMonitor = nullptr;  // may be absent
  AduMonitor receiveMonitor = nullptr;   // may be absent
  uint16_t transactionCounter = 0;  // next MBAP transaction id, wraps at 65535
  uint8_t receiveBuffer[kAduBufferSize] = {};  // the ADU being or last received
  uint32_t receiveLength = 0;  // bytes of the last ADU ReceiveAdu accepted, 0 after a failure
  // A client's last request sent on a whole-frame RTU link: its function
  // code and the length of the normal answer it waits for (0: unknown), so
  // that the answer is read whole across an adapter's burst gaps.
  uint8_t awaitedFunction = 0;
  uint16_t awaitedLength = 0;
};

// A new link on the toolkit heap with the transaction counter at 0.
Link* LinkCreate(Transport* transport, Framer* framer, uint8_t role, void* monitorContext,
                 AduMonitor transmitMonitor, AduMonitor receiveMonitor);
// Releases the link only; transport and framer stay with their owner.
void LinkDestroy(Link* link);

// Reads exactly count bytes before the absolute tick deadline. Returns
// count, StatusTimeout when nothing came, StatusIncompleteFrame when only a
// part came, or StatusCancelled, StatusSerialFramingError,
// StatusSerialOverrun, StatusTransportError.
int32_t ReadExact(Link* link, uint8_t* buffer, uint32_t count, uint32_t deadline);

// Receives one ADU into the link's receive buffer and parses it. Returns the
// ADU length (positive) or a negative status. Stream framings reset the
// transport when they give up in the middle of a frame.
int32_t ReceiveAdu(Link* link, AduHeader* header, Pdu* pdu, uint32_t timeoutMs);

// Sends one ADU within the transport's WriteBudget, calling the transmit
// monitor first. Returns length or a negative status.
int32_t SendAdu(Link* link, const uint8_t* bytes, uint32_t length);

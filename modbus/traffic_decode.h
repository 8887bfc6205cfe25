#pragma once
// What the traffic log shows of a frame: the bytes as they went over the
// wire and their meaning in words ("Read Holding Registers, unit 1,
// address 0, 10 registers", "answer: 10 registers", "Exception 02 - Illegal
// data address"). Portable and without state: the shell calls it only for
// the rows it shows, copies or saves.

#include <stdint.h>

#include "common/text.h"

// What an answer's words need of the request it answers.
struct TrafficRequestInfo {
  uint8_t function = 0;
  uint16_t address = 0;
  uint16_t quantity = 0;
  uint16_t transactionId = 0;  // MBAP only
};

// The PDU inside a frame of framing (kTrafficRtu, kTrafficAscii,
// kTrafficMbap), with its unit and, for MBAP, its transaction id. The PDU's
// bytes are copied to pdu (room for 256). False when the frame is too short
// or, for ASCII, not hexadecimal.
bool TrafficPduOf(uint8_t framing, const uint8_t* bytes, uint32_t length, uint8_t* pdu, uint32_t* pduLength,
                  uint8_t* unit, uint16_t* transactionId);

// The function, address and quantity of a request frame; false for a
// frame that is none the decoder knows.
bool TrafficRequestOf(uint8_t framing, const uint8_t* bytes, uint32_t length, TrafficRequestInfo* request);

// Whether the answer frame belongs to the request (same function; for
// MBAP the same transaction id).
bool TrafficAnswers(uint8_t framing, const uint8_t* bytes, uint32_t length, const TrafficRequestInfo& request);

// Appends the frame's meaning to out. request, when known, is the request
// an answer answers (it names coils and inputs by count). 1, or 0 when out
// could not grow.
int DescribeTraffic(uint8_t framing, bool isRequest, const uint8_t* bytes, uint32_t length,
                    const TrafficRequestInfo* request, TextBuffer& out);

// Appends the bytes as on the wire: uppercase hexadecimal pairs separated
// by spaces, or for ASCII the characters themselves with CR and LF as
// "<CR>" and "<LF>".
int AppendTrafficBytes(uint8_t framing, const uint8_t* bytes, uint32_t length, TextBuffer& out);

// The name of an exception code, "Illegal data address".
const Unit* TrafficExceptionName(uint8_t code);

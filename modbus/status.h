#pragma once
// Status codes of the Modbus stack. A status is a signed 32-bit number: zero
// or a positive length is success, -1 to -17 are the named failures below,
// and an exception response with code e from the peer is -1000 - e.

#include <stdint.h>

constexpr int32_t StatusOk = 0;
constexpr int32_t StatusTimeout = -1;              // nothing arrived before the deadline
constexpr int32_t StatusIncompleteFrame = -2;      // a frame started but did not complete in time
constexpr int32_t StatusTransportError = -3;       // I/O error, connection lost, unexpected result
constexpr int32_t StatusCrcError = -4;             // RTU CRC-16 mismatch
constexpr int32_t StatusLrcError = -5;             // ASCII LRC mismatch
constexpr int32_t StatusInvalidLength = -6;        // ADU length impossible for its framing,
                                                   // inconsistent MBAP length, PDU too big
constexpr int32_t StatusTransactionMismatch = -7;  // MBAP transaction id differs from the request's
constexpr int32_t StatusInvalidFrame = -8;         // malformed, other unit, unpredictable length
constexpr int32_t StatusFrameTooLarge = -9;        // beyond the limit of the framing
constexpr int32_t StatusNotConnected = -10;        // the transport is not ready
constexpr int32_t StatusUnsupportedFunction = -11; // function code outside the supported set
constexpr int32_t StatusInvalidRequest = -12;      // request parameters out of range
constexpr int32_t StatusResponseMismatch = -13;    // well-formed response to another request
constexpr int32_t StatusCancelled = -14;           // stop event set, or port/socket closed
constexpr int32_t StatusSerialFramingError = -15;  // driver reported framing, parity or break
constexpr int32_t StatusInvalidAddress = -16;      // address out of range
constexpr int32_t StatusSerialOverrun = -17;       // driver reported overrun or buffer overflow

constexpr int32_t kStatusExceptionBase = -1000;

// The status of an exception response with code e (1 gives -1001).
constexpr int32_t StatusFromException(uint8_t exceptionCode) {
  return kStatusExceptionBase - static_cast<int32_t>(exceptionCode);
}

constexpr bool IsExceptionStatus(int32_t status) { return status < kStatusExceptionBase; }

// The exception code of an exception status, taken modulo 256.
constexpr uint8_t ExceptionCodeOf(int32_t status) {
  return static_cast<uint8_t>((static_cast<uint32_t>(kStatusExceptionBase) - static_cast<uint32_t>(status)) & 0xFFu);
}

// Results of the transport operations (modbus/transport.h). The link turns
// each of them into exactly one status.
constexpr int32_t TransportTimedOut = 0;       // the deadline passed with nothing done
constexpr int32_t TransportIoError = -1;       // I/O error
constexpr int32_t TransportCancelled = -2;     // stop event set, or port/socket not open
constexpr int32_t TransportLineError = -3;     // serial framing, parity or break
constexpr int32_t TransportOverrun = -4;       // serial character overrun or input overflow
constexpr int32_t TransportFrameTooLarge = -5; // ReadFrame: frame or datagram exceeds the buffer
constexpr int32_t TransportInvalidFrame = -6;  // ReadFrame: silence violated, empty datagram

#pragma once
// The TCP client transport: one IPv4 connection to a server, opened with a
// connect time-out, non-blocking, with Nagle off. Any error drops the
// connection; the client worker reopens it before its next request.

#include <stdint.h>

#include "transport/net_transport.h"

// Whether an answer that comes after its request gave up waiting can be
// told from the answer to the next request.
enum class LateAnswers {
  // MBAP: the transaction id tells them apart; a time-out keeps the
  // connection.
  Recognised,
  // RTU on a stream has no transaction id, and no drain can tell a late
  // answer from the next one when it comes later than the drain: a time-out
  // closes the connection, the late answer dies with it, and the next
  // request reconnects.
  Ambiguous,
};

class TcpClientTransport final : public NetTransport {
 public:
  // host: dotted IPv4 text (at most 255 characters are kept).
  TcpClientTransport(const char* host, uint16_t port, uint32_t connectTimeoutMs,
                     LateAnswers lateAnswers = LateAnswers::Recognised);
  ~TcpClientTransport() override;

  int32_t Open() override;
  void Close() override;
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) override;
  // Drops bytes left over from the last exchange and, when that exchange
  // gave up waiting, whatever the server sent since (a late answer that
  // came before this drain; one that comes later is told apart by its
  // transaction id). 0 when the server has closed the connection or the
  // socket failed (the connection is then closed).
  int32_t PrepareExchange() override;
  int32_t IsReady() override;

 private:
  int32_t Fail();

  char host_[256];
  uint16_t port_;
  uint32_t connectTimeoutMs_;
  LateAnswers lateAnswers_;
  sock::Handle socket_ = sock::kInvalid;
  bool connected_ = false;
  // Bytes received ahead of the caller: one recv takes what the kernel has,
  // so the three reads of an MBAP frame cost one system call.
  uint8_t pending_[512];
  uint32_t pendingStart_ = 0;
  uint32_t pendingEnd_ = 0;
  // A Read ran out of time since the last PrepareExchange.
  bool gaveUpWaiting_ = false;
};

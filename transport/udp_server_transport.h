#pragma once
// The UDP server transport: an IPv4 datagram socket bound to one interface
// and port. Every datagram is one ADU from any peer; the sender of the last
// datagram is where the next Write goes, once.

#include <stdint.h>

#include "transport/net_transport.h"

class UdpServerTransport final : public NetTransport {
 public:
  // bindAddress: dotted IPv4 text, empty or null for every interface.
  UdpServerTransport(const char* bindAddress, uint16_t port);
  ~UdpServerTransport() override;

  int32_t Open() override;
  void Close() override;
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
    return ReadFrame(buffer, capacity, timeoutMs);
  }
  int32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
  int32_t IsMessageOriented() override { return 1; }
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) override;
  int32_t PrepareExchange() override;
  // The link calls this after a failed send: that request stays unanswered.
  void ResetAfterError() override { replyPending_ = false; }
  int32_t IsReady() override { return open_ ? 1 : 0; }
  // The sender of the last datagram.
  int32_t Peer(uint32_t* address, uint16_t* port) override;

  // The port actually bound; -1 when closed.
  int32_t BoundPort() const;

 private:
  char bindAddress_[16];
  uint16_t port_;
  sock::Handle socket_ = sock::kInvalid;
  bool open_ = false;
  sock::Address replyPeer_ = {};
  // The local address the last datagram was sent to, where its answer
  // leaves from (INADDR_ANY: let the route choose).
  in_addr replyFrom_ = {};
  bool packetInfo_ = false;
  bool replyPending_ = false;
};

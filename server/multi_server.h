#pragma once
// A Modbus TCP server for several masters at once: one listening socket and
// a thread per connection. Each connection thread runs the ordinary MBAP
// serve sequence of the one-master slave (ReceiveRequest, then the owner's
// serve hook) on a session of its own over the shared device map, whose
// lock the request processing already takes. The owner's hook decides what
// an answer is: the slave executes the request on the map, the gateway
// carries it to its serial line.
//
// Why a thread per connection and not one select loop: the link, the framer
// and the serve sequence wait on one transport at a time and are used as
// they stand; a master sending a frame slowly then holds up only itself,
// and at most 16 masters cost 16 small threads.
//
// The acceptor (the server's own thread) refuses a connection beyond
// kMaxMasters at once: it is accepted and reset, never left in the backlog.
// A connection with nothing received for idleMs (0: never) is closed in
// order, so that dead peers do not fill the places.

#include <stdint.h>

#include <atomic>

#include "common/platform.h"
#include "modbus/link.h"
#include "modbus/traffic_tap.h"
#include "server/serve.h"

class TcpListener;
class TcpConnectionTransport;

constexpr uint32_t kMaxMasters = 16;

struct MultiServer;

// One master's connection. Everything in it belongs to its thread but
// `done`, which the acceptor reads.
struct MultiConnection {
  MultiServer* server = nullptr;
  plat::Thread* thread = nullptr;
  TcpConnectionTransport* transport = nullptr;
  Framer* framer = nullptr;
  ServeSession session;  // its own link; the server's map, unit id, accept-any and hook
  char peer[24] = {};    // "127.0.0.1:50312"
  std::atomic<bool> done{false};
  bool inUse = false;  // acceptor thread only
};

// What became of a connection, for the owner's traffic log.
enum class MultiServerEvent : uint8_t {
  kInvalidFrame,     // a request that could not be read (before serve is called with it)
  kClosedByMaster,   // the master closed the connection in order
  kDropped,          // reset, failed, or hung up after its stream went out of step
  kIdleClosed,       // closed for silence
  kRefused,          // a connection beyond kMaxMasters, reset at once (acceptor thread)
};

// What the owner does with the traffic; called on the connection threads
// unless said otherwise. Every pointer may be null.
struct MultiServerHooks {
  void* context = nullptr;
  // One result of ReceiveRequest on connection (StatusTimeout, cancels and
  // lost connections are handled here and never passed on). Null: the
  // slave's own sequence, ServeRequestMbap, on the connection's session.
  void (*serve)(void* context, MultiConnection* connection, int32_t status, const AduHeader& header,
                const ServerRequest& request) = nullptr;
  // The link's monitors: an ADU received on, or sent to, connection.
  void (*received)(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) = nullptr;
  void (*sent)(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) = nullptr;
  // A master came or went (on the acceptor's or the leaving connection's thread).
  void (*mastersChanged)(void* context) = nullptr;
  // Something the log shows beside the frames, with the master's address
  // and port (host order). Not called for the server's own Stop.
  void (*happened)(void* context, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort) = nullptr;
};

struct MultiServerSettings {
  const char* bindAddress = "";  // dotted IPv4, empty for every interface
  uint16_t port = 502;
  uint8_t unitId = 1;
  bool acceptAny = true;
  uint32_t idleMs = 60000;  // 0: never closed for silence
};

struct MultiServer {
  DeviceMap* map = nullptr;
  MultiServerHooks hooks;
  const ServeHook* serveHook = nullptr;  // handed to every session
  MultiServerSettings settings;
  char bindAddress[16] = {};
  TcpListener* listener = nullptr;
  plat::Thread* acceptor = nullptr;
  std::atomic<bool> stopping{false};
  std::atomic<uint32_t> masters{0};   // connections being served now
  std::atomic<uint32_t> refused{0};   // connections refused since the start
  std::atomic<uint32_t> idleClosed{0};  // connections closed for silence since the start
  MultiConnection connections[kMaxMasters];
};

// Opens the listening socket and starts the acceptor. 1 when serving, 0
// when the address and port cannot be listened on (nothing left running).
// A running server is stopped first.
int32_t MultiServerStart(MultiServer* server, DeviceMap* map, const MultiServerSettings& settings,
                         const MultiServerHooks& hooks);
// Stops accepting, resets every connection and waits for every thread.
// Safe when nothing runs.
void MultiServerStop(MultiServer* server);
// The port listened on; -1 when not serving.
int32_t MultiServerPort(const MultiServer* server);

// The traffic log's rows of a several-masters server (a slave's rows, MBAP,
// the master's address and port as the peer): a frame received on or sent
// to connection, and an event, a failure row but for a master closing in
// order.
void LogMultiServerFrame(const HostLink* link, const MultiConnection* connection, uint8_t direction,
                         const uint8_t* bytes, uint32_t length);
void LogMultiServerEvent(const HostLink* link, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort);

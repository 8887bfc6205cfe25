#include "server/multi_server.h"

#include "common/deadline.h"
#include "common/memory.h"
#include "modbus/framing.h"
#include "transport/tcp_connections.h"

namespace {

// Without traffic a connection's receive lasts at most this long, which
// bounds how late its silence is measured.
constexpr uint32_t kConnectionSliceMs = 500;
// How long the acceptor waits for a connection before it looks for
// connections that have ended.
constexpr uint32_t kAcceptSliceMs = 200;
// Masters connecting at once wait here until the acceptor takes them.
constexpr int kBacklog = 16;

void OnReceived(void* context, const uint8_t* bytes, uint32_t length) {
  MultiConnection* connection = static_cast<MultiConnection*>(context);
  const MultiServerHooks& hooks = connection->server->hooks;
  if (hooks.received) hooks.received(hooks.context, connection, bytes, length);
}

void OnSent(void* context, const uint8_t* bytes, uint32_t length) {
  MultiConnection* connection = static_cast<MultiConnection*>(context);
  const MultiServerHooks& hooks = connection->server->hooks;
  if (hooks.sent) hooks.sent(hooks.context, connection, bytes, length);
}

void Happened(MultiServer* server, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort) {
  if (server->hooks.happened) server->hooks.happened(server->hooks.context, event, peerAddress, peerPort);
}

void Happened(MultiConnection* connection, MultiServerEvent event) {
  Happened(connection->server, event, connection->transport->PeerAddress(), connection->transport->PeerPort());
}

void MastersChanged(MultiServer* server) {
  if (server->hooks.mastersChanged) server->hooks.mastersChanged(server->hooks.context);
}

void FormatPeer(uint32_t address, uint16_t port, char* text, uint32_t capacity) {
  char dotted[16];
  FormatIpv4(address, dotted);
  uint32_t at = 0;
  for (const char* p = dotted; *p && at + 1 < capacity; ++p) text[at++] = *p;
  char digits[6];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + port % 10);
    port = static_cast<uint16_t>(port / 10);
  } while (port != 0);
  if (at + 1 < capacity) text[at++] = ':';
  while (count > 0 && at + 1 < capacity) text[at++] = digits[--count];
  text[at] = '\0';
}

// Milliseconds the connection may still stay silent; kConnectionSliceMs
// when it is never closed for silence.
int32_t SilenceLeft(const MultiServer* server, uint32_t lastHeard) {
  const uint32_t idle = server->settings.idleMs;
  if (idle == 0) return static_cast<int32_t>(kConnectionSliceMs);
  return static_cast<int32_t>(idle) - TickDiff(plat::Tick(), lastHeard);
}

uint32_t ConnectionMain(void* argument) {
  MultiConnection* connection = static_cast<MultiConnection*>(argument);
  MultiServer* server = connection->server;
  TcpConnectionTransport* transport = connection->transport;
  uint32_t lastHeard = plat::Tick();
  while (!server->stopping.load()) {
    const int32_t left = SilenceLeft(server, lastHeard);
    if (left <= 0) {
      // Silent too long: a master that went away without a word.
      server->idleClosed.fetch_add(1);
      Happened(connection, MultiServerEvent::kIdleClosed);
      transport->Hangup();
      break;
    }
    const uint32_t wait = static_cast<uint32_t>(left) < kConnectionSliceMs ? static_cast<uint32_t>(left)
                                                                          : kConnectionSliceMs;
    AduHeader header;
    ServerRequest request;
    const int32_t status = ReceiveRequest(&connection->session, &header, &request, wait);
    if (status == StatusTimeout) continue;
    if (status == StatusCancelled) break;
    if (status == StatusTransportError || status == StatusNotConnected) {
      if (!server->stopping.load()) {
        Happened(connection,
                 transport->ClosedInOrder() ? MultiServerEvent::kClosedByMaster : MultiServerEvent::kDropped);
      }
      break;
    }
    lastHeard = plat::Tick();
    if (!IsAnswerable(status)) Happened(connection, MultiServerEvent::kInvalidFrame);
    if (server->hooks.serve) {
      server->hooks.serve(server->hooks.context, connection, status, header, request);
    } else {
      WrittenRange written;
      ServeRequestMbap(&connection->session, status, header, request, &written);
    }
    // A stream out of step is dropped by the framing: the master connects again.
    if (!transport->IsReady()) {
      if (!server->stopping.load()) Happened(connection, MultiServerEvent::kDropped);
      break;
    }
  }
  server->masters.fetch_sub(1);
  connection->done.store(true);
  MastersChanged(server);
  return 0;
}

void ReleaseConnection(MultiConnection* connection) {
  if (connection->transport) connection->transport->Cancel();
  if (connection->thread) plat::ThreadJoin(connection->thread);
  connection->thread = nullptr;
  LinkDestroy(connection->session.link);
  connection->session.link = nullptr;
  mem::Delete(connection->framer);
  connection->framer = nullptr;
  mem::Delete(connection->transport);
  connection->transport = nullptr;
  connection->done.store(false);
  connection->inUse = false;
}

// Joins the threads of connections that have ended, freeing their places.
void Reap(MultiServer* server) {
  for (MultiConnection& connection : server->connections)
    if (connection.inUse && connection.done.load()) ReleaseConnection(&connection);
}

void Refuse(MultiServer* server, sock::Handle handle) {
  uint32_t address = 0;
  uint16_t port = 0;
  if (sock::PeerAddress(handle, &address, &port) != 0) address = port = 0;
  // Counted and told before the reset, so that whoever sees the reset
  // finds it counted.
  server->refused.fetch_add(1);
  Happened(server, MultiServerEvent::kRefused, address, port);
  CloseSocket(&handle, SocketClose::kAbortive);
}

void Serve(MultiServer* server, sock::Handle handle) {
  Reap(server);
  MultiConnection* place = nullptr;
  for (MultiConnection& connection : server->connections) {
    if (!connection.inUse) {
      place = &connection;
      break;
    }
  }
  if (!place) {
    Refuse(server, handle);
    return;
  }
  place->server = server;
  place->transport = mem::New<TcpConnectionTransport>(handle);
  place->framer = CreateFramer(FramingKind::kMbap);
  place->transport->Open();
  FormatPeer(place->transport->PeerAddress(), place->transport->PeerPort(), place->peer, sizeof place->peer);
  place->session = ServeSession{};
  place->session.link = LinkCreate(place->transport, place->framer, kLinkRoleServer, place, &OnSent, &OnReceived);
  place->session.map = server->map;
  place->session.unitId = server->settings.unitId;
  place->session.acceptAny = server->settings.acceptAny;
  place->session.hook = server->serveHook;
  place->done.store(false);
  place->inUse = true;
  server->masters.fetch_add(1);
  place->thread = plat::ThreadStart(&ConnectionMain, place);
  if (!place->thread) {
    server->masters.fetch_sub(1);
    ReleaseConnection(place);
    return;
  }
  MastersChanged(server);
}

uint32_t AcceptorMain(void* argument) {
  MultiServer* server = static_cast<MultiServer*>(argument);
  while (!server->stopping.load()) {
    sock::Handle handle = sock::kInvalid;
    const int32_t accepted = server->listener->Accept(kAcceptSliceMs, &handle);
    if (accepted == TransportCancelled) break;
    if (accepted == 1) Serve(server, handle);
    else Reap(server);
  }
  return 0;
}

}  // namespace

int32_t MultiServerStart(MultiServer* server, DeviceMap* map, const MultiServerSettings& settings,
                         const MultiServerHooks& hooks) {
  MultiServerStop(server);
  server->map = map;
  server->hooks = hooks;
  server->settings = settings;
  CopyBounded(server->bindAddress, static_cast<int32_t>(sizeof server->bindAddress), settings.bindAddress);
  server->settings.bindAddress = server->bindAddress;
  server->stopping.store(false);
  server->masters.store(0);
  server->refused.store(0);
  server->idleClosed.store(0);
  server->listener = mem::New<TcpListener>(server->bindAddress, settings.port, kBacklog);
  if (server->listener->Open() != 1) {
    MultiServerStop(server);
    return 0;
  }
  server->acceptor = plat::ThreadStart(&AcceptorMain, server);
  if (!server->acceptor) {
    MultiServerStop(server);
    return 0;
  }
  return 1;
}

void MultiServerStop(MultiServer* server) {
  server->stopping.store(true);
  if (server->listener) server->listener->Cancel();
  if (server->acceptor) plat::ThreadJoin(server->acceptor);
  server->acceptor = nullptr;
  // The acceptor takes no more; every connection is cancelled first, so
  // that all of them wind down together.
  for (MultiConnection& connection : server->connections)
    if (connection.inUse && connection.transport) connection.transport->Cancel();
  for (MultiConnection& connection : server->connections)
    if (connection.inUse) ReleaseConnection(&connection);
  mem::Delete(server->listener);
  server->listener = nullptr;
  server->masters.store(0);
}

int32_t MultiServerPort(const MultiServer* server) { return server->listener ? server->listener->BoundPort() : -1; }

void LogMultiServerFrame(const HostLink* link, const MultiConnection* connection, uint8_t direction,
                         const uint8_t* bytes, uint32_t length) {
  TrafficPeer peer;
  peer.address = connection->transport->PeerAddress();
  peer.port = connection->transport->PeerPort();
  LogTrafficFrame(link, kTrafficSlave, FramingKind::kMbap, direction, bytes, length, peer);
}

void LogMultiServerEvent(const HostLink* link, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort) {
  TrafficPeer peer;
  peer.address = peerAddress;
  peer.port = peerPort;
  const Unit* text = u"Connection dropped";
  uint8_t kind = kTrafficFailureRow;
  switch (event) {
    case MultiServerEvent::kInvalidFrame: text = u"Invalid Modbus TCP/IP frame"; break;
    case MultiServerEvent::kClosedByMaster:
      text = u"Connection closed by the client";
      kind = kTrafficNoticeRow;
      break;
    case MultiServerEvent::kDropped: break;
    case MultiServerEvent::kIdleClosed: text = u"Connection closed: idle too long"; break;
    case MultiServerEvent::kRefused: text = u"Connection refused: 16 masters connected"; break;
  }
  LogTrafficFailure(link, kTrafficSlave, FramingKind::kMbap, kTrafficRx, text, nullptr, 0, peer, kind);
}

// The transport families engine_host can run. Add a family here.
#include <stdio.h>

#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "options.h"
#include "transport/tcp_client_transport.h"
#include "transport/tcp_server_transport.h"
#include "transport/udp_client_transport.h"
#include "transport/udp_server_transport.h"

#ifdef _WIN32
// serial_family.cpp: a COM port, only in the Windows build.
Transport* SerialTransport(const Options& options);
Framer* SerialFramer(const Options& options);
#endif

namespace {

Framer* NetFramer(const Options& options, bool stream) {
  std::string framing = options.Text("framing", "mbap");
  if (framing == "mbap") return new MbapFramer();
  if (framing == "rtu") return new RtuFramer(stream);
  fprintf(stderr, "framing %s is not available on %s\n", framing.c_str(),
          options.Text("transport").c_str());
  return nullptr;
}

uint16_t Port(const Options& options) { return static_cast<uint16_t>(options.Number("port", 502)); }

Transport* TcpClient(const Options& options) {
  LateAnswers late = options.Text("framing", "mbap") == "rtu" ? LateAnswers::Ambiguous : LateAnswers::Recognised;
  return new TcpClientTransport(options.Text("host", "127.0.0.1").c_str(), Port(options),
                                static_cast<uint32_t>(options.Number("connect-timeout-ms", 1500)), late);
}
Transport* TcpServer(const Options& options) {
  return new TcpServerTransport(options.Text("bind").c_str(), Port(options));
}
Framer* TcpFramer(const Options& options) { return NetFramer(options, true); }

Transport* UdpClient(const Options& options) {
  return new UdpClientTransport(options.Text("host", "127.0.0.1").c_str(), Port(options));
}
Transport* UdpServer(const Options& options) {
  return new UdpServerTransport(options.Text("bind").c_str(), Port(options));
}
Framer* UdpFramer(const Options& options) { return NetFramer(options, false); }

const TransportFamily kFamilies[] = {
    {"tcp", TcpClient, TcpServer, TcpFramer},
    {"udp", UdpClient, UdpServer, UdpFramer},
#ifdef _WIN32
    {"serial", SerialTransport, SerialTransport, SerialFramer},
#endif
};

}  // namespace

const TransportFamily* FindTransportFamily(const std::string& name) {
  for (const TransportFamily& family : kFamilies)
    if (name == family.name) return &family;
  fprintf(stderr, "unknown transport %s\n", name.c_str());
  return nullptr;
}

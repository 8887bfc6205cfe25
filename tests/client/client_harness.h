#pragma once
// The client framework under test without a shell or a library: a client
// plug-in table built by ClientPluginCreate with a test composition whose
// transports are scripted transports answered by a simulated device (our
// device map and request processing behind the framer of the poll's kind).
// The ViewHost stands in for the shell.

#include <stdint.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "client/client_plugin.h"
#include "modbus/pdu.h"
#include "server/device_map.h"
#include "support/scripted_transport.h"
#include "support/view_host.h"

using Frame = std::vector<uint8_t>;

// Answers each request frame the client writes, as a device with one unit
// id (MBAP: any unit). Thread-safe: the worker thread calls Answer.
class SimDevice {
 public:
  explicit SimDevice(FramingKind framerKind);
  ~SimDevice();

  DeviceMap map;
  std::atomic<bool> silent{false};         // answer nothing: the client times out
  std::atomic<uint8_t> exceptionCode{0};   // answer every request with this exception
  std::atomic<uint8_t> unitId{1};
  // Called with each request before it is answered (pass-by-pass tests only).
  std::function<void()> onRequest;

  // A new scripted transport on the toolkit heap (the worker owns it) whose
  // writes this device answers.
  ScriptedTransport* NewTransport();
  std::vector<Frame> Requests();
  size_t RequestCount();
  // The answer to one request frame; false when the device stays silent.
  bool Respond(const Frame& request, Frame* response);

 private:
  Framer* framer_;
  std::mutex mutex_;
  std::vector<Frame> requests_;
};

// Makes the device answer exception `exceptionCode`, then stay silent,
// running the client with run() after each change, and expects the RX line
// to show the exception's text and then "RX: Timeout" in the error colour.
// The device answers normally again afterwards.
void ExpectExceptionThenTimeout(SimDevice& device, ViewHost& view, uint8_t exceptionCode,
                                const char16_t* exceptionText, const std::function<void()>& run);

// One client instance of framer kind `kind` with its ViewHost, attached.
// The next Connect creates the transport that nextTransport points to (null:
// creation fails, an open failure); openResult scripts its Open.
class ClientHarness {
 public:
  explicit ClientHarness(FramingKind kind, uint32_t responseTimeoutMs = 1500);
  ~ClientHarness();

  ClientContext* context() const { return static_cast<ClientContext*>(ops.instance); }
  PollDefinition* Poll(size_t tab) const { return reinterpret_cast<PollDefinition*>(view->tabs[tab].key); }

  // Starts the worker without its thread on a transport of device, for
  // tests that drive the loop pass by pass on the fake clock.
  bool StartPasses(SimDevice* device);
  bool StartPasses(Transport* transport);
  // Runs passes until the fake clock has moved by ms (waits advance it).
  void RunFor(uint32_t ms);

  static ClientComposition Composition(FramingKind kind);

  PluginOps ops{};
  ViewHost* view = nullptr;
  static Transport* nextTransport;
  static uint32_t responseTimeout;
};

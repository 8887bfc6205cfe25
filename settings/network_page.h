#pragma once
// The network settings pages of the eight network plug-ins, one
// implementation for four variants: TCP client (target, port, connect and
// response timeout), UDP client (target, port, response timeout),
// RTU-over-IP server (bind address, port, slave id) and MBAP server (bind
// address, port, unit id, "Accept any"). Every number is read back clamped
// into its field's range.
//
// How a plug-in uses it (library velmora_settings_ui; its .rc file defines
// NETWORK_PAGE_VARIANT, for servers NETWORK_PAGE_TRANSPORT, and includes
// "settings/network_page.rc"):
//   context members     NetworkClientSettings net;
//                       NetworkSettingsPage page{net, NetworkPageVariant::TcpClient};
//                       (or MbapServerSettings mbap; NetworkSettingsPage page{mbap};)
//   createSettingsPage  return page.Create(parent);
//   applySettings       page.Apply(); return 1;
//   detach, destroy     page.Destroy();  (the destructor does it too)
//   getConnectionLine   NetworkClientConnectionLine(net, buffer, capacity), or the
//                       server summaries of settings/settings_records.h

#include <windows.h>

#include "settings/settings_page.h"
#include "settings/settings_records.h"
#include "settings/settings_resource_ids.h"

enum class NetworkPageVariant : uint8_t {
  TcpClient = NETWORK_PAGE_TCP_CLIENT,
  UdpClient = NETWORK_PAGE_UDP_CLIENT,
  RtuOverIpServer = NETWORK_PAGE_RTU_OVER_IP_SERVER,
  MbapServer = NETWORK_PAGE_MBAP_SERVER,
};

class NetworkSettingsPage {
 public:
  // variant TcpClient or UdpClient.
  NetworkSettingsPage(NetworkClientSettings& settings, NetworkPageVariant variant);
  explicit NetworkSettingsPage(RtuOverIpServerSettings& settings);
  explicit NetworkSettingsPage(MbapServerSettings& settings);

  // Destroys an existing page and creates a new one as a child of parent.
  HWND Create(HWND parent);
  // Copies the page into the record (only while the page window exists).
  void Apply() { slot_.Apply(); }
  void Destroy() { slot_.Destroy(); }
  HWND Window() const { return slot_.Window(); }

  NetworkPageVariant Variant() const { return variant_; }

 private:
  NetworkPageVariant variant_;
  void* record_;
  PageSlot slot_;
};

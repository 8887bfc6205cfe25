#pragma once
// The serial settings page of the four serial plug-ins: the machine's COM
// ports (from the registry's SERIALCOMM list), the baud rates, the data bits
// fixed by the framing, parity and stop bits kept consistent (11 bits a
// character), the handshake menu behind the "Handshake..." link, and the
// response timeout (clients) or slave id (servers).
//
// How a plug-in uses it (library velmora_settings_ui; its .rc file defines
// SERIAL_PAGE_ROLE and includes "settings/serial_page.rc"):
//   context members     SerialSettings serial{SerialFraming::Rtu};
//                       SerialSettingsPage page{serial, SerialFraming::Rtu, SerialRole::Client};
//   createSettingsPage  return page.Create(parent);
//   applySettings       page.Apply(); return 1;
//   detach, destroy     page.Destroy();  (the destructor does it too)
//   getConnectionLine   SerialConnectionLine(serial, SerialRole::Client, buffer, capacity)
//                       (settings/settings_records.h)

#include <windows.h>

#include "settings/port_list.h"
#include "settings/settings_page.h"
#include "settings/settings_records.h"

// Reads the serial port names of HKEY_LOCAL_MACHINE
// "HARDWARE\DEVICEMAP\SERIALCOMM": string values of the form COM<digits>,
// sorted by number. A key that cannot be opened gives an empty list.
void EnumerateSerialPorts(PortList& list);

class SerialSettingsPage {
 public:
  SerialSettingsPage(SerialSettings& settings, SerialFraming framing, SerialRole role)
      : settings_(settings), framing_(framing), role_(role) {}

  // Destroys an existing page, lists the ports and creates the page as a
  // child of parent. When no port is found the page shows "No serial ports
  // found on this host", disables its controls and the parent's OK button
  // and makes Cancel the parent's default button.
  HWND Create(HWND parent);
  // Copies the page into the settings (only while the page window exists).
  void Apply() { slot_.Apply(); }
  void Destroy() { slot_.Destroy(); }
  HWND Window() const { return slot_.Window(); }

 private:
  SerialSettings& settings_;
  SerialFraming framing_;
  SerialRole role_;
  PageSlot slot_;
};

#pragma once
// The texts every plug-in shows about its connection, written once: the
// caption of the error box that Connect's failures open, the failures that
// masters, slaves and the serial tools alike can meet, and the RX line with
// no frame to show (after Attach, Connect and Disconnect).

#include "common/text.h"

inline constexpr Unit kConnectionErrorCaption[] = u"Connection Error";
inline constexpr Unit kSerialOpenFailureText[] = u"Failed to open COM port. Please check if it's available.";
inline constexpr Unit kThreadFailureText[] = u"Failed to start the Modbus worker thread.";
inline constexpr Unit kIdleRxText[] = u"RX: -";

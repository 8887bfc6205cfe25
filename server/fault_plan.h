#pragma once
// The fault plan of a slave that misbehaves on purpose: which fault falls
// due on a request, and how its response frame is rewritten. Portable and
// free of I/O; server/fault_serve.h carries the faults out.
//
// Each fault has its own rate: off, or every Nth answered request (N from
// 1). The requests are counted from Connect; request n is due for a fault
// of rate N when n is a multiple of N. When several faults fall due on one
// request, the first in FaultKind's order wins.

#include <stdint.h>

#include "common/plugin_interface.h"

enum class FaultKind : uint8_t {
  kNone = 0,
  kDrop,       // no answer
  kLate,       // the answer after delayMs
  kException,  // exceptionCode instead of the normal answer; the request is not carried out
  kDamage,     // RTU: a wrong CRC; MBAP: a wrong transaction id
  kOtherUnit,  // the answer names the next unit or slave id
  kSplit,      // the answer in two parts with a gap between them
  kClose,      // TCP only: the connection is closed instead of answering
};

constexpr uint32_t kFaultKindCount = 7;  // kDrop to kClose
constexpr uint32_t kFaultMaxDelayMs = 10000;
constexpr uint16_t kFaultMaxEvery = 65535;
constexpr uint32_t kTcpSplitGapMs = 50;

// What the user chose on the "Faults" group.
struct FaultSettings {
  uint16_t every[kFaultKindCount] = {};  // by FaultKind - 1; 0 is off
  uint32_t delayMs = 1000;               // kLate, at most kFaultMaxDelayMs
  uint8_t exceptionCode = 4;             // kException: 1, 2, 3, 4 or 6
};

// The settings with every value in its range (rates above kFaultMaxEvery,
// delays above kFaultMaxDelayMs clamped; an exception code other than 1,
// 2, 3, 4 or 6 becomes 4).
FaultSettings ClampFaultSettings(const FaultSettings& settings);

// True when any fault has a rate.
bool AnyFaultOn(const FaultSettings& settings);

struct FaultPlan {
  FaultSettings settings;
  bool tcp = false;         // kClose applies only on a TCP connection
  uint32_t requests = 0;    // answered requests since Connect
};

// Counts one request that is about to be answered and returns the fault
// that falls due on it, kNone when none does.
FaultKind NextFault(FaultPlan* plan);

// Rewrites a response ADU in place for kDamage and kOtherUnit; the other
// faults leave the bytes alone. mbap selects the MBAP layout, otherwise
// RTU (slave id first, CRC last). RTU damage inverts both CRC bytes; MBAP
// damage flips the top bit of the transaction id. Another unit is the next
// id (RTU: 247 is followed by 1; MBAP: 255 by 0); an RTU frame gets a
// correct CRC for it.
void RewriteForFault(FaultKind kind, bool mbap, uint8_t* adu, uint32_t length);

// Where a split answer is cut: after half its bytes, at least one byte on
// either side.
uint32_t SplitPoint(uint32_t length);

// The RX line's name of a fault, such as u"answer dropped".
const Unit* FaultName(FaultKind kind);

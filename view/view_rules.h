#pragma once
// The portable rules behind the view helpers of every plug-in: the title
// line's copy into the shell's buffer, the tip rotation and the frames of the
// connection indicator. The Windows side (view/view_helpers.h) loads the
// tips and draws the frames; these rules run in the native tests too.
//
// How a plug-in uses it (library velmora_view):
//   getProtocolLine  return ProtocolLine(u"Modbus RTU (master)", buffer, capacity);
//   tips             through view/view_helpers.h (LoadTip, LoadNextTip)

#include <stdint.h>

#include "common/text.h"

// Copies the deliverable's title into the shell's buffer: 1 when the whole
// title fitted, else the cut title and 0. A capacity of 0 writes nothing.
int ProtocolLine(const Unit* title, Unit* buffer, uint32_t capacity);

// --- tips --------------------------------------------------------------------

// Tips are string resources kTipFirstString, kTipFirstString + 1, ...; the
// count is established on the first request and is at most kTipMaxCount.
constexpr uint32_t kTipMaxCount = 256;

struct TipRotation {
  uint32_t count = 0;  // 0 until counted (and while the module has no tips)
  uint32_t index = 0;  // the tip shown last
};

// The tip a seed selects (seed modulo count), remembered; -1 without tips.
int32_t SeedTip(TipRotation& rotation, uint32_t seed);
// The tip after the remembered one, wrapping to 0, remembered; -1 without tips.
int32_t AdvanceTip(TipRotation& rotation);

// --- connection indicator ----------------------------------------------------

// The animation runs through 20 frames, one per tick of 125 ms (2.5 s a cycle).
constexpr uint32_t kIndicatorFrameCount = 20;
constexpr uint32_t kIndicatorTickMs = 125;

uint32_t NextIndicatorFrame(uint32_t frame);
// The icon's drawn width for a frame in a window clientWidth wide: the
// frame's percentage of the width, rounded down; 0 draws nothing. Frames
// outside 0..19 read as frame 0.
int32_t IndicatorFrameWidth(uint32_t frame, int32_t clientWidth);
// Frames 3 to 12 show the icon's back: drawn mirrored.
bool IndicatorFrameMirrored(uint32_t frame);
// Where a frame of that width starts so that it is centred.
int32_t IndicatorFrameLeft(int32_t clientWidth, int32_t frameWidth);

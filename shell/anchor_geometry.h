#pragma once
// The arithmetic of the anchor layout: where a control goes when its window
// has a new client size or DPI. Positions are kept in 96-DPI units and scaled
// to the current DPI at every layout, so nothing is ever scaled twice.

#include <stdint.h>

constexpr uint32_t kAnchorSizeX = 0x01;    // right edge keeps its distance from the right
constexpr uint32_t kAnchorSizeY = 0x02;    // bottom edge keeps its distance from the bottom
constexpr uint32_t kAnchorMoveX = 0x04;    // keeps its width and its distance from the right
constexpr uint32_t kAnchorMoveY = 0x08;    // keeps its height and its distance from the bottom
constexpr uint32_t kAnchorRepaint = 0x10;  // invalidated with erase at every layout
constexpr uint32_t kAnchorCentreX = 0x20;  // keeps its width, centred horizontally
constexpr uint32_t kAnchorCentreY = 0x40;  // keeps its height, centred vertically
constexpr uint32_t kAnchorSizeGrip = 0x4000;
// The bits that make a layout move and size the control.
constexpr uint32_t kAnchorPlacing = 0x7F;

constexpr uint32_t kDesignDpi = 96;

struct AnchorRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// value * numerator / denominator rounded half away from zero, as the
// system's MulDiv; out-of-range results saturate, a zero denominator gives 0.
int32_t MulDivRound(int32_t value, int32_t numerator, int32_t denominator);

// 96-DPI units to pixels at dpi, and back. A dpi of 0 counts as 96.
int32_t ScaleFrom96(int32_t value96, uint32_t dpi);
int32_t ScaleTo96(int32_t pixels, uint32_t dpi);
AnchorRect AnchorRectTo96(const AnchorRect& pixels, uint32_t dpi);

// Where a control with these flags goes in a client area of width x height
// pixels: current is its rectangle now, initial96 its rectangle when the
// layout was made and clientWidth96/clientHeight96 the client size then,
// both in 96-DPI units.
AnchorRect AnchorPlace(uint32_t flags, const AnchorRect& current, const AnchorRect& initial96, int32_t clientWidth96,
                       int32_t clientHeight96, uint32_t dpi, int32_t width, int32_t height);

// Widths for count columns sharing room pixels (room below 0 counts as 0).
// Two columns take a half each. More columns (tables of counts) take at
// least least[i] each, their headings' room, while the room holds them all,
// the rest shared out equally; else the narrow ones keep their room and the
// widest are cut to one common width that fills the room.
void ShareColumns(int32_t room, const int32_t* least, int32_t count, int32_t* widths);

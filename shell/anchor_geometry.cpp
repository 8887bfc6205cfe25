#include "shell/anchor_geometry.h"

namespace {

uint32_t EffectiveDpi(uint32_t dpi) { return dpi ? dpi : kDesignDpi; }

// One axis: low and high are the control's edges, extent the client area's.
void PlaceAxis(bool centre, bool size, bool move, int32_t& low, int32_t& high, int32_t initialLow96,
               int32_t initialHigh96, int32_t client96, uint32_t dpi, int32_t extent) {
  if (centre) {
    int32_t length = ScaleFrom96(initialHigh96, dpi) - ScaleFrom96(initialLow96, dpi);
    low = (extent - length) / 2;
    high = low + length;
  } else if (size || move) {
    int32_t length = high - low;
    high = extent - (ScaleFrom96(client96, dpi) - ScaleFrom96(initialHigh96, dpi));
    if (move) low = high - length;
  }
}

}  // namespace

int32_t MulDivRound(int32_t value, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return 0;
  int64_t product = static_cast<int64_t>(value) * numerator;
  int64_t divisor = denominator;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  int64_t half = divisor / 2;
  int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
  if (result > INT32_MAX) return INT32_MAX;
  if (result < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(result);
}

int32_t ScaleFrom96(int32_t value96, uint32_t dpi) {
  return MulDivRound(value96, static_cast<int32_t>(EffectiveDpi(dpi)), static_cast<int32_t>(kDesignDpi));
}

int32_t ScaleTo96(int32_t pixels, uint32_t dpi) {
  return MulDivRound(pixels, static_cast<int32_t>(kDesignDpi), static_cast<int32_t>(EffectiveDpi(dpi)));
}

AnchorRect AnchorRectTo96(const AnchorRect& pixels, uint32_t dpi) {
  return AnchorRect{ScaleTo96(pixels.left, dpi), ScaleTo96(pixels.top, dpi), ScaleTo96(pixels.right, dpi),
                    ScaleTo96(pixels.bottom, dpi)};
}

AnchorRect AnchorPlace(uint32_t flags, const AnchorRect& current, const AnchorRect& initial96, int32_t clientWidth96,
                       int32_t clientHeight96, uint32_t dpi, int32_t width, int32_t height) {
  AnchorRect placed = current;
  PlaceAxis(flags & kAnchorCentreX, flags & kAnchorSizeX, flags & kAnchorMoveX, placed.left, placed.right,
            initial96.left, initial96.right, clientWidth96, dpi, width);
  PlaceAxis(flags & kAnchorCentreY, flags & kAnchorSizeY, flags & kAnchorMoveY, placed.top, placed.bottom,
            initial96.top, initial96.bottom, clientHeight96, dpi, height);
  return placed;
}

void ShareColumns(int32_t room, const int32_t* least, int32_t count, int32_t* widths) {
  if (count <= 0) return;
  if (room < 0) room = 0;
  int64_t total = 0;
  for (int32_t i = 0; count > 2 && i < count; ++i) total += least[i] > 0 ? least[i] : 0;
  if (total <= room) {
    for (int32_t i = 0; i < count; ++i) {
      const int64_t own = count > 2 && least[i] > 0 ? least[i] : 0;
      widths[i] = static_cast<int32_t>(own + (room - total) / count);
    }
    return;
  }
  // Short of room: the columns whose headings need less than an equal share
  // of what is left keep it, until none does; the rest share what is left.
  for (int32_t i = 0; i < count; ++i) widths[i] = -1;
  int64_t left = room;
  int32_t open = count;
  for (bool kept = true; kept && open > 0;) {
    kept = false;
    const int64_t share = left / open;
    for (int32_t i = 0; i < count; ++i) {
      const int64_t own = least[i] > 0 ? least[i] : 0;
      if (widths[i] >= 0 || own > share) continue;
      widths[i] = static_cast<int32_t>(own);
      left -= own;
      --open;
      kept = true;
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    if (widths[i] < 0) widths[i] = static_cast<int32_t>(left / open);
  }
}

#include "view/view_rules.h"

namespace {

// The icon narrows to an edge, turns over (mirrored), narrows again and
// turns back: percent of the window's width for each frame.
constexpr uint8_t kFrameWidthPercent[kIndicatorFrameCount] = {
    100, 69, 19, 31, 63, 81, 94, 100, 100, 100, 100, 56, 0, 38, 69, 81, 94, 100, 100, 100,
};
constexpr uint32_t kFirstMirroredFrame = 3;
constexpr uint32_t kLastMirroredFrame = 12;

}  // namespace

int ProtocolLine(const Unit* title, Unit* buffer, uint32_t capacity) { return CopyTextCut(title, buffer, capacity); }

int32_t SeedTip(TipRotation& rotation, uint32_t seed) {
  if (rotation.count == 0) return -1;
  rotation.index = seed % rotation.count;
  return static_cast<int32_t>(rotation.index);
}

int32_t AdvanceTip(TipRotation& rotation) {
  if (rotation.count == 0) return -1;
  rotation.index = (rotation.index + 1) % rotation.count;
  return static_cast<int32_t>(rotation.index);
}

uint32_t NextIndicatorFrame(uint32_t frame) { return (frame + 1) % kIndicatorFrameCount; }

int32_t IndicatorFrameWidth(uint32_t frame, int32_t clientWidth) {
  if (clientWidth <= 0) return 0;
  uint32_t percent = kFrameWidthPercent[frame < kIndicatorFrameCount ? frame : 0];
  return static_cast<int32_t>(static_cast<int64_t>(clientWidth) * percent / 100);
}

bool IndicatorFrameMirrored(uint32_t frame) { return frame >= kFirstMirroredFrame && frame <= kLastMirroredFrame; }

int32_t IndicatorFrameLeft(int32_t clientWidth, int32_t frameWidth) { return (clientWidth - frameWidth) / 2; }

#pragma once
// The anchor layout of a resizable dialog: every control listed in the
// anchor table stays anchored to the left/top or right/bottom edge of the
// client area, stretches between them or stays centred, at any size and any
// DPI. A size grip in the bottom-right corner is part of the layout.

#include <windows.h>

#include <stdint.h>

#include "shell/anchor_geometry.h"

// One entry of a window's anchor table.
struct AnchorEntry {
  int32_t controlId;
  uint32_t flags;  // kAnchor* bits
};

constexpr int32_t kSizeGripId = 0xE81E;

class AnchorLayout {
 public:
  AnchorLayout() = default;
  ~AnchorLayout();
  AnchorLayout(const AnchorLayout&) = delete;
  AnchorLayout& operator=(const AnchorLayout&) = delete;

  // Records where the table's controls are now; entries for controls that do
  // not exist are skipped. withMinSize keeps the current window size (the
  // client size for a child window) as the smallest the window may become.
  int Init(HWND window, const AnchorEntry* table, int32_t count, bool withSizeGrip, bool withMinSize);

  // Places every control for a client area of width x height pixels, with
  // redrawing suspended and one repaint of the whole window at the end.
  void Layout(int32_t width, int32_t height);

  // The minimum window size scaled to the current DPI; false when none.
  bool MinSize(SIZE& size) const;

  // Reactions to the window's messages.
  void OnSize(WPARAM kind, LPARAM clientSize);
  void OnGetMinMaxInfo(MINMAXINFO* info) const;
  void OnDpiChanged(WPARAM dpis);

  // The right edge of a control at the layout's design size, in 96-DPI
  // units: where the dialog placed it, until set otherwise. A new right edge
  // takes effect at the next Layout. False when the control is not in it.
  bool Right96(int32_t controlId, int32_t& right96) const;
  bool SetRight96(int32_t controlId, int32_t right96);

  uint32_t Dpi() const { return dpi_; }
  int32_t ItemCount() const { return count_; }

 private:
  struct Item {
    int32_t controlId;
    uint32_t flags;
    AnchorRect initial96;  // client coordinates in 96-DPI units
  };

  void AddItem(int32_t controlId, uint32_t flags, HWND control);
  void ShowSizeGrip(bool show);
  void ReleaseItems();

  HWND window_ = nullptr;
  uint32_t dpi_ = kDesignDpi;
  int32_t clientWidth96_ = 0;
  int32_t clientHeight96_ = 0;
  bool hasMinSize_ = false;
  int32_t minWidth96_ = 0;
  int32_t minHeight96_ = 0;
  bool hasSizeGrip_ = false;
  Item* items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
  HICON emptyIcon_ = nullptr;
};

// The anchor layout on a real resizable dialog: resizing, DPI changes,
// minimize, restore and maximize, as the window manager delivers them.
#include "shell/anchor_layout.h"

#include <gtest/gtest.h>

#include <map>

#include "common/ui_pump.h"
#include "common/window_binding.h"

namespace {

constexpr int kMoveX = 401;
constexpr int kSizeX = 402;
constexpr int kSizeXY = 403;
constexpr int kMoveY = 404;
constexpr int kMoveXY = 405;
constexpr int kCentre = 406;
constexpr int kFixed = 407;
constexpr int kRepaint = 408;
constexpr int kMissing = 499;

const AnchorEntry kTable[] = {
    {kMoveX, kAnchorMoveX},
    {kSizeX, kAnchorSizeX},
    {kMissing, kAnchorMoveX},
    {kSizeXY, kAnchorSizeX | kAnchorSizeY},
    {kMoveY, kAnchorMoveY},
    {kMoveXY, kAnchorMoveX | kAnchorMoveY},
    {kCentre, kAnchorCentreX | kAnchorCentreY},
    {kRepaint, kAnchorRepaint},
};
const int kControls[] = {kMoveX, kSizeX, kSizeXY, kMoveY, kMoveXY, kCentre, kFixed, kRepaint, kSizeGripId};

// A resizable window as the shell's main window uses the layout.
class AnchoredDialog : public ui::Dialog {
 public:
  AnchorLayout layout;
  bool childMode = false;

 protected:
  void Dispatch(ui::Message& message) override {
    static constexpr ui::MessageEntry<AnchoredDialog> kMap[] = {
        ui::On(WM_INITDIALOG, &AnchoredDialog::OnInit),
        ui::On(WM_SIZE, &AnchoredDialog::OnSize),
        ui::On(WM_GETMINMAXINFO, &AnchoredDialog::OnMinMax),
        ui::On(WM_DPICHANGED, &AnchoredDialog::OnDpi),
    };
    ui::DispatchMessageMap(*this, kMap, message);
  }

 private:
  static void OnInit(AnchoredDialog& self, ui::Message& message) {
    self.layout.Init(message.window, kTable, static_cast<int32_t>(sizeof(kTable) / sizeof(kTable[0])),
                     !self.childMode, true);
    message.result = FALSE;
    message.handled = true;
  }
  static void OnSize(AnchoredDialog& self, ui::Message& message) {
    self.layout.OnSize(message.wParam, message.lParam);
    message.handled = true;
  }
  static void OnMinMax(AnchoredDialog& self, ui::Message& message) {
    self.layout.OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(message.lParam));
    message.handled = true;
  }
  static void OnDpi(AnchoredDialog& self, ui::Message& message) {
    self.layout.OnDpiChanged(message.wParam);
    message.handled = true;
  }
};

RECT ChildRect(HWND window, int id) {
  RECT rect{};
  GetWindowRect(GetDlgItem(window, id), &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

SIZE ClientSize(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return SIZE{rect.right, rect.bottom};
}

SIZE WindowSize(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

std::map<int, RECT> AllRects(HWND window) {
  std::map<int, RECT> rects;
  for (int id : kControls) rects[id] = ChildRect(window, id);
  return rects;
}

bool Same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void Resize(HWND window, int width, int height) {
  SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  uitest::PumpFor(10);
}

// One shown dialog serves the suite (destroying an active window under Wine
// without a window manager takes seconds); every test starts from its
// initial size at 96 DPI.
class AnchorLayoutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dialog_ = new AnchoredDialog;
    window_ = dialog_->Create(uitest::Self(), 300, nullptr);
    if (!window_) return;
    initialWindow_ = WindowSize(window_);
    initialClient_ = ClientSize(window_);
    ShowWindow(window_, SW_SHOW);
    uitest::PumpUntil([] { return IsWindowVisible(window_) != FALSE; }, 3000);
    initialRects_ = AllRects(window_);
  }
  static void TearDownTestSuite() {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    delete dialog_;
    dialog_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    if (IsZoomed(window_) || IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
    SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(96, 96), 0);
    Resize(window_, initialWindow_.cx, initialWindow_.cy);
    ASSERT_EQ(ClientSize(window_).cx, initialClient_.cx);
    ASSERT_EQ(ClientSize(window_).cy, initialClient_.cy);
  }

  static AnchoredDialog* dialog_;
  static HWND window_;
  static SIZE initialWindow_;
  static SIZE initialClient_;
  static std::map<int, RECT> initialRects_;
};

AnchoredDialog* AnchorLayoutTest::dialog_ = nullptr;
HWND AnchorLayoutTest::window_ = nullptr;
SIZE AnchorLayoutTest::initialWindow_{};
SIZE AnchorLayoutTest::initialClient_{};
std::map<int, RECT> AnchorLayoutTest::initialRects_;

TEST_F(AnchorLayoutTest, MissingControlIsSkippedAndTheGripIsAnItem) {
  // Seven table entries name existing controls; the grip is the eighth item.
  EXPECT_EQ(dialog_->layout.ItemCount(), 8);
  HWND grip = GetDlgItem(window_, kSizeGripId);
  ASSERT_NE(grip, nullptr);
  EXPECT_TRUE(IsWindowVisible(grip));
  RECT rect = ChildRect(window_, kSizeGripId);
  EXPECT_EQ(rect.right, initialClient_.cx);
  EXPECT_EQ(rect.bottom, initialClient_.cy);
  EXPECT_TRUE(GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  EXPECT_NE(SendMessageW(window_, WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(AnchorLayoutTest, GrowingBy100PixelsMovesAndWidensBy100) {
  Resize(window_, initialWindow_.cx + 100, initialWindow_.cy + 40);
  ASSERT_EQ(ClientSize(window_).cx, initialClient_.cx + 100);
  std::map<int, RECT> now = AllRects(window_);
  const std::map<int, RECT>& was = initialRects_;
  auto shifted = [](RECT r, int dx, int dy, int dw, int dh) {
    return RECT{r.left + dx, r.top + dy, r.right + dx + dw, r.bottom + dy + dh};
  };
  EXPECT_TRUE(Same(now[kMoveX], shifted(was.at(kMoveX), 100, 0, 0, 0)));
  EXPECT_TRUE(Same(now[kSizeX], shifted(was.at(kSizeX), 0, 0, 100, 0)));
  EXPECT_TRUE(Same(now[kSizeXY], shifted(was.at(kSizeXY), 0, 0, 100, 40)));
  EXPECT_TRUE(Same(now[kMoveY], shifted(was.at(kMoveY), 0, 40, 0, 0)));
  EXPECT_TRUE(Same(now[kMoveXY], shifted(was.at(kMoveXY), 100, 40, 0, 0)));
  // The centred control keeps its size in the middle of the client area.
  const RECT centre = was.at(kCentre);
  const int centreWidth = centre.right - centre.left;
  const int centreHeight = centre.bottom - centre.top;
  EXPECT_TRUE(Same(now[kCentre], RECT{(initialClient_.cx + 100 - centreWidth) / 2,
                                      (initialClient_.cy + 40 - centreHeight) / 2,
                                      (initialClient_.cx + 100 - centreWidth) / 2 + centreWidth,
                                      (initialClient_.cy + 40 - centreHeight) / 2 + centreHeight}));
  EXPECT_TRUE(Same(now[kFixed], was.at(kFixed)));
  EXPECT_TRUE(Same(now[kRepaint], was.at(kRepaint)));
  EXPECT_TRUE(Same(now[kSizeGripId], shifted(was.at(kSizeGripId), 100, 40, 0, 0)));
  // Redrawing was resumed after the layout.
  EXPECT_TRUE(IsWindowVisible(window_));

  Resize(window_, initialWindow_.cx, initialWindow_.cy);
  std::map<int, RECT> back = AllRects(window_);
  for (int id : kControls) {
    if (id != kCentre) {
      EXPECT_TRUE(Same(back[id], was.at(id))) << id;
    }
  }
  EXPECT_EQ(back[kCentre].left, (initialClient_.cx - centreWidth) / 2);
}

TEST_F(AnchorLayoutTest, DpiChangeScalesMarginsAndMinimumSize) {
  const RECT was = initialRects_.at(kMoveX);
  const int margin96 = initialClient_.cx - was.right;
  const int bottomMargin96 = initialClient_.cy - initialRects_.at(kMoveXY).bottom;
  RECT suggested{0, 0, initialWindow_.cx * 3 / 2, initialWindow_.cy * 3 / 2};
  SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(dialog_->layout.Dpi(), 144u);
  // The margin is the difference of the scaled client width and the scaled
  // right edge, each rounded, so it is within one pixel of 1.5 times.
  SIZE client = ClientSize(window_);
  EXPECT_NEAR(client.cx - ChildRect(window_, kMoveX).right, margin96 * 1.5, 1.0);
  EXPECT_NEAR(client.cy - ChildRect(window_, kMoveXY).bottom, bottomMargin96 * 1.5, 1.0);

  // The window's minimum tracking size is the initial size scaled by 1.5.
  MINMAXINFO info{};
  SendMessageW(window_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, MulDivRound(initialWindow_.cx, 144, 96));
  EXPECT_EQ(info.ptMinTrackSize.y, MulDivRound(initialWindow_.cy, 144, 96));
  // The window manager holds the window to it.
  Resize(window_, 50, 50);
  SIZE size = WindowSize(window_);
  EXPECT_EQ(size.cx, info.ptMinTrackSize.x);
  EXPECT_EQ(size.cy, info.ptMinTrackSize.y);
  client = ClientSize(window_);
  EXPECT_NEAR(client.cx - ChildRect(window_, kMoveX).right, margin96 * 1.5, 1.0);

  // A DPI of 0 counts as 96.
  SendMessageW(window_, WM_DPICHANGED, 0, reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(dialog_->layout.Dpi(), 96u);
}

TEST_F(AnchorLayoutTest, MinimizeAndRestoreLeaveEveryControlInPlace) {
  Resize(window_, initialWindow_.cx + 30, initialWindow_.cy + 30);
  std::map<int, RECT> before = AllRects(window_);
  ShowWindow(window_, SW_MINIMIZE);
  uitest::PumpUntil([] { return IsIconic(window_) != FALSE; }, 3000);
  ASSERT_TRUE(IsIconic(window_));
  ShowWindow(window_, SW_RESTORE);
  uitest::PumpUntil([] { return !IsIconic(window_); }, 3000);
  uitest::PumpFor(20);
  std::map<int, RECT> after = AllRects(window_);
  for (int id : kControls) EXPECT_TRUE(Same(after[id], before[id])) << id;
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(window_, kSizeGripId)));
}

TEST_F(AnchorLayoutTest, MaximizeHidesTheSizeGrip) {
  HWND grip = GetDlgItem(window_, kSizeGripId);
  // Checked before pumping: without a window manager Wine takes the X
  // window's unchanged state back on the next pump and restores the window.
  ShowWindow(window_, SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(window_));
  EXPECT_FALSE(IsWindowVisible(grip));
  SIZE client = ClientSize(window_);
  EXPECT_EQ(ChildRect(window_, kMoveX).right, client.cx - (initialClient_.cx - initialRects_.at(kMoveX).right));
  ShowWindow(window_, SW_RESTORE);
  EXPECT_FALSE(IsZoomed(window_));
  EXPECT_TRUE(IsWindowVisible(grip));
}

TEST_F(AnchorLayoutTest, InitAgainKeepsOneSizeGrip) {
  ASSERT_EQ(dialog_->layout.Init(window_, kTable, static_cast<int32_t>(sizeof(kTable) / sizeof(kTable[0])), true,
                                 true),
            1);
  EXPECT_EQ(dialog_->layout.ItemCount(), 8);
  int grips = 0;
  for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == kSizeGripId) ++grips;
  }
  EXPECT_EQ(grips, 1);
}

TEST_F(AnchorLayoutTest, ChildWindowLayoutIsBoundedByItsMinimumSize) {
  AnchoredDialog child;
  child.childMode = true;
  HWND window = child.Create(uitest::Self(), 301, window_);
  ASSERT_NE(window, nullptr);
  SIZE initial = ClientSize(window);
  RECT moveX = ChildRect(window, kMoveX);
  // Smaller than the minimum: laid out as at the minimum.
  child.layout.Layout(initial.cx - 40, initial.cy - 40);
  EXPECT_TRUE(Same(ChildRect(window, kMoveX), moveX));
  child.layout.Layout(initial.cx + 40, initial.cy);
  EXPECT_EQ(ChildRect(window, kMoveX).left, moveX.left + 40);
  EXPECT_EQ(GetDlgItem(window, kSizeGripId), nullptr);
  DestroyWindow(window);
}

}  // namespace

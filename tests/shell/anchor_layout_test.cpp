// The anchor layout on a real resizable dialog: resizing, DPI changes,
// minimize, restore and maximize, as the window manager delivers them.
#include "shell/anchor_layout.h"

#include <gtest/gtest.h>

#include <map>

#include "common/ui_pump.h"
#include "common/ui/window_binding.h"

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
// initial size at the display's DPI (96 unless the prefix sets LogPixels).
class AnchorLayoutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dialog_ = new AnchoredDialog;
    window_ = dialog_->Create(uitest::Self(), 300, nullptr);
    if (!window_) return;
    baseDpi_ = GetDpiForWindow(window_);
    if (!baseDpi_) baseDpi_ = 96;
    ShowWindow(window_, SW_SHOW);
    uitest::PumpUntil([] { return IsWindowVisible(window_) != FALSE; }, 3000);
    uitest::PumpFor(20);
    initialWindow_ = WindowSize(window_);
    initialClient_ = ClientSize(window_);
    initialRects_ = AllRects(window_);
  }
  static void TearDownTestSuite() { uitest::CloseSuiteDialog(&window_, &dialog_); }
  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    if (IsZoomed(window_) || IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
    SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(baseDpi_, baseDpi_), 0);
    Resize(window_, initialWindow_.cx, initialWindow_.cy);
    // Away from 96 DPI the minimum size, kept in 96-DPI units, may round to
    // a pixel more than the initial size; tests measure from where they start.
    startWindow_ = WindowSize(window_);
    startClient_ = ClientSize(window_);
    startRects_ = AllRects(window_);
    if (baseDpi_ == 96) {
      ASSERT_EQ(startClient_.cx, initialClient_.cx);
      ASSERT_EQ(startClient_.cy, initialClient_.cy);
    }
  }

  SIZE startWindow_{};
  SIZE startClient_{};
  std::map<int, RECT> startRects_;

  static AnchoredDialog* dialog_;
  static HWND window_;
  static uint32_t baseDpi_;
  static SIZE initialWindow_;
  static SIZE initialClient_;
  static std::map<int, RECT> initialRects_;
};

AnchoredDialog* AnchorLayoutTest::dialog_ = nullptr;
HWND AnchorLayoutTest::window_ = nullptr;
uint32_t AnchorLayoutTest::baseDpi_ = 96;
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
  EXPECT_EQ(rect.right, startClient_.cx);
  EXPECT_EQ(rect.bottom, startClient_.cy);
  EXPECT_TRUE(GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  EXPECT_NE(SendMessageW(window_, WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(AnchorLayoutTest, GrowingBy100PixelsMovesAndWidensBy100) {
  Resize(window_, startWindow_.cx + 100, startWindow_.cy + 40);
  ASSERT_EQ(ClientSize(window_).cx, startClient_.cx + 100);
  std::map<int, RECT> now = AllRects(window_);
  const std::map<int, RECT>& was = startRects_;
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
  EXPECT_TRUE(Same(now[kCentre], RECT{(startClient_.cx + 100 - centreWidth) / 2,
                                      (startClient_.cy + 40 - centreHeight) / 2,
                                      (startClient_.cx + 100 - centreWidth) / 2 + centreWidth,
                                      (startClient_.cy + 40 - centreHeight) / 2 + centreHeight}));
  EXPECT_TRUE(Same(now[kFixed], was.at(kFixed)));
  EXPECT_TRUE(Same(now[kRepaint], was.at(kRepaint)));
  EXPECT_TRUE(Same(now[kSizeGripId], shifted(was.at(kSizeGripId), 100, 40, 0, 0)));
  // Redrawing was resumed after the layout.
  EXPECT_TRUE(IsWindowVisible(window_));

  Resize(window_, startWindow_.cx, startWindow_.cy);
  std::map<int, RECT> back = AllRects(window_);
  for (int id : kControls) {
    if (id != kCentre) {
      EXPECT_TRUE(Same(back[id], was.at(id))) << id;
    }
  }
  EXPECT_EQ(back[kCentre].left, (startClient_.cx - centreWidth) / 2);
}

TEST_F(AnchorLayoutTest, DpiChangeScalesMarginsAndMinimumSize) {
  // A move to a monitor at 1.5 times the window's DPI (144 from 96).
  const uint32_t base = baseDpi_;
  const uint32_t raised = base * 3 / 2;
  const RECT moveX = startRects_.at(kMoveX);
  const RECT moveXY = startRects_.at(kMoveXY);
  const int margin = startClient_.cx - moveX.right;
  const int bottomMargin = startClient_.cy - moveXY.bottom;
  // Margins are the scaled client size less the scaled edge, each rounded
  // from 96-DPI units, so they are 1.5 times the old ones up to rounding:
  // within a pixel at 96 DPI, where the 96-DPI units are exact.
  const double tolerance = 1.0 + (base == 96 ? 0.0 : raised / 96.0);
  auto rescaled = [&](int pixels) { return ScaleFrom96(ScaleTo96(pixels, base), raised); };

  RECT suggested{0, 0, startWindow_.cx * 3 / 2, startWindow_.cy * 3 / 2};
  SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(raised, raised), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(dialog_->layout.Dpi(), raised);
  SIZE client = ClientSize(window_);
  int rightMargin = client.cx - ChildRect(window_, kMoveX).right;
  if (base == 96) {
    EXPECT_EQ(rightMargin, rescaled(startClient_.cx) - rescaled(moveX.right));
  }
  EXPECT_NEAR(rightMargin, margin * 1.5, tolerance);
  EXPECT_NEAR(client.cy - ChildRect(window_, kMoveXY).bottom, bottomMargin * 1.5, tolerance);

  // The window's minimum tracking size is the initial size scaled by 1.5.
  MINMAXINFO info{};
  SendMessageW(window_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, rescaled(initialWindow_.cx));
  EXPECT_EQ(info.ptMinTrackSize.y, rescaled(initialWindow_.cy));
  EXPECT_NEAR(info.ptMinTrackSize.x, initialWindow_.cx * 1.5, tolerance / 2);
  EXPECT_NEAR(info.ptMinTrackSize.y, initialWindow_.cy * 1.5, tolerance / 2);
  // The window manager holds the window to it.
  Resize(window_, 50, 50);
  SIZE size = WindowSize(window_);
  EXPECT_EQ(size.cx, info.ptMinTrackSize.x);
  EXPECT_EQ(size.cy, info.ptMinTrackSize.y);
  client = ClientSize(window_);
  EXPECT_NEAR(client.cx - ChildRect(window_, kMoveX).right, margin * 1.5, tolerance);

  // A DPI of 0 counts as 96.
  SendMessageW(window_, WM_DPICHANGED, 0, reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(dialog_->layout.Dpi(), 96u);
}

TEST_F(AnchorLayoutTest, MinimizeAndRestoreLeaveEveryControlInPlace) {
  Resize(window_, startWindow_.cx + 30, startWindow_.cy + 30);
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
  EXPECT_EQ(ChildRect(window_, kMoveX).right, client.cx - (startClient_.cx - startRects_.at(kMoveX).right));
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

TEST_F(AnchorLayoutTest, InitForAnotherWindowDiscardsTheGripOfTheFirst) {
  AnchoredDialog first;
  first.childMode = true;
  AnchoredDialog second;
  second.childMode = true;
  HWND one = first.Create(uitest::Self(), 301, window_);
  HWND two = second.Create(uitest::Self(), 301, window_);
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  AnchorLayout layout;
  ASSERT_EQ(layout.Init(one, kTable, static_cast<int32_t>(sizeof(kTable) / sizeof(kTable[0])), true, false), 1);
  ASSERT_NE(GetDlgItem(one, kSizeGripId), nullptr);
  ASSERT_EQ(layout.Init(two, kTable, static_cast<int32_t>(sizeof(kTable) / sizeof(kTable[0])), true, false), 1);
  EXPECT_EQ(GetDlgItem(one, kSizeGripId), nullptr);
  EXPECT_NE(GetDlgItem(two, kSizeGripId), nullptr);
  EXPECT_EQ(layout.ItemCount(), 3);
  DestroyWindow(one);
  DestroyWindow(two);
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

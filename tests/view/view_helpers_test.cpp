// The view helpers on real windows and resources: tips from this program's
// string table and from a resource module named in the module record, the
// connection indicator's frames read back with PrintWindow, and the page
// colours.
#include "view/view_helpers.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "common/app_context.h"
#include "common/ui_pump.h"

namespace {

const COLORREF kBackground = RGB(0, 160, 0);
const COLORREF kLeftHalf = RGB(255, 0, 0);
const COLORREF kRightHalf = RGB(0, 0, 255);

std::u16string Tip(int result, const Unit* buffer) { return result ? std::u16string(buffer) : u"<none>"; }

TEST(Tips, RotateThroughThisModulesStrings) {
  TipRotation tips;
  Unit buffer[512];
  EXPECT_EQ(Tip(LoadTip(tips, 17, buffer, 512), buffer),
            u"Tip: double-click writable values to edit them directly in the table.");
  EXPECT_EQ(tips.count, 8u);
  EXPECT_EQ(Tip(LoadNextTip(tips, buffer, 512), buffer),
            u"Tip: TX and RX show the exact frames exchanged with the device.");
  for (int i = 0; i < 4; ++i) LoadNextTip(tips, buffer, 512);  // tips 3 to 6
  EXPECT_EQ(Tip(LoadNextTip(tips, buffer, 512), buffer), u"Tip: click this tip to show another one.");  // tip 7
  EXPECT_EQ(Tip(LoadNextTip(tips, buffer, 512), buffer), u"Tip: each tab can hold a different request.");
  EXPECT_EQ(LoadTip(tips, 0, buffer, 0), 0);
  EXPECT_EQ(LoadNextTip(tips, nullptr, 512), 0);
  EXPECT_EQ(Tip(LoadTip(tips, 3, buffer, 10), buffer), u"Tip: righ");  // a short buffer gets the cut text
}

TEST(Tips, ComeFromTheModuleOfTheModuleRecord) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dll(path, length);
  dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + L"server_tips_module.dll";
  HMODULE module = LoadLibraryW(dll.c_str());
  ASSERT_NE(module, nullptr);
  AppContext* context = AppContextCreate(module);
  EXPECT_EQ(PluginResourceModule(), module);
  TipRotation tips;
  Unit buffer[512];
  EXPECT_EQ(Tip(LoadTip(tips, 17, buffer, 512), buffer), u"Tip: double-click values to edit simulated device data.");
  EXPECT_EQ(Tip(LoadTip(tips, 14, buffer, 512), buffer), u"Tip: use short aliases to make large maps easier to scan.");
  AppContextRelease(context);
  EXPECT_EQ(PluginResourceModule(), GetModuleHandleW(nullptr));
  FreeLibrary(module);
}

// A top-level window that paints its static children on a green brush, with
// one icon window showing a 32x32 icon, red on the left and blue on the right.
class IndicatorTest : public ::testing::Test {
 protected:
  static LRESULT CALLBACK HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CTLCOLORSTATIC) return reinterpret_cast<LRESULT>(brush_);
    return DefWindowProcW(window, message, wParam, lParam);
  }

  static void SetUpTestSuite() {
    brush_ = CreateSolidBrush(kBackground);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostProcedure;
    windowClass.hInstance = uitest::Self();
    windowClass.lpszClassName = L"IndicatorHost";
    RegisterClassW(&windowClass);
    host_ = CreateWindowW(L"IndicatorHost", L"Indicator", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 120, nullptr,
                          nullptr, uitest::Self(), nullptr);
    icon_ = MakeIcon();
  }
  static void TearDownTestSuite() {
    DestroyWindow(host_);
    DestroyIcon(icon_);
    DeleteObject(brush_);
  }

  static HICON MakeIcon() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 32;
    info.bmiHeader.biHeight = 32;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* pixels = static_cast<uint32_t*>(bits);
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) pixels[y * 32 + x] = x < 16 ? 0xFFFF0000u : 0xFF0000FFu;  // ARGB
    }
    HBITMAP mask = CreateBitmap(32, 32, 1, 1, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, mask);
    PatBlt(dc, 0, 0, 32, 32, BLACKNESS);  // opaque everywhere
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO iconInfo = {TRUE, 0, 0, mask, colour};
    HICON icon = CreateIconIndirect(&iconInfo);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon;
  }

  static HWND NewIconWindow() {
    HWND window = CreateWindowW(L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON | SS_REALSIZECONTROL, 10, 10, 32,
                                32, host_, nullptr, uitest::Self(), nullptr);
    SendMessageW(window, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
    return window;
  }

  // Dispatches one message at a time until the indicator shows frame, so
  // that no tick passes unseen.
  static bool WaitForFrame(const ConnectionIndicator& indicator, uint32_t frame) {
    DWORD start = GetTickCount();
    while (indicator.Frame() != frame) {
      if (GetTickCount() - start > 10000) return false;
      MSG msg;
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&msg);
      } else {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      }
    }
    return true;
  }

  struct Pixels {
    COLORREF left, centre, right;
  };
  // What PrintWindow shows of the window's client area along its middle row.
  static Pixels Print(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    HDC screen = GetDC(window);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PrintWindow(window, dc, PW_CLIENTONLY);
    int y = client.bottom / 2;
    Pixels pixels{GetPixel(dc, 2, y), GetPixel(dc, client.right / 2, y), GetPixel(dc, client.right - 3, y)};
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(window, screen);
    return pixels;
  }

  static HWND host_;
  static HBRUSH brush_;
  static HICON icon_;
};

HWND IndicatorTest::host_ = nullptr;
HBRUSH IndicatorTest::brush_ = nullptr;
HICON IndicatorTest::icon_ = nullptr;

TEST_F(IndicatorTest, FramesNarrowTurnOverAndVanish) {
  HWND window = NewIconWindow();
  ConnectionIndicator indicator;
  indicator.Show(window, true);
  ASSERT_TRUE(indicator.Subclassed());
  ASSERT_TRUE(indicator.Animating());

  struct Expected {
    uint32_t frame;
    COLORREF left, right;
  };
  const Expected frames[] = {
      {0, kLeftHalf, kRightHalf},     // full width, face up
      {7, kRightHalf, kLeftHalf},     // full width, mirrored
      {12, kBackground, kBackground}, // width 0: only the background
      {18, kLeftHalf, kRightHalf},    // turned back
  };
  for (const Expected& e : frames) {
    ASSERT_TRUE(WaitForFrame(indicator, e.frame)) << e.frame;
    Pixels pixels = Print(window);
    EXPECT_EQ(pixels.left, e.left) << "frame " << e.frame;
    EXPECT_EQ(pixels.right, e.right) << "frame " << e.frame;
    if (e.frame == 12) {
      EXPECT_EQ(pixels.centre, kBackground);
    }
  }

  // A second report neither subclasses again nor leaves a second timer.
  indicator.Show(window, true);
  EXPECT_EQ(indicator.Frame(), 0u);
  EXPECT_TRUE(indicator.Animating());
  indicator.Show(nullptr, false);
  EXPECT_FALSE(indicator.Subclassed());
  EXPECT_FALSE(indicator.Animating());
  // Nothing left to remove: the one subclass is gone.
  EXPECT_FALSE(RemoveWindowSubclass(window, ui::SubclassProcedure,
                                    reinterpret_cast<UINT_PTR>(static_cast<ui::Subclass*>(&indicator))));
  uitest::PumpFor(300);
  EXPECT_EQ(indicator.Frame(), 0u);  // stopped: no more ticks
  DestroyWindow(window);
}

TEST_F(IndicatorTest, StoppingWhenIdleAndLosingTheWindowAreHarmless) {
  ConnectionIndicator idle;
  idle.Show(nullptr, false);
  idle.Stop();
  idle.Show(nullptr, true);  // no window: nothing starts
  EXPECT_FALSE(idle.Subclassed());
  EXPECT_FALSE(idle.Animating());

  HWND window = NewIconWindow();
  ConnectionIndicator indicator;
  indicator.Show(window, true);
  ASSERT_TRUE(indicator.Subclassed());
  DestroyWindow(window);  // the shell's window goes while connected
  EXPECT_FALSE(indicator.Subclassed());
  EXPECT_FALSE(indicator.Animating());
  EXPECT_EQ(indicator.Window(), nullptr);
  indicator.Show(nullptr, false);

  // A later connection binds the new window.
  HWND again = NewIconWindow();
  indicator.Show(again, true);
  EXPECT_EQ(indicator.Window(), again);
  DestroyWindow(again);
}

TEST(PageColours, AnswerTheColourMessagesWithTheWindowColour) {
  PageColours colours;
  HDC dc = CreateCompatibleDC(nullptr);
  ui::Message message{nullptr, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0, 0, false};
  EXPECT_FALSE(colours.Answer(message));  // no brush before Create
  colours.Create();
  EXPECT_EQ(colours.Colour(), GetSysColor(COLOR_WINDOW));
  for (UINT kind : {WM_CTLCOLORSTATIC, WM_CTLCOLORBTN, WM_CTLCOLORDLG}) {
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(1, 2, 3));
    message = ui::Message{nullptr, kind, reinterpret_cast<WPARAM>(dc), 0, 0, false};
    EXPECT_TRUE(colours.Answer(message));
    EXPECT_TRUE(message.handled);
    EXPECT_EQ(message.result, reinterpret_cast<int64_t>(colours.Brush()));
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_WINDOW));
  }
  message = ui::Message{nullptr, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), 0, 0, false};
  EXPECT_FALSE(colours.Answer(message));  // edits keep their own colours
  colours.Release();
  EXPECT_EQ(colours.Brush(), nullptr);
  DeleteDC(dc);
}

}  // namespace

// Binding of records to real dialogs, controls and timers under the window
// manager, with the templates of ui_test.rc.
#include "common/ui/window_binding.h"

#include <gtest/gtest.h>

#include "support/probe_process.h"

#include <string>
#include <vector>

#include "common/ui_pump.h"

namespace {

constexpr UINT kOuter = WM_APP + 1;
constexpr UINT kInner = WM_APP + 2;
constexpr UINT kAnswer = WM_APP + 3;
constexpr UINT kDestroySelf = WM_APP + 4;
constexpr UINT kEnd = WM_APP + 5;

class ProbeDialog : public ui::Dialog {
 public:
  std::vector<std::string> log;
  ui::Message* seenInInner = nullptr;
  UINT innerSawMessage = 0;
  bool outerRestored = false;
  HWND windowAfterDestroy = nullptr;
  bool destroyedInsideHandler = false;
  HBRUSH brush = nullptr;

 protected:
  void Dispatch(ui::Message& message) override {
    static constexpr ui::MessageEntry<ProbeDialog> kMap[] = {
        ui::On(WM_INITDIALOG, &ProbeDialog::OnInit),
        ui::On(kOuter, &ProbeDialog::OnOuter),
        ui::On(kInner, &ProbeDialog::OnInner),
        ui::On(kAnswer, &ProbeDialog::OnAnswer),
        ui::On(kDestroySelf, &ProbeDialog::OnDestroySelf),
        ui::On(kEnd, &ProbeDialog::OnEnd),
        ui::OnCommand(1002, BN_CLICKED, &ProbeDialog::OnGoLooksOnly),
        ui::OnCommand(1002, BN_CLICKED, &ProbeDialog::OnGoTakes),
        ui::OnCommand(1002, BN_CLICKED, &ProbeDialog::OnGoNeverReached),
        ui::OnCommand(1003, BN_CLICKED, &ProbeDialog::OnOther),
        ui::OnControl(WM_CTLCOLOREDIT, 1001, &ProbeDialog::OnEditColour),
        ui::On(WM_NCDESTROY, &ProbeDialog::OnNcDestroy),
    };
    ui::DispatchMessageMap(*this, kMap, message);
  }

 private:
  static void OnInit(ProbeDialog& self, ui::Message& message) {
    self.log.push_back("init");
    message.result = TRUE;
    message.handled = true;
  }
  static void OnOuter(ProbeDialog& self, ui::Message& message) {
    SendMessageW(message.window, kInner, 0, 0);
    self.outerRestored = self.CurrentMessage() == &message && message.message == kOuter;
    message.handled = true;
  }
  static void OnInner(ProbeDialog& self, ui::Message& message) {
    self.seenInInner = self.CurrentMessage();
    self.innerSawMessage = self.CurrentMessage()->message;
    message.handled = true;
  }
  static void OnAnswer(ProbeDialog&, ui::Message& message) {
    message.result = 0x12345678;
    message.handled = true;
  }
  static void OnDestroySelf(ProbeDialog& self, ui::Message& message) {
    DestroyWindow(message.window);
    self.windowAfterDestroy = self.Window();
    self.destroyedInsideHandler = self.Destroyed();
    message.handled = true;
  }
  static void OnEnd(ProbeDialog&, ui::Message& message) {
    EndDialog(message.window, 42);
    message.handled = true;
  }
  static void OnGoLooksOnly(ProbeDialog& self, ui::Message&) { self.log.push_back("go-look"); }
  static void OnGoTakes(ProbeDialog& self, ui::Message& message) {
    self.log.push_back("go-take");
    message.handled = true;
  }
  static void OnGoNeverReached(ProbeDialog& self, ui::Message&) { self.log.push_back("go-never"); }
  static void OnOther(ProbeDialog& self, ui::Message& message) {
    self.log.push_back("other");
    message.handled = true;
  }
  static void OnEditColour(ProbeDialog& self, ui::Message& message) {
    message.result = reinterpret_cast<INT_PTR>(self.brush);
    message.handled = true;
  }
  static void OnNcDestroy(ProbeDialog& self, ui::Message&) { self.log.push_back("ncdestroy"); }
};

TEST(DialogBinding, BindsAtInitialisationAndUnbindsWhenDestroyed) {
  ProbeDialog dialog;
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(dialog.Window(), window);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&dialog));
  EXPECT_EQ(dialog.Create(uitest::Self(), 100, nullptr), nullptr);  // already bound
  EXPECT_EQ(dialog.CurrentMessage(), nullptr);

  DestroyWindow(window);
  EXPECT_EQ(dialog.Window(), nullptr);
  EXPECT_FALSE(dialog.Destroyed());
  EXPECT_EQ(dialog.log, (std::vector<std::string>{"init", "ncdestroy"}));

  // The record outlives its window and binds again.
  HWND again = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(dialog.Window(), again);
  DestroyWindow(again);
}

TEST(DialogBinding, NestedMessageRestoresTheOuterRecord) {
  ProbeDialog dialog;
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  SendMessageW(window, kOuter, 0, 0);
  EXPECT_EQ(dialog.innerSawMessage, kInner);
  EXPECT_NE(dialog.seenInInner, nullptr);
  EXPECT_TRUE(dialog.outerRestored);
  EXPECT_EQ(dialog.CurrentMessage(), nullptr);
  DestroyWindow(window);
}

TEST(DialogBinding, FirstHandlerThatTakesTheMessageEndsTheDispatch) {
  ProbeDialog dialog;
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  dialog.log.clear();
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, 1002)));
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, 1003)));
  // Another notification code of the same control matches none of them.
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(1003, BN_SETFOCUS), reinterpret_cast<LPARAM>(GetDlgItem(window, 1003)));
  EXPECT_EQ(dialog.log, (std::vector<std::string>{"go-look", "go-take", "other"}));
  DestroyWindow(window);
}

TEST(DialogBinding, ResultsReachTheSenderByTheDialogRules) {
  ProbeDialog dialog;
  dialog.brush = CreateSolidBrush(RGB(1, 2, 3));
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  // An ordinary message answers through the dialog's message result.
  EXPECT_EQ(SendMessageW(window, kAnswer, 0, 0), 0x12345678);
  // A colour message answers with the handler's result itself.
  HWND edit = GetDlgItem(window, 1001);
  HDC dc = GetDC(edit);
  EXPECT_EQ(SendMessageW(window, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit)),
            reinterpret_cast<LRESULT>(dialog.brush));
  ReleaseDC(edit, dc);
  DestroyWindow(window);
  DeleteObject(dialog.brush);
}

TEST(DialogBinding, DestroyedInsideAHandlerClearsTheHandleWhenTheOutermostReturns) {
  ProbeDialog dialog;
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  SendMessageW(window, kDestroySelf, 0, 0);
  EXPECT_EQ(dialog.windowAfterDestroy, window);
  EXPECT_TRUE(dialog.destroyedInsideHandler);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(dialog.Window(), nullptr);
  EXPECT_FALSE(dialog.Destroyed());
  EXPECT_EQ(dialog.CurrentMessage(), nullptr);
}

TEST(DialogBinding, ModalDialogReturnsItsEndResult) {
  // The dialog ends itself from a message it posts at initialisation.
  class Ender : public ui::Dialog {
   protected:
    void Dispatch(ui::Message& message) override {
      if (message.message == WM_INITDIALOG) {
        PostMessageW(message.window, kEnd, 0, 0);
      } else if (message.message == kEnd) {
        EndDialog(message.window, 42);
        message.handled = true;
      }
    }
  } ender;
  EXPECT_EQ(ender.RunModal(uitest::Self(), 100, nullptr), 42);
  EXPECT_EQ(ender.Window(), nullptr);
  EXPECT_EQ(ender.RunModal(uitest::Self(), 999, nullptr), -1);  // no such template
}

// --- subclassed controls ----------------------------------------------------

class CountingSubclass : public ui::Subclass {
 public:
  int messages = 0;
  int taken = 0;

 protected:
  void Dispatch(ui::Message& message) override {
    ++messages;
    if (message.message == kAnswer) {
      message.result = 99;
      message.handled = true;
      ++taken;
    }
  }
};

TEST(SubclassBinding, RoutesMessagesThroughTheRecordUntilUnbound) {
  ProbeDialog dialog;
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  HWND button = GetDlgItem(window, 1002);

  CountingSubclass control;
  EXPECT_EQ(control.Bind(nullptr), 0);
  EXPECT_EQ(control.Bind(reinterpret_cast<HWND>(static_cast<intptr_t>(0x7FFFFFF0))), 0);
  ASSERT_EQ(control.Bind(button), 1);
  EXPECT_EQ(control.Bind(button), 0);  // already bound
  EXPECT_TRUE(control.Subclassed());
  EXPECT_EQ(SendMessageW(button, kAnswer, 0, 0), 99);
  // Messages the record does not take reach the button itself.
  SetWindowTextW(button, L"Renamed");
  wchar_t text[32] = {};
  GetWindowTextW(button, text, 32);
  EXPECT_EQ(std::wstring(text), L"Renamed");
  EXPECT_GE(control.messages, 3);

  ASSERT_EQ(control.Unbind(), 1);
  EXPECT_EQ(control.Window(), nullptr);
  EXPECT_EQ(control.Unbind(), 0);
  int before = control.messages;
  EXPECT_EQ(SendMessageW(button, kAnswer, 0, 0), 0);
  EXPECT_EQ(control.messages, before);
  DestroyWindow(window);
}

TEST(SubclassBinding, ControlDestroyedByItsParentLeavesTheRecordUnbound) {
  ProbeDialog dialog;
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  {
    CountingSubclass control;
    ASSERT_EQ(control.Bind(GetDlgItem(window, 1001)), 1);
    DestroyWindow(window);
    EXPECT_EQ(control.Window(), nullptr);
    EXPECT_FALSE(control.Subclassed());
    // Leaving the scope releases the record: nothing left to remove.
  }
  // A record bound to a fresh control after its first one died works as new.
  ProbeDialog second;
  HWND other = second.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(other, nullptr);
  CountingSubclass control;
  ASSERT_EQ(control.Bind(GetDlgItem(other, 1001)), 1);
  EXPECT_EQ(SendMessageW(GetDlgItem(other, 1001), kAnswer, 0, 0), 99);
  DestroyWindow(other);
  EXPECT_FALSE(control.Subclassed());
}

TEST(SubclassBinding, ReleasingABoundRecordRemovesTheSubclass) {
  ProbeDialog dialog;
  HWND window = dialog.Create(uitest::Self(), 100, nullptr);
  ASSERT_NE(window, nullptr);
  HWND edit = GetDlgItem(window, 1001);
  {
    CountingSubclass control;
    ASSERT_EQ(control.Bind(edit), 1);
  }
  // The edit still works on its own, and its destruction touches no record.
  SetWindowTextW(edit, L"alone");
  EXPECT_EQ(SendMessageW(edit, kAnswer, 0, 0), 0);
  DestroyWindow(window);
}

// The fatal path ends the process, so a probe program takes it and the test
// reads the exit code.
DWORD RunProbe(const wchar_t* argument) { return RunBesideAndWait(L"subclass_probe.exe", argument); }

TEST(SubclassBinding, FailedRemovalAtReleaseEndsTheProcess) {
  EXPECT_EQ(RunProbe(L"release-normally"), 0u);
  EXPECT_EQ(RunProbe(L"release-after-foreign-removal"), 0xC0000005u);
}

// --- timers -----------------------------------------------------------------

class TickCounter : public ui::TimerTarget {
 public:
  int ticks = 0;
  ui::BoundTimer* last = nullptr;
  void OnTimer(ui::BoundTimer& timer) override {
    ++ticks;
    last = &timer;
  }
};

struct TimerWindow {
  ProbeDialog dialog;
  HWND window = nullptr;
  TimerWindow() { window = dialog.Create(uitest::Self(), 100, nullptr); }
  ~TimerWindow() {
    if (window) DestroyWindow(window);
  }
};

TEST(BoundTimer, TicksReachTheTargetWithTheRecord) {
  TimerWindow host;
  ASSERT_NE(host.window, nullptr);
  TickCounter counter;
  ui::BoundTimer timer;
  ASSERT_EQ(timer.Start(host.window, 10, &counter), 1);
  EXPECT_EQ(timer.Identifier(), reinterpret_cast<UINT_PTR>(&timer));
  ASSERT_TRUE(uitest::PumpUntil([&] { return counter.ticks >= 2; }, 5000));
  EXPECT_EQ(counter.last, &timer);
  timer.Stop();
  EXPECT_FALSE(timer.Running());
}

TEST(BoundTimer, StartNeedsWindowPeriodAndTarget) {
  TimerWindow host;
  ASSERT_NE(host.window, nullptr);
  TickCounter counter;
  ui::BoundTimer timer;
  EXPECT_EQ(timer.Start(nullptr, 10, &counter), 0);
  EXPECT_EQ(timer.Start(host.window, 0, &counter), 0);
  EXPECT_EQ(timer.Start(host.window, 10, nullptr), 0);
  EXPECT_FALSE(timer.Running());
  // A failing start also stops a running timer.
  ASSERT_EQ(timer.Start(host.window, 10, &counter), 1);
  EXPECT_EQ(timer.Start(host.window, 0, &counter), 0);
  EXPECT_FALSE(KillTimer(host.window, reinterpret_cast<UINT_PTR>(&timer)));
}

TEST(BoundTimer, RestartedTimerKeepsASingleSystemTimer) {
  TimerWindow host;
  ASSERT_NE(host.window, nullptr);
  TickCounter counter;
  ui::BoundTimer timer;
  ASSERT_EQ(timer.Start(host.window, 5000, &counter), 1);
  ASSERT_EQ(timer.Start(host.window, 10, &counter), 1);
  ASSERT_TRUE(uitest::PumpUntil([&] { return counter.ticks >= 1; }, 5000));
  // Killing the one system timer with the record's identifier silences it:
  // no other system timer was left behind by the first start.
  ASSERT_TRUE(KillTimer(host.window, timer.Identifier()));
  uitest::PumpFor(100);
  int settled = counter.ticks;
  uitest::PumpFor(150);
  EXPECT_EQ(counter.ticks, settled);
  timer.Stop();
}

TEST(BoundTimer, StoppedTimerNeverFires) {
  TimerWindow host;
  ASSERT_NE(host.window, nullptr);
  TickCounter counter;
  ui::BoundTimer timer;
  ASSERT_EQ(timer.Start(host.window, 10, &counter), 1);
  UINT_PTR id = timer.Identifier();
  timer.Stop();
  uitest::PumpFor(150);
  EXPECT_EQ(counter.ticks, 0);
  // A tick already on its way when the timer stopped is ignored.
  ui::TimerProcedure(host.window, WM_TIMER, id, 0);
  EXPECT_EQ(counter.ticks, 0);
}

TEST(BoundTimer, TickForAReleasedRecordIsIgnored) {
  TimerWindow host;
  ASSERT_NE(host.window, nullptr);
  TickCounter counter;
  UINT_PTR id = 0;
  {
    ui::BoundTimer timer;
    ASSERT_EQ(timer.Start(host.window, 10, &counter), 1);
    id = timer.Identifier();
  }
  // Release stopped the system timer as well.
  EXPECT_FALSE(KillTimer(host.window, id));
  ui::TimerProcedure(host.window, WM_TIMER, id, 0);
  uitest::PumpFor(100);
  EXPECT_EQ(counter.ticks, 0);
}

}  // namespace

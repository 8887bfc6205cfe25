// The connection setup dialog and the information view of velmora.exe, with
// script plug-ins whose settings pages differ in height, driven by posted
// input as a user's keys and clicks are.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "common/app_context.h"
#include "shell/documents.h"
#include "shell/resources/resource_ids.h"
#include "support/velmora_session.h"

namespace {

using uiauto::ExeFolder;
using uiauto::Scratch;
using uiauto::Shell;

constexpr int kPageEdit = 1001;
constexpr int kPageCheck = 1002;

// The settings page inside the dialog: the parent of the page's edit.
HWND PageOf(HWND dialog) {
  struct Search {
    HWND found;
  } search{nullptr};
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM parameter) -> BOOL {
        if (GetDlgCtrlID(child) != kPageEdit) return TRUE;
        reinterpret_cast<Search*>(parameter)->found = GetParent(child);
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

RECT InDialog(HWND dialog, HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT WindowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

int ClientHeight(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return rect.bottom;
}

HWND Focused(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

int DefaultId(HWND dialog) { return LOWORD(uiauto::SendInt(dialog, DM_GETDEFID)); }

size_t Count(const std::string& text, const std::string& line) {
  size_t count = 0;
  for (size_t at = ("\n" + text).find("\n" + line + "\n"); at != std::string::npos;
       at = ("\n" + text).find("\n" + line + "\n", at + 1)) {
    ++count;
  }
  return count;
}

// Where the page puts the dialog's parts: the distances from the page's
// bottom edge to the buttons, the band and the client bottom stay the same
// whatever the page's height.
struct Layout {
  int okGap, cancelGap, bandGap, clientGap;
  bool operator==(const Layout& other) const {
    return okGap == other.okGap && cancelGap == other.cancelGap && bandGap == other.bandGap &&
           clientGap == other.clientGap;
  }
};
Layout LayoutAround(HWND dialog, HWND page) {
  const RECT pageRect = InDialog(dialog, page);
  return {InDialog(dialog, GetDlgItem(dialog, IDOK)).top - pageRect.bottom,
          InDialog(dialog, GetDlgItem(dialog, IDCANCEL)).top - pageRect.bottom,
          InDialog(dialog, GetDlgItem(dialog, IDC_WHITE_BAND)).bottom - pageRect.bottom,
          ClientHeight(dialog) - pageRect.bottom};
}

// A tall page, a short one and none; a refused library so that the
// diagnostics box comes at every opening. Resizing, centring once, the Tab
// ring, OK for another plug-in than the active one, Escape and the close
// box, the preselection on reopening and the screenshot.
TEST(SetupDialog, PagesOfDifferentHeights) {
  Scratch scratch({L"script_a", L"script_b", L"script_88", L"v10"});
  scratch.Script(L"script_a", "page 200 120\n");
  scratch.Script(L"script_b", "page 200 30\n");
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));
  int boxes = 0;
  uiauto::BoxText box;
  HWND dialog = uiauto::OpenSetup(shell.app, shell.main, &box, &boxes);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(box.caption, L"Plugin diagnostics");
  EXPECT_NE(box.text.find(L"v10.dll: incompatible plugin ABI"), std::wstring::npos) << box.text.c_str();
  shell.Settle();

  HWND list = GetDlgItem(dialog, IDC_PLUGIN_LIST);
  ASSERT_EQ(uiauto::ChoiceCount(list), 3);
  EXPECT_EQ(uiauto::ChoiceText(list, 0), L"Script script_a");
  EXPECT_EQ(uiauto::ChoiceText(list, 1), L"Script script_b");
  EXPECT_EQ(uiauto::ChoiceText(list, 2), L"Script script_88");
  EXPECT_EQ(uiauto::ChoiceSelected(list), 0);
  EXPECT_TRUE(uiauto::Enabled(GetDlgItem(dialog, IDOK)));
  EXPECT_EQ(DefaultId(dialog), IDOK);

  // The tall page sits at the marker, a child dialog of the setup dialog.
  HWND tall = PageOf(dialog);
  ASSERT_NE(tall, nullptr);
  EXPECT_EQ(GetParent(tall), dialog);
  const LONG_PTR style = GetWindowLongPtrW(tall, GWL_STYLE);
  EXPECT_TRUE((style & WS_CHILD) && (style & DS_CONTROL));
  const RECT marker = InDialog(dialog, GetDlgItem(dialog, IDC_PAGE_MARKER));
  const RECT tallRect = InDialog(dialog, tall);
  EXPECT_EQ(tallRect.left, marker.left);
  EXPECT_EQ(tallRect.top, marker.top);
  const Layout tallLayout = LayoutAround(dialog, tall);
  EXPECT_GT(tallLayout.okGap, 0);

  // Centred over the main window, held inside the work area.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const RECT owner = WindowRect(shell.main);
  const RECT first = WindowRect(dialog);
  const int width = first.right - first.left, height = first.bottom - first.top;
  int left = owner.left + (owner.right - owner.left - width) / 2;
  int top = owner.top + (owner.bottom - owner.top - height) / 2;
  left = std::max(std::min(left, static_cast<int>(work.right) - width), static_cast<int>(work.left));
  top = std::max(std::min(top, static_cast<int>(work.bottom) - height), static_cast<int>(work.top));
  EXPECT_NEAR(first.left, left, 1);
  EXPECT_NEAR(first.top, top, 1);

  // Tab goes from the list through the page's controls to the buttons and
  // back to the list.
  ASSERT_TRUE(uiauto::WaitFor([&] { return Focused(dialog) == list; }));
  for (int expected : {kPageEdit, kPageCheck, IDOK, IDCANCEL, IDC_PLUGIN_LIST}) {
    uiauto::Key(Focused(dialog), VK_TAB);
    EXPECT_TRUE(uiauto::WaitFor([&] { return GetDlgCtrlID(Focused(dialog)) == expected; }, 5000)) << expected;
  }

  // The short page shrinks the dialog where it stands; the tall one grows
  // it back.
  uiauto::PickChoice(list, 1);
  shell.Settle();
  EXPECT_FALSE(IsWindow(tall)) << "the previous page is destroyed";
  HWND shortPage = PageOf(dialog);
  ASSERT_NE(shortPage, nullptr);
  const RECT shrunk = WindowRect(dialog);
  EXPECT_EQ(shrunk.left, first.left);
  EXPECT_EQ(shrunk.top, first.top);
  // The dialog shrinks by the difference of the pages' heights.
  EXPECT_EQ((first.bottom - first.top) - (shrunk.bottom - shrunk.top),
            (tallRect.bottom - tallRect.top) - ClientHeight(shortPage));
  EXPECT_TRUE(LayoutAround(dialog, shortPage) == tallLayout);
  EXPECT_TRUE(uiauto::Enabled(GetDlgItem(dialog, IDOK)));
  uiauto::PickChoice(list, 0);
  shell.Settle();
  const RECT again = WindowRect(dialog);
  EXPECT_EQ(again.left, first.left);
  EXPECT_EQ(again.top, first.top);
  EXPECT_EQ(again.bottom, first.bottom);

  // The picture a person would look at: the dialog with the tall page.
  Sleep(300);
  uiauto::Picture picture = uiauto::Capture(dialog);
  EXPECT_TRUE(uiauto::SavePng(picture, uiauto::ArtefactPath(L"setup_dialog.png")));
  EXPECT_GT(picture.DistinctColours(), 3) << "the dialog looks blank";

  // A plug-in without a page keeps the size and OK.
  uiauto::PickChoice(list, 2);
  shell.Settle();
  EXPECT_EQ(PageOf(dialog), nullptr);
  EXPECT_TRUE(scratch.LogHas(L"script_88", "createSettingsPage"));
  const RECT kept = WindowRect(dialog);
  EXPECT_EQ(kept.bottom - kept.top, first.bottom - first.top);
  EXPECT_TRUE(uiauto::Enabled(GetDlgItem(dialog, IDOK)));
  EXPECT_EQ(DefaultId(dialog), IDOK);

  ASSERT_TRUE(uiauto::AnswerSetup(dialog, "1"));
  ASSERT_TRUE(scratch.WaitLog(L"script_b", "attach size=40 version=11"));
  EXPECT_NE(scratch.Log(L"script_b").find("createSettingsPage\napplySettings\nattach"), std::string::npos);
  shell.Settle();
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"View script_b");

  // Reopened: the box again, the active plug-in preselected. OK on another
  // plug-in applies that one's settings and activates it.
  dialog = uiauto::OpenSetup(shell.app, shell.main, &box, &boxes);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(boxes, 2);
  list = GetDlgItem(dialog, IDC_PLUGIN_LIST);
  EXPECT_EQ(uiauto::ChoiceSelected(list), 1);
  EXPECT_NE(PageOf(dialog), nullptr);
  ASSERT_TRUE(uiauto::AnswerSetup(dialog, "0"));
  ASSERT_TRUE(scratch.WaitLog(L"script_a", "attach size=40 version=11"));
  EXPECT_EQ(Count(scratch.Log(L"script_a"), "applySettings"), 1u);
  EXPECT_TRUE(scratch.WaitLog(L"script_b", "detach"));

  // Escape and the close box cancel: nothing is applied.
  dialog = uiauto::OpenSetup(shell.app, shell.main, &box, &boxes);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(uiauto::ChoiceSelected(GetDlgItem(dialog, IDC_PLUGIN_LIST)), 0);
  uiauto::Key(GetDlgItem(dialog, IDC_PLUGIN_LIST), VK_ESCAPE);
  EXPECT_TRUE(uiauto::WaitFor([&] { return !IsWindow(dialog); }));
  dialog = uiauto::OpenSetup(shell.app, shell.main, &box, &boxes);
  ASSERT_NE(dialog, nullptr);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(uiauto::WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();
  EXPECT_EQ(boxes, 4) << "the diagnostics box comes at every opening";
  EXPECT_EQ(Count(scratch.Log(L"script_a"), "applySettings"), 1u);
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"View script_a");
  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
}

// No plug-in: the report says so, OK is disabled, Cancel is the default and
// Enter cancels.
TEST(SetupDialog, EmptyListEnterCancels) {
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));
  // The report comes over the dialog on screen, with the main window
  // already disabled.
  uiauto::Click(shell.Item(IDC_SETUP_BUTTON));
  HWND dialog = shell.app.MainWindow(L"Connection Setup");
  ASSERT_NE(dialog, nullptr);
  shell.Settle();
  HWND report = uiauto::FindDialog(shell.app, L"Plugin diagnostics");
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(GetWindow(report, GW_OWNER), dialog);
  EXPECT_FALSE(uiauto::Enabled(shell.main));
  ASSERT_TRUE(uiauto::WaitFor([&] { return uiauto::Visible(report); }));
  EXPECT_EQ(uiauto::Text(GetDlgItem(report, 0xFFFF)), L"No plugins were found in the plugins directory.");
  PostMessageW(report, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_TRUE(uiauto::WaitFor([&] { return !IsWindow(report); }));
  HWND list = GetDlgItem(dialog, IDC_PLUGIN_LIST);
  EXPECT_EQ(uiauto::ChoiceCount(list), 0);
  EXPECT_FALSE(uiauto::Enabled(GetDlgItem(dialog, IDOK)));
  EXPECT_EQ(DefaultId(dialog), IDCANCEL);
  uiauto::Key(list, VK_RETURN);
  EXPECT_TRUE(uiauto::WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();
  EXPECT_EQ(shell.app.FindTopLevel(L"", shell.main), nullptr) << "no error box";
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"About");
  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
}

// The system refuses the dialog's window: the shell's error box, and the
// state is unchanged; once the refusal ends the dialog opens, held inside
// the work area with a page taller than the screen.
TEST(SetupDialog, NotCreated) {
  Scratch scratch({L"script_a"});
  scratch.Script(L"script_a", "refuse\n");
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));
  uiauto::Click(shell.Item(IDC_SETUP_BUTTON));
  uiauto::BoxText box;
  ASSERT_TRUE(uiauto::DismissMessageBox(shell.app, shell.main, &box));
  EXPECT_EQ(box.caption, L"Velmora");
  EXPECT_EQ(box.text, L"The connection setup dialog could not be created.");
  shell.Settle();
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"About");
  EXPECT_FALSE(scratch.LogHas(L"script_a", "createSettingsPage"));
  // A page taller than the screen: the dialog's top edge stays in the work
  // area, the bottom runs off it.
  scratch.Script(L"script_a", "page 200 900\n");
  HWND dialog = uiauto::OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const RECT placed = WindowRect(dialog);
  EXPECT_GT(placed.bottom - placed.top, work.bottom - work.top);
  EXPECT_EQ(placed.top, work.top);
  EXPECT_GE(placed.left, work.left);
  ASSERT_TRUE(uiauto::AnswerSetup(dialog, "cancel"));
  EXPECT_TRUE(scratch.LogHas(L"script_a", "createSettingsPage"));
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"About");
  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
}

std::wstring WholeText(HWND edit) {
  const int length = uiauto::SendInt(edit, WM_GETTEXTLENGTH);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL, 5000, &copied);
  text.resize(copied);
  return text;
}

std::wstring Embedded(uint16_t id) {
  HMODULE program = LoadLibraryExW((ExeFolder() + L"..\\dist\\velmora.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  TextBuffer text;
  LoadDocument(program, id, &text);
  if (program) FreeLibrary(program);
  return reinterpret_cast<const wchar_t*>(text.Text());
}

COLORREF Pixel(const uiauto::Picture& picture, HWND origin, POINT screen) {
  const RECT rect = WindowRect(origin);
  const uint32_t bgra = picture.pixels[static_cast<size_t>(screen.y - rect.top) * picture.width + (screen.x - rect.left)];
  return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
}

// The documents in the main window: the Readme and License texts whole,
// each shown from its top on every tab switch, on the tab body's colour.
TEST(InformationView, DocumentsFromTheTopOnEveryTab) {
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));
  shell.Settle();
  HWND box = shell.Item(IDC_DOCUMENT);
  HWND tabs = shell.Item(IDC_TABS);
  const std::wstring readme = Embedded(IDR_README), license = Embedded(IDR_LICENSE);
  ASSERT_EQ(readme.rfind(L"Velmora Tools 0.7.1\r\n", 0), 0u);
  ASSERT_EQ(license.rfind(L"MIT License\r\n", 0), 0u);
  EXPECT_EQ(WholeText(box), readme);
  EXPECT_EQ(static_cast<unsigned>(uiauto::SendInt(box, EM_GETLIMITTEXT)), 0x7FFFFFFEu);

  for (int round = 0; round < 2; ++round) {
    for (int tab : {1, 0}) {
      PostMessageW(box, WM_VSCROLL, SB_BOTTOM, 0);
      shell.Settle();
      EXPECT_GT(uiauto::SendInt(box, EM_GETFIRSTVISIBLELINE), 0) << "scrolled before tab " << tab;
      uiauto::SelectTab(tabs, tab);
      EXPECT_TRUE(uiauto::WaitFor([&] { return uiauto::TabSelected(tabs) == tab; }));
      shell.Settle();
      EXPECT_EQ(WholeText(box), tab == 1 ? license : readme);
      EXPECT_EQ(uiauto::SendInt(box, EM_GETFIRSTVISIBLELINE), 0) << "tab " << tab;
    }
  }

  // The box's own background (its top-left corner, left of the text) is the
  // tab body's colour beside it.
  Sleep(300);
  uiauto::Picture picture = uiauto::Capture(shell.main);
  POINT inside{0, 0};
  ClientToScreen(box, &inside);
  const RECT boxRect = WindowRect(box);
  POINT beside{boxRect.left - 3, boxRect.top + 10};
  EXPECT_EQ(Pixel(picture, shell.main, inside), Pixel(picture, shell.main, beside));
  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
}

}  // namespace

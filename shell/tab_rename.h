#pragma once
// The main view's tab strip: it paints around the controls lying on its page
// so they do not flicker, and a right click on a tab opens an editor over
// the tab's title. Renaming is the shell's own matter; the plug-in hears
// only of the selection.

#include <windows.h>

#include <stdint.h>

#include "common/ui/window_binding.h"

constexpr int32_t kTabTitleLimit = 31;
constexpr int32_t kTabTitleCapacity = 64;  // the title is read with room for 63 units
constexpr int32_t kTabPageControlMax = 16;

class TabStrip;

// The edit over a tab under rename: takes every key, commits on Enter and on
// focus loss, cancels on Escape.
class TabRenameEdit : public ui::Subclass {
 public:
  explicit TabRenameEdit(TabStrip& strip) : strip_(strip) {}

 protected:
  void Dispatch(ui::Message& message) override;

 private:
  static void OnGetDialogCode(TabRenameEdit& edit, ui::Message& message);
  static void OnKeyDown(TabRenameEdit& edit, ui::Message& message);
  static void OnChar(TabRenameEdit& edit, ui::Message& message);
  static void OnFocusLost(TabRenameEdit& edit, ui::Message& message);

  TabStrip& strip_;
};

class TabStrip : public ui::Subclass {
 public:
  TabStrip() : edit_(*this) {}

  // Subclasses the tab control; pageControls are the controls on its page
  // (the dialog's control identifiers), left out of its painting while
  // visible. The selection made by a right click is reported to the
  // control's parent as the control itself reports a selection.
  int Attach(HWND tabs, const int32_t* pageControls, int32_t count);

  // Opens the editor over tab index (closing one already open by a commit).
  int OpenEditor(int32_t index);
  // Selects tab index as the user's click does: commits an open editor and
  // tells the owner before (TCN_SELCHANGING) and after (TCN_SELCHANGE).
  void Select(int32_t index);
  // Selects the next tab (step 1) or the previous one (-1), wrapping round.
  void SelectNext(int32_t step);
  // Enter or focus loss: a non-empty text becomes the tab's title.
  void Commit();
  // Escape: the title stays.
  void Cancel();
  // The tab under rename, -1 when none.
  int32_t RenamingIndex() const { return index_; }
  HWND Editor() const { return edit_.Window(); }

 protected:
  void Dispatch(ui::Message& message) override;

 private:
  static void OnPaint(TabStrip& strip, ui::Message& message);
  static void OnMouseDown(TabStrip& strip, ui::Message& message);
  static void OnRightButtonUp(TabStrip& strip, ui::Message& message);
  static void OnKeyDown(TabStrip& strip, ui::Message& message);

  void Close(bool commit);
  // The index of the tab the editor was opened on, followed by its key
  // when tabs before it went away; -1 when it is gone.
  int32_t EditedTab() const;

  TabRenameEdit edit_;
  int32_t pageControls_[kTabPageControlMax] = {};
  int32_t pageControlCount_ = 0;
  int32_t index_ = -1;
  LPARAM key_ = 0;
  bool closing_ = false;
};

#pragma once
// Whether the static and button texts under a window fit their controls, as
// a user would see them: each text measured with the control's font (one
// line, or word-wrapped where the style says so), in the part of the
// control its parent shows. A check box or radio button also needs its box
// and the gap after it, a push button and a group box a margin at each end.
// Controls that cut on purpose (ellipsis styles) and hidden ones (their own
// visible style) are left out; the result counts the texts measured, so a
// check that found nothing to measure can say so. Works on another
// process's windows when fontFor supplies a font of this process for theirs.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace textfit {

struct Overflow {
  std::wstring text;
  int needed;     // pixels of width (or height for wrapped text)
  int available;
};

struct Result {
  std::vector<Overflow> found;
  int measured = 0;
};

// "" when every text fits and at least one was measured.
inline std::string Describe(const Result& result) {
  std::string out = result.measured ? "" : "no text measured";
  for (const Overflow& o : result.found) {
    out += " \"";
    for (wchar_t c : o.text) out += c < 0x80 ? static_cast<char>(c) : '?';
    out += "\" needs " + std::to_string(o.needed) + " px, has " + std::to_string(o.available) + ";";
  }
  return out;
}

// fontFor(control) returns an HFONT of this process to measure with, or
// null to leave the control out.
template <typename FontFor>
Result Clipped(HWND root, FontFor fontFor, UINT dpi) {
  struct Walk {
    FontFor* fontFor;
    UINT dpi;
    Result result;
  } walk{&fontFor, dpi, {}};
  EnumChildWindows(
      root,
      [](HWND control, LPARAM raw) -> BOOL {
        Walk& w = *reinterpret_cast<Walk*>(raw);
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        if (!(style & WS_VISIBLE)) return TRUE;
        wchar_t cls[32] = {};
        GetClassNameW(control, cls, 32);
        const bool isStatic = lstrcmpiW(cls, L"Static") == 0;
        const bool isButton = lstrcmpiW(cls, L"Button") == 0;
        if (!isStatic && !isButton) return TRUE;
        int margin = 0;
        bool wrap = false;
        if (isStatic) {
          const LONG type = style & SS_TYPEMASK;
          if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_LEFTNOWORDWRAP &&
              type != SS_SIMPLE)
            return TRUE;
          if (style & SS_ELLIPSISMASK) return TRUE;
          wrap = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
        } else {
          const LONG type = style & BS_TYPEMASK;
          const int scale = static_cast<int>(w.dpi);
          if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_3STATE ||
              type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON) {
            margin = MulDiv(13 + 4, scale, 96);  // the box and the gap after it
          } else if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_GROUPBOX) {
            margin = MulDiv(2 * 4, scale, 96);  // the frame and some air at both ends
          } else {
            return TRUE;
          }
          wrap = (style & BS_MULTILINE) != 0;
        }
        wchar_t text[512] = {};
        if (GetWindowTextW(control, text, 512) == 0) return TRUE;
        HFONT font = (*w.fontFor)(control);
        if (!font) return TRUE;
        // The part of the control its parent shows.
        RECT rect{}, parent{};
        GetWindowRect(control, &rect);
        HWND owner = GetParent(control);
        GetClientRect(owner, &parent);
        MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&parent), 2);
        const int width = std::min(rect.right, parent.right) - std::max(rect.left, parent.left) - margin;
        const int height = std::min(rect.bottom, parent.bottom) - std::max(rect.top, parent.top);
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        const UINT prefix = (isStatic && (style & SS_NOPREFIX)) ? DT_NOPREFIX : 0;
        RECT need{0, 0, std::max(width, 1), 0};
        DrawTextW(dc, text, -1, &need, DT_CALCRECT | prefix | (wrap ? DT_WORDBREAK : DT_SINGLELINE));
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        ++w.result.measured;
        if (need.right > width) {
          w.result.found.push_back({text, need.right + margin, width + margin});
        } else if (isStatic && wrap && need.bottom > height) {
          w.result.found.push_back({text, need.bottom, height});
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&walk));
  return walk.result;
}

// A font of this process like a dialog template's, at dpi.
inline HFONT TemplateFont(const wchar_t* face, int points, UINT dpi) {
  return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

}  // namespace textfit

#pragma once
// Modal error message boxes of the shell: error icon, OK button, owned by a
// window of the shell. Tests replace the box with a hook that records what
// would have been shown.

#include "common/text.h"

struct HWND__;

// Shows text under caption and returns when the user has closed the box.
void ShowErrorBox(HWND__* owner, const Unit* text, const Unit* caption);

// Receives every box instead of the screen while installed: the owner, the
// text, the caption and the MessageBoxW style flags.
using ErrorBoxHook = void (*)(HWND__* owner, const Unit* text, const Unit* caption, unsigned style);
// Null restores real boxes. Returns the previous hook.
ErrorBoxHook SetErrorBoxHook(ErrorBoxHook hook);

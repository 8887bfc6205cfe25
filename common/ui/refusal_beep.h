#pragma once
// The sound of a refused keystroke. Fields that drop a typed character call
// RefusalBeep; tests replace the sound with a counter through the hook.

namespace ui {

using BeepHook = void (*)();

// The exclamation beep, or the installed hook.
void RefusalBeep();

// Replaces the sound; null restores it. Returns the previous hook.
BeepHook SetRefusalBeepHook(BeepHook hook);

}  // namespace ui

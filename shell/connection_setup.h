#pragma once
// The connection setup dialog's place in the main window: runs the dialog
// modally over owner for the registry's plug-ins with the active one
// preselected.

#include <stdint.h>

#include "shell/plugin_registry.h"

struct HWND__;

constexpr int32_t kSetupNotCreated = -1;
constexpr int32_t kSetupCancelled = -2;

// The confirmed plug-in's index, kSetupNotCreated when the dialog could not
// be created, kSetupCancelled when the user cancelled.
int32_t RunConnectionSetup(HWND__* owner, PluginRegistry& registry, int32_t activeIndex);

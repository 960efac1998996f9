// Reads the settings from the main window's controls into the settings globals.
// Window thread only; a missing control skips its setting.
#pragma once

#include <windows.h>

// The selected item of the language list, if it is a supported code.
void ReadLanguageSelection();
// Host, port and chunk length, validated (see core/settings.h for the rules).
void ReadServerSettings();

// Steps of the process entry: exit codes, the safe loading of the common
// controls, the install folder lookup and the message boxes.
#pragma once

#include <cstdint>

#include <windows.h>

#include "update/update_result.h"

// Exit codes of the stops before the run; after a run the code is the
// UpdateResult itself.
const int32_t EXIT_E_NOT_INSTALLED = -1;
const int32_t EXIT_E_ENGINE_RUNNING = -2;
const int32_t EXIT_E_DECLINED = -3;
const int32_t EXIT_E_NO_DIALOG = -4;
// Another updater holds its mutex. Nothing reads this code; it only keeps
// the silent end distinguishable from every other outcome.
const int32_t EXIT_E_ALREADY_RUNNING = -5;

// Restricts every later DLL load to the system folder where the system can
// (SetDefaultDllDirectories), loads comctl32 from the system folder and
// registers the progress bar class through it. No import of comctl32.
void loadCommonControlsSafely();

// Fills folder (260 bytes) from HKLM\Software\<maker>\<title>, value
// "InstalledFolder" of type REG_SZ. 1 when read; 0 for a missing key or
// value, another type, a value of more than 260 bytes, or one that leaves
// no NUL-terminated, non-empty string in the buffer.
int readInstallFolder(char* folder, const char* makerKey, const char* titleKey);

// One message box with no owner, titled kWindowCaption, OK only.
void showInfo(const char* text);      // information icon
void showWarning(const char* text);   // warning icon

// The box for a run's outcome; none for a cancelled or closed run.
void showOutcome(UpdateResult result);

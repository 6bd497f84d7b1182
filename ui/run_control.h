// What the progress dialog and the update run share: the two run flags, the
// dialog's handle, the control identifiers and the message pump.
#pragma once

#include <cstdint>

#include "platform/os.h"
#include "resources/resource_ids.h"

extern int32_t cancelRequested;    // 1 once the user confirmed cancel
extern int32_t closeRequested;     // 1 once the dialog was closed or a quit arrived
extern os::WindowRef dialogHandle; // the progress dialog; null when there is none

// Handles every pending message without waiting. 1 when it took a quit
// message (or any exception ended the drain), else 0. Touches no flag.
int pumpMessages();
// Takes and handles at most one message; throws on WM_QUIT.
int pumpOneMessage();

// The progress dialog's procedure, the list of display monitors and the
// placement of the dialog by the first monitor listed.
#pragma once

#include <cstdint>

#include <windows.h>

// One display monitor as the system reported it, in enumeration order.
struct MonitorNode {
    int32_t index;          // 0 for the first monitor reported
    int32_t left, top, right, bottom;   // virtual-screen coordinates
    MonitorNode* next;
};

// The process-wide list; both null when it is empty. It owns its nodes.
struct MonitorList {
    MonitorNode* head;
    MonitorNode* tail;
};
extern MonitorList monitorList;

// Turns a confirmed cancel into cancelRequested and a close into
// closeRequested (destroying the dialog); everything else is default.
INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// EnumDisplayMonitors with addMonitor; appends one node per monitor.
BOOL enumerateMonitors();
// Appends a node for monitorRect. 1 to go on; 0 only when no node could be
// allocated, so that the indices never skip a monitor.
BOOL CALLBACK addMonitor(HMONITOR monitor, HDC dc, LPRECT monitorRect, LPARAM data);
// Copies the rectangle of the node with that index into *rect: 1. Else 0 and
// *rect untouched.
int findMonitorRect(RECT* rect, int32_t index);
// Releases every node; a later enumeration numbers from 0 again.
void freeMonitorList();

struct WindowPosition {
    int32_t x, y;
};
// Where centreWindow puts a window of outer rectangle window: centred in a
// rectangle of the monitor's width and height at the screen origin (the
// monitor's own left and top are not added), truncating toward zero.
WindowPosition centredPosition(const RECT& monitor, const RECT& window);
// Moves window (keeping its size, to the top of the z-order) to
// centredPosition of monitor 0, or of the primary screen when the list has
// no monitor 0.
void centreWindow(HWND window);

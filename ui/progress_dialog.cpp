#include "ui/progress_dialog.h"

#include <new>

#include "platform/os.h"
#include "ui/run_control.h"
#include "ui/texts.h"

MonitorList monitorList = {nullptr, nullptr};

namespace {

void askCancel(HWND dialog)
{
    // A second command after the confirmation (another program can send one
    // even with the button disabled) asks nothing.
    if (cancelRequested == 1)
        return;
    int answer = MessageBoxA(dialog, kCancelQuestionText, kWindowCaption,
                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES)
        return;
    cancelRequested = 1;
    HWND button = GetDlgItem(dialog, IDC_CANCEL_UPDATE);
    if (button != nullptr)
        EnableWindow(button, FALSE);
}

} // namespace

INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        closeRequested = 1;
        DestroyWindow(static_cast<HWND>(dialogHandle));
        dialogHandle = nullptr;
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CANCEL_UPDATE && HIWORD(wParam) == BN_CLICKED) {
            askCancel(window);
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        // Alt+F4 and the like: the run alone decides when the dialog goes.
        return (wParam & 0xFFF0) == SC_CLOSE ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

BOOL enumerateMonitors()
{
    return EnumDisplayMonitors(nullptr, nullptr, addMonitor, 0);
}

BOOL CALLBACK addMonitor(HMONITOR, HDC, LPRECT monitorRect, LPARAM)
{
    void* block = os::calls().allocate(sizeof(MonitorNode));
    if (block == nullptr)
        return FALSE;
    MonitorNode* node = new (block) MonitorNode;
    node->left = monitorRect->left;
    node->top = monitorRect->top;
    node->right = monitorRect->right;
    node->bottom = monitorRect->bottom;
    node->next = nullptr;
    if (monitorList.tail != nullptr) {
        node->index = monitorList.tail->index + 1;
        monitorList.tail->next = node;
    } else {
        node->index = 0;
        monitorList.head = node;
    }
    monitorList.tail = node;
    return TRUE;
}

int findMonitorRect(RECT* rect, int32_t index)
{
    for (MonitorNode* node = monitorList.head; node != nullptr; node = node->next) {
        if (node->index == index) {
            rect->left = node->left;
            rect->top = node->top;
            rect->right = node->right;
            rect->bottom = node->bottom;
            return 1;
        }
    }
    return 0;
}

void freeMonitorList()
{
    while (monitorList.head != nullptr) {
        MonitorNode* node = monitorList.head;
        monitorList.head = node->next;
        node->~MonitorNode();
        os::calls().release(node);
    }
    monitorList.tail = nullptr;
}

WindowPosition centredPosition(const RECT& monitor, const RECT& window)
{
    // 64-bit intermediates give the 32-bit results wherever those do not
    // overflow, and no undefined behaviour where they would.
    int64_t freeWidth = (int64_t(monitor.right) - monitor.left) - (int64_t(window.right) - window.left);
    int64_t freeHeight = (int64_t(monitor.bottom) - monitor.top) - (int64_t(window.bottom) - window.top);
    WindowPosition p;
    p.x = static_cast<int32_t>(freeWidth / 2);     // truncates toward zero: -61 / 2 = -30
    p.y = static_cast<int32_t>(freeHeight / 2);
    return p;
}

void centreWindow(HWND window)
{
    RECT outer = {0, 0, 0, 0};
    GetWindowRect(window, &outer);
    RECT monitor;
    WindowPosition p;
    if (findMonitorRect(&monitor, 0)) {
        p = centredPosition(monitor, outer);
    } else {
        // No monitor was listed: centre on the primary screen, which starts at
        // the origin, and keep the title bar on it even if the window is larger.
        RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        p = centredPosition(screen, outer);
        if (p.x < 0)
            p.x = 0;
        if (p.y < 0)
            p.y = 0;
    }
    SetWindowPos(window, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE);
}

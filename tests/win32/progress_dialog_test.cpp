// The progress dialog created from the built updater's own template, its
// procedure driven through real messages (clicks dispatched by the message
// pump, the cancel question answered from inside its modal loop), the
// monitor list and the placement arithmetic.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>
#include <commctrl.h>

#include "resources/resource_ids.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"
#include "ui/process_steps.h"
#include "ui/progress_dialog.h"
#include "ui/run_control.h"
#include "ui/texts.h"

namespace {

using win32test::BoxAnswerer;

RECT rect(LONG left, LONG top, LONG right, LONG bottom)
{
    RECT r = {left, top, right, bottom};
    return r;
}

// ---- placement arithmetic -------------------------------------------------

struct PlaceCase {
    const char* what;
    RECT monitor, window;
    int32_t x, y;
};

TEST(CentredPosition, UsesMonitorSizeOnlyAndTruncatesTowardZero)
{
    const PlaceCase cases[] = {
        {"800x600, 549x207", rect(0, 0, 800, 600), rect(0, 0, 549, 207), 125, 196},
        {"window anywhere: only its size counts", rect(0, 0, 800, 600), rect(-300, 900, 249, 1107), 125, 196},
        {"wider than the monitor: -61/2 is -30", rect(0, 0, 640, 480), rect(0, 0, 701, 100), -30, 190},
        {"taller as well: -1/2 is 0", rect(0, 0, 640, 480), rect(0, 0, 701, 481), -30, 0},
        {"monitor at (800,0): its origin is not added", rect(800, 0, 1440, 480), rect(0, 0, 500, 200), 70, 140},
        {"monitor left of the primary", rect(-1024, -100, 0, 668), rect(0, 0, 500, 200), 262, 284},
    };
    for (const PlaceCase& c : cases) {
        SCOPED_TRACE(c.what);
        WindowPosition p = centredPosition(c.monitor, c.window);
        EXPECT_EQ(c.x, p.x);
        EXPECT_EQ(c.y, p.y);
    }
}

// ---- the monitor list -----------------------------------------------------

class MonitorListTest : public ::testing::Test {
protected:
    void SetUp() override { freeMonitorList(); }
    void TearDown() override
    {
        freeMonitorList();
        os::restoreCalls();
    }
    static void add(RECT r) { EXPECT_TRUE(addMonitor(nullptr, nullptr, &r, 0)); }
    static std::vector<int32_t> indices()
    {
        std::vector<int32_t> out;
        for (MonitorNode* n = monitorList.head; n != nullptr; n = n->next)
            out.push_back(n->index);
        return out;
    }
};

TEST_F(MonitorListTest, NodesAreNumberedInOrderAndLookedUpByIndex)
{
    add(rect(0, 0, 800, 600));
    add(rect(800, 0, 1440, 480));
    add(rect(-1024, 0, 0, 768));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2}), indices());
    EXPECT_EQ(2, monitorList.tail->index);

    RECT r = rect(1, 2, 3, 4);
    ASSERT_EQ(1, findMonitorRect(&r, 1));
    EXPECT_EQ(800, r.left);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(1440, r.right);
    EXPECT_EQ(480, r.bottom);

    RECT untouched = rect(1, 2, 3, 4);
    EXPECT_EQ(0, findMonitorRect(&untouched, 3));
    EXPECT_EQ(0, findMonitorRect(&untouched, -1));
    EXPECT_EQ(1, untouched.left);
    EXPECT_EQ(2, untouched.top);
    EXPECT_EQ(3, untouched.right);
    EXPECT_EQ(4, untouched.bottom);
}

TEST_F(MonitorListTest, FreeEmptiesTheListAndTheNextEnumerationStartsAtZero)
{
    add(rect(0, 0, 800, 600));
    add(rect(800, 0, 1600, 600));
    freeMonitorList();
    EXPECT_EQ(nullptr, monitorList.head);
    EXPECT_EQ(nullptr, monitorList.tail);
    RECT r = rect(9, 9, 9, 9);
    EXPECT_EQ(0, findMonitorRect(&r, 0));
    freeMonitorList();      // empty list: nothing happens

    // The real enumeration: the display of this session.
    enumerateMonitors();
    std::vector<int32_t> seen = indices();
    ASSERT_FALSE(seen.empty());
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(static_cast<int32_t>(i), seen[i]);
    ASSERT_EQ(1, findMonitorRect(&r, 0));
    EXPECT_GT(r.right - r.left, 0);
    EXPECT_GT(r.bottom - r.top, 0);
}

TEST_F(MonitorListTest, AFailedAllocationStopsTheEnumerationWithoutSkippingAnIndex)
{
    add(rect(0, 0, 800, 600));
    {
        testsupport::Faults faults;
        faults.failAllocNth(1);
        RECT second = rect(800, 0, 1600, 600);
        EXPECT_FALSE(addMonitor(nullptr, nullptr, &second, 0));
    }
    add(rect(0, 0, 1, 1));
    EXPECT_EQ((std::vector<int32_t>{0, 1}), indices());
}

// ---- the dialog ---------------------------------------------------------

// The template of the built updater, and a dialog made from it with the
// procedure under test, registered as the process's dialog.
class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        loadCommonControlsSafely();
        cancelRequested = 0;
        closeRequested = 0;
        ASSERT_NE(nullptr, win32test::updaterImage());
        templateBytes_ = win32test::resourceBytes(win32test::updaterImage(), RT_DIALOG,
                                                  MAKEINTRESOURCEA(IDD_PROGRESS), win32test::kJapanese);
        ASSERT_FALSE(templateBytes_.empty());
        dialog_ = CreateDialogIndirectParamA(
            GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(templateBytes_.data()), nullptr,
            progressDialogProc, 0);
        ASSERT_NE(nullptr, dialog_) << "error " << GetLastError();
        dialogHandle = dialog_;
        button_ = GetDlgItem(dialog_, IDC_CANCEL_UPDATE);
        ASSERT_NE(nullptr, button_);
        drain();
    }
    void TearDown() override
    {
        if (IsWindow(dialog_))
            DestroyWindow(dialog_);
        dialogHandle = nullptr;
        cancelRequested = 0;
        closeRequested = 0;
        drain();
    }
    static void drain()
    {
        EXPECT_EQ(0, pumpMessages());
    }
    // A click on the cancel button as the user makes it: posted, then
    // delivered by the pump that the run calls.
    void clickCancel()
    {
        PostMessageA(button_, BM_CLICK, 0, 0);
        EXPECT_EQ(0, pumpMessages());
    }
    std::vector<unsigned char> templateBytes_;
    HWND dialog_ = nullptr;
    HWND button_ = nullptr;
};

std::string className(HWND window)
{
    char buffer[64] = {};
    GetClassNameA(window, buffer, sizeof buffer);
    return buffer;
}

TEST_F(ProgressDialogTest, IsCreatedHiddenWithItsControlsWhereTheTemplatePutsThem)
{
    LONG style = GetWindowLongA(dialog_, GWL_STYLE);
    EXPECT_EQ(0, style & WS_VISIBLE);
    EXPECT_EQ(0, style & WS_SYSMENU);
    EXPECT_NE(0, style & WS_CAPTION);
    char title[64] = "x";
    GetWindowTextA(dialog_, title, sizeof title);
    EXPECT_STREQ("", title);

    RECT client;
    GetClientRect(dialog_, &client);
    RECT units = rect(0, 0, 271, 109);
    MapDialogRect(dialog_, &units);
    EXPECT_EQ(units.right, client.right);
    EXPECT_EQ(units.bottom, client.bottom);

    struct Expected {
        int id;
        const char* cls;
        RECT units;     // x, y, width, height
        const char* text;
    };
    const Expected controls[] = {
        {IDC_CANCEL_UPDATE, "Button", rect(110, 88, 51, 14), "\x92\x86\x8E\x7E"},   // 中止
        {IDC_STATUS_TEXT, "Static", rect(7, 7, 257, 14), ""},
        {IDC_FILE_PROGRESS, "msctls_progress32", rect(7, 33, 257, 16), ""},
        {IDC_TOTAL_PROGRESS, "msctls_progress32", rect(7, 59, 257, 16), ""},
    };
    HWND previous = nullptr;
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.id);
        HWND control = GetDlgItem(dialog_, c.id);
        ASSERT_NE(nullptr, control);
        EXPECT_EQ(c.cls, className(control));
        // Template order is z-order: each control follows the one before.
        EXPECT_EQ(previous == nullptr ? GetWindow(dialog_, GW_CHILD) : GetWindow(previous, GW_HWNDNEXT), control);
        previous = control;
        // Position and size are converted from dialog units each on its own.
        RECT expected = c.units;
        MapDialogRect(dialog_, &expected);
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(expected.left, actual.left);
        EXPECT_EQ(expected.top, actual.top);
        EXPECT_EQ(expected.right, actual.right - actual.left);
        EXPECT_EQ(expected.bottom, actual.bottom - actual.top);
        char text[64] = "x";
        GetWindowTextA(control, text, sizeof text);
        EXPECT_STREQ(c.text, text);
    }
    EXPECT_TRUE(IsWindowEnabled(button_));
}

TEST_F(ProgressDialogTest, CancelAnsweredNoChangesNothingAndTheNextClickAsksAgain)
{
    BoxAnswerer answer(IDNO, dialog_);
    clickCancel();
    ASSERT_EQ(1u, answer.seen().size());
    const win32test::SeenBox& box = answer.seen()[0];
    EXPECT_EQ(dialog_, box.owner);
    EXPECT_EQ(kWindowCaption, box.caption);
    EXPECT_EQ(kCancelQuestionText, box.text);
    EXPECT_TRUE(box.hasYes);
    EXPECT_TRUE(box.hasNo);
    EXPECT_EQ(IDNO, box.defaultButton);
    EXPECT_EQ(0, cancelRequested);
    EXPECT_EQ(0, closeRequested);
    EXPECT_TRUE(IsWindowEnabled(button_));

    clickCancel();
    EXPECT_EQ(2u, answer.seen().size());
    EXPECT_EQ(0, cancelRequested);
}

TEST_F(ProgressDialogTest, CancelAnsweredYesSetsTheFlagDisablesTheButtonAndNeverAsksAgain)
{
    {
        BoxAnswerer answer(IDYES, dialog_);
        clickCancel();      // the pump call that delivered the click returns 0
        ASSERT_EQ(1u, answer.seen().size());
    }
    EXPECT_EQ(1, cancelRequested);
    EXPECT_EQ(0, closeRequested);
    EXPECT_FALSE(IsWindowEnabled(button_));
    EXPECT_TRUE(IsWindow(dialog_));
    EXPECT_EQ(dialog_, dialogHandle);

    // Another program can still send the command to the disabled button.
    BoxAnswerer answer(IDNO, dialog_);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_UPDATE, BN_CLICKED), reinterpret_cast<LPARAM>(button_));
    EXPECT_EQ(TRUE, progressDialogProc(dialog_, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_UPDATE, BN_CLICKED),
                                       reinterpret_cast<LPARAM>(button_)));
    EXPECT_EQ(0, pumpMessages());
    EXPECT_TRUE(answer.seen().empty());
    EXPECT_EQ(1, cancelRequested);
}

TEST_F(ProgressDialogTest, EscapeAndTheSystemCloseCommandDoNothing)
{
    BoxAnswerer answer(IDYES, dialog_);
    // Escape through the dialog manager, as the pump offers every key to it.
    SetFocus(button_);
    PostMessageA(button_, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(button_, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    EXPECT_EQ(0, pumpMessages());
    // Alt+F4 and the window menu's close, with and without the low bits.
    SendMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE | 0x2, 0);
    PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0, pumpMessages());

    EXPECT_TRUE(IsWindow(dialog_));
    EXPECT_EQ(dialog_, dialogHandle);
    EXPECT_EQ(0, cancelRequested);
    EXPECT_EQ(0, closeRequested);
    EXPECT_TRUE(answer.seen().empty());
}

TEST_F(ProgressDialogTest, WindowCloseDestroysTheDialogAndClearsItsHandle)
{
    PostMessageA(dialog_, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, pumpMessages());
    EXPECT_FALSE(IsWindow(dialog_));
    EXPECT_EQ(nullptr, dialogHandle);
    EXPECT_EQ(1, closeRequested);
    EXPECT_EQ(0, cancelRequested);
    // Later pumps go on without the dialog.
    PostMessageA(nullptr, WM_NULL, 0, 0);
    EXPECT_EQ(0, pumpMessages());
}

TEST_F(ProgressDialogTest, ProcedureReturnsHandledOnlyForItsOwnMessages)
{
    struct Row {
        const char* what;
        UINT message;
        WPARAM wParam;
        INT_PTR handled;
    };
    const Row rows[] = {
        {"init", WM_INITDIALOG, 0, TRUE},
        {"Escape's command", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), FALSE},
        {"Enter's command", WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), FALSE},
        {"another notification of the button", WM_COMMAND, MAKEWPARAM(IDC_CANCEL_UPDATE, BN_SETFOCUS), FALSE},
        {"a command of the status text", WM_COMMAND, MAKEWPARAM(IDC_STATUS_TEXT, 0), FALSE},
        {"system close", WM_SYSCOMMAND, SC_CLOSE, TRUE},
        {"system close, low bits set", WM_SYSCOMMAND, SC_CLOSE | 0xF, TRUE},
        {"system minimise", WM_SYSCOMMAND, SC_MINIMIZE, FALSE},
        {"system move", WM_SYSCOMMAND, SC_MOVE, FALSE},
        {"paint", WM_PAINT, 0, FALSE},
        {"timer", WM_TIMER, 0, FALSE},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.handled, progressDialogProc(dialog_, r.message, r.wParam, 0));
    }
    EXPECT_EQ(0, cancelRequested);
    EXPECT_EQ(0, closeRequested);
    EXPECT_TRUE(IsWindow(dialog_));
}

TEST_F(ProgressDialogTest, CentreWindowPlacesByMonitorZerosSizeKeepingTheWindowSize)
{
    RECT before;
    GetWindowRect(dialog_, &before);
    freeMonitorList();
    RECT second = rect(800, 0, 1440, 480);
    addMonitor(nullptr, nullptr, &second, 0);
    centreWindow(dialog_);
    RECT after;
    GetWindowRect(dialog_, &after);
    LONG width = before.right - before.left, height = before.bottom - before.top;
    EXPECT_EQ(width, after.right - after.left);
    EXPECT_EQ(height, after.bottom - after.top);
    EXPECT_EQ((640 - width) / 2, after.left);
    EXPECT_EQ((480 - height) / 2, after.top);
    freeMonitorList();
}

TEST_F(ProgressDialogTest, WithoutMonitorZeroTheDialogLandsOnThePrimaryScreen)
{
    freeMonitorList();
    centreWindow(dialog_);
    RECT after;
    GetWindowRect(dialog_, &after);
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_GE(after.left, 0);
    EXPECT_GE(after.top, 0);
    EXPECT_LE(after.right, cx);
    EXPECT_LE(after.bottom, cy);
    EXPECT_EQ((cx - (after.right - after.left)) / 2, after.left);
}

} // namespace

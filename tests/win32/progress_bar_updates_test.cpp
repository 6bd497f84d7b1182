// The seam's progress-bar entries on a real "msctls_progress32" bar: which
// positions reach the control (counted by subclassing it) and where the bar
// ends up.
#include <gtest/gtest.h>

#include <cstdint>

#include <windows.h>
#include <commctrl.h>

#include "platform/os.h"
#include "ui/process_steps.h"

namespace {

int gSetPosCount = 0;
WNDPROC gBarProc = nullptr;

LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETPOS)
        ++gSetPosCount;
    return CallWindowProcA(gBarProc, window, message, wParam, lParam);
}

const uint32_t kRange = 0xFFFF;
const DWORD kMoreThanAFrame = 40;

class WinProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        loadCommonControlsSafely();
        // Client width 200 pixels: one pixel is about 328 positions of 65,535.
        RECT r = {0, 0, 200, 16};
        AdjustWindowRectEx(&r, WS_POPUP | WS_BORDER, FALSE, 0);
        bar_ = CreateWindowExA(0, "msctls_progress32", "", WS_POPUP | WS_BORDER | PBS_SMOOTH, 0, 0,
                               r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleA(nullptr),
                               nullptr);
        ASSERT_NE(nullptr, bar_);
        RECT client;
        GetClientRect(bar_, &client);
        ASSERT_EQ(200, client.right - client.left);
        gBarProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(bar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countingProc)));
        gSetPosCount = 0;
    }
    void TearDown() override
    {
        DestroyWindow(bar_);
        os::restoreCalls();
    }
    void setRange(uint32_t high) { os::calls().setProgressRange(bar_, high); }
    void setPos(uint32_t position) { os::calls().setProgressPos(bar_, position); }
    uint32_t shownPos() { return static_cast<uint32_t>(SendMessageA(bar_, PBM_GETPOS, 0, 0)); }

    HWND bar_ = nullptr;
};

TEST_F(WinProgressBarTest, PositionsThatLeaveTheDrawnBarAsItIsAreNotSent)
{
    setRange(kRange);
    setPos(0);
    Sleep(kMoreThanAFrame);
    // Every one of these fills less than the first pixel, as 0 does.
    for (uint32_t p = 1; p < 150; p += 10)
        setPos(p);
    EXPECT_EQ(1, gSetPosCount);
    EXPECT_EQ(0u, shownPos());
    Sleep(kMoreThanAFrame);
    setPos(kRange / 2);
    EXPECT_EQ(2, gSetPosCount) << "a position that moves the bar, a frame after the last one";
    EXPECT_EQ(kRange / 2, shownPos());
}

TEST_F(WinProgressBarTest, WithinAFrameOnlyTheStartAndTheEndOfTheRangeAreSent)
{
    setRange(kRange);
    DWORD before = GetTickCount();
    setPos(0);
    setPos(kRange / 4);
    setPos(kRange / 2);
    bool withinAFrame = GetTickCount() - before < 10;
    setPos(kRange);
    setPos(0);
    if (withinAFrame)
        EXPECT_EQ(3, gSetPosCount) << "0, the end, 0";
    else
        EXPECT_LE(3, gSetPosCount);     // the machine stalled between the calls
    EXPECT_EQ(0u, shownPos());
    setPos(kRange);
    EXPECT_EQ(kRange, shownPos()) << "the end of the range goes out whatever came just before";
}

TEST_F(WinProgressBarTest, ASmallRangeMovesTheBarAtEveryStepAFrameApart)
{
    // The overall bar: one step per file, each step many pixels wide.
    setRange(4);
    for (uint32_t p = 0; p <= 4; ++p) {
        setPos(p);
        EXPECT_EQ(p, shownPos());
        Sleep(kMoreThanAFrame);
    }
    EXPECT_EQ(5, gSetPosCount);
}

TEST_F(WinProgressBarTest, ABarWhoseRangeWasSetElsewhereGetsEveryPosition)
{
    SendMessageA(bar_, PBM_SETRANGE32, 0, kRange);
    for (uint32_t p = 1; p <= 5; ++p)
        setPos(p);
    EXPECT_EQ(5, gSetPosCount);
    EXPECT_EQ(5u, shownPos());
}

} // namespace

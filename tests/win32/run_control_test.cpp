// The message pump with the thread's real queue: posted messages for a
// window of the test, thread messages, the character messages that
// TranslateMessage generates, and WM_QUIT.
#include <gtest/gtest.h>

#include <vector>

#include <windows.h>

#include "ui/run_control.h"

namespace {

const UINT kPing = WM_APP + 1;

std::vector<UINT>& received()
{
    static std::vector<UINT> r;
    return r;
}

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kPing || message == WM_CHAR || message == WM_KEYDOWN)
        received().push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

class WinPumpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = recordingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "UpdaterPumpTestWindow";
        RegisterClassA(&wc);    // a second registration fails harmlessly
        window_ = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  wc.hInstance, nullptr);
        ASSERT_NE(nullptr, window_);
        // Whatever creating the window queued, so each case starts empty.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        received().clear();
        dialogHandle = nullptr;
    }
    void TearDown() override
    {
        DestroyWindow(window_);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        cancelRequested = 0;
        closeRequested = 0;
    }
    static bool queueIsEmpty()
    {
        MSG msg;
        return !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    HWND window_ = nullptr;
};

TEST_F(WinPumpTest, AnEmptyQueueReturnsZeroAtOnce)
{
    EXPECT_EQ(0, pumpMessages());
    EXPECT_TRUE(received().empty());
}

TEST_F(WinPumpTest, EveryPostedMessageIsDispatchedInOneCall)
{
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(PostMessageA(window_, kPing, i, 0));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), kPing, 0, 0));    // no window: dispatched to nobody

    EXPECT_EQ(0, pumpMessages());

    EXPECT_EQ(std::vector<UINT>(5, kPing), received());
    EXPECT_TRUE(queueIsEmpty());
}

TEST_F(WinPumpTest, CharacterMessagesThatTranslateMessagePostsAreHandledInTheSameCall)
{
    ASSERT_TRUE(PostMessageA(window_, WM_KEYDOWN, 'A', 0x001E0001));

    EXPECT_EQ(0, pumpMessages());

    EXPECT_EQ(std::vector<UINT>({WM_KEYDOWN, WM_CHAR}), received());
    EXPECT_TRUE(queueIsEmpty());
}

TEST_F(WinPumpTest, AQuitReturnsOneIsRemovedAndLeavesLaterMessagesForTheNextCall)
{
    ASSERT_TRUE(PostMessageA(window_, kPing, 1, 0));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0));
    ASSERT_TRUE(PostMessageA(window_, kPing, 2, 0));

    EXPECT_EQ(1, pumpMessages());
    EXPECT_EQ(std::vector<UINT>({kPing}), received()) << "nothing is taken after the quit";
    EXPECT_EQ(0, closeRequested) << "the pump leaves the flags to the run";

    EXPECT_EQ(0, pumpMessages());
    EXPECT_EQ(std::vector<UINT>({kPing, kPing}), received());
    EXPECT_TRUE(queueIsEmpty()) << "the quit message was not posted again";
    EXPECT_EQ(0, pumpMessages());
}

TEST_F(WinPumpTest, PostQuitMessageIsTakenOnceThePostedMessagesAreGone)
{
    ASSERT_TRUE(PostMessageA(window_, kPing, 1, 0));
    PostQuitMessage(0);
    ASSERT_TRUE(PostMessageA(window_, kPing, 2, 0));

    EXPECT_EQ(1, pumpMessages());
    EXPECT_EQ(std::vector<UINT>({kPing, kPing}), received());
    EXPECT_EQ(0, pumpMessages());
    EXPECT_TRUE(queueIsEmpty());
}

TEST_F(WinPumpTest, ADialogHandleRoutesMessagesThroughTheDialogManager)
{
    // Messages for a window that is not part of the dialog are not the
    // dialog's: IsDialogMessageA passes them over and they are dispatched.
    HWND other = CreateWindowExA(0, "UpdaterPumpTestWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, other);
    dialogHandle = other;
    ASSERT_TRUE(PostMessageA(window_, kPing, 0, 0));

    EXPECT_EQ(0, pumpMessages());

    dialogHandle = nullptr;
    DestroyWindow(other);
    EXPECT_EQ(std::vector<UINT>({kPing}), received());
}

} // namespace

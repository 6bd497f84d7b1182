// The message pump's drain over a scripted queue standing in for the
// thread's: what a drain takes, where it stops and what it leaves alone.
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/os.h"
#include "ui/run_control.h"

namespace {

enum Message { MSG_PAINT, MSG_CLICK, MSG_QUIT, MSG_CANCEL_CONFIRMED, MSG_CLOSE, MSG_BROKEN_HANDLER, MSG_ODD_THROW };

struct Queue {
    std::deque<Message> pending;
    std::vector<Message> handled;
    std::vector<os::WindowRef> dialogs;     // what each call was handed
    int calls = 0;
};

Queue& queue()
{
    static Queue q;
    return q;
}

// Takes one message the way the Windows side does: the quit message is
// removed and thrown; anything else is handled (its handler may set a flag,
// or close the dialog and clear dialogHandle, or fail).
int scriptedPumpOne(os::WindowRef dialog)
{
    Queue& q = queue();
    ++q.calls;
    q.dialogs.push_back(dialog);
    if (q.pending.empty())
        return 0;
    Message m = q.pending.front();
    q.pending.pop_front();
    switch (m) {
    case MSG_QUIT:
        throw 0;
    case MSG_CANCEL_CONFIRMED:
        cancelRequested = 1;
        break;
    case MSG_CLOSE:
        closeRequested = 1;
        dialogHandle = nullptr;
        break;
    case MSG_BROKEN_HANDLER:
        throw std::runtime_error("handler failed");
    case MSG_ODD_THROW:
        throw "a string";
    default:
        break;
    }
    q.handled.push_back(m);
    return 1;
}

class PumpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        queue() = Queue();
        cancelRequested = 0;
        closeRequested = 0;
        dialogHandle = nullptr;
        os::calls().pumpOneMessage = scriptedPumpOne;
    }
    void TearDown() override
    {
        os::restoreCalls();
        cancelRequested = 0;
        closeRequested = 0;
        dialogHandle = nullptr;
    }
    void post(std::initializer_list<Message> messages)
    {
        for (Message m : messages)
            queue().pending.push_back(m);
    }
};

const os::WindowRef kDialog = reinterpret_cast<os::WindowRef>(static_cast<intptr_t>(0x4242));

TEST_F(PumpTest, AnEmptyQueueReturnsZeroAfterOneLook)
{
    EXPECT_EQ(0, pumpMessages());
    EXPECT_EQ(1, queue().calls);
}

TEST_F(PumpTest, EveryPendingMessageIsHandledInOneCall)
{
    post({MSG_PAINT, MSG_CLICK, MSG_PAINT, MSG_CLICK});
    EXPECT_EQ(0, pumpMessages());
    EXPECT_EQ(4u, queue().handled.size());
    EXPECT_EQ(5, queue().calls);
}

TEST_F(PumpTest, AQuitEndsTheDrainWithOneAndLeavesWhatFollowsForTheNextCall)
{
    post({MSG_PAINT, MSG_QUIT, MSG_CLICK, MSG_PAINT});

    EXPECT_EQ(1, pumpMessages());
    EXPECT_EQ(std::vector<Message>({MSG_PAINT}), queue().handled);
    EXPECT_EQ(2, queue().calls) << "nothing is taken after the quit";

    EXPECT_EQ(0, pumpMessages());
    EXPECT_EQ(std::vector<Message>({MSG_PAINT, MSG_CLICK, MSG_PAINT}), queue().handled);
    EXPECT_EQ(0, pumpMessages());
}

TEST_F(PumpTest, AnyOtherExceptionEndsTheDrainLikeAQuit)
{
    post({MSG_BROKEN_HANDLER, MSG_PAINT});
    EXPECT_EQ(1, pumpMessages());
    EXPECT_EQ(1u, queue().pending.size());

    // The paint left over is handled, then a throw of any other type ends
    // that drain too.
    post({MSG_ODD_THROW, MSG_CLICK});
    EXPECT_EQ(1, pumpMessages());
    EXPECT_EQ(std::vector<Message>({MSG_PAINT}), queue().handled);
    EXPECT_EQ(std::deque<Message>({MSG_CLICK}), queue().pending);
}

TEST_F(PumpTest, TheDrainNeverReadsOrWritesTheFlags)
{
    post({MSG_QUIT});
    EXPECT_EQ(1, pumpMessages());
    EXPECT_EQ(0, closeRequested) << "the run sets the flag itself";
    EXPECT_EQ(0, cancelRequested);

    // A flag that is already set does not shorten a drain.
    cancelRequested = 1;
    post({MSG_PAINT, MSG_PAINT});
    EXPECT_EQ(0, pumpMessages());
    EXPECT_EQ(0u, queue().pending.size());
}

TEST_F(PumpTest, AConfirmedCancelInsideTheDrainReturnsZeroWithTheFlagSet)
{
    post({MSG_CLICK, MSG_CANCEL_CONFIRMED, MSG_PAINT});
    EXPECT_EQ(0, pumpMessages());
    EXPECT_EQ(1, cancelRequested);
    EXPECT_EQ(0u, queue().pending.size());
}

TEST_F(PumpTest, AfterTheDialogClosesInsideADrainLaterCallsAreHandedNoDialog)
{
    dialogHandle = kDialog;
    post({MSG_PAINT, MSG_CLOSE, MSG_PAINT});

    EXPECT_EQ(0, pumpMessages());

    EXPECT_EQ(1, closeRequested);
    EXPECT_EQ(std::vector<os::WindowRef>({kDialog, kDialog, nullptr, nullptr}), queue().dialogs);
}

TEST_F(PumpTest, PumpOneMessageHandsOnTheSeamsAnswer)
{
    post({MSG_PAINT});
    EXPECT_NE(0, pumpOneMessage());
    EXPECT_EQ(0, pumpOneMessage());
    post({MSG_QUIT});
    EXPECT_THROW(pumpOneMessage(), int);
}

TEST(PumpHost, WithoutAWindowSystemTheQueueIsAlwaysEmpty)
{
    os::restoreCalls();
    EXPECT_EQ(0, pumpMessages());
}

} // namespace

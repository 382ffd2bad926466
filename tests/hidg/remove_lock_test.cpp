#include "hidg.h"
#include "kernel_test.h"

namespace {

class RemoveLockTest : public zeltest::KernelTest {
  protected:
    GameDeviceExtension ext{};
    void SetUp() override {
        KernelTest::SetUp();
        ext.RequestCount = 1;
        KeInitializeEvent(&ext.RemoveEvent, SynchronizationEvent, FALSE);
    }
    bool Signalled() { return KeReadStateEvent(&ext.RemoveEvent) != 0; }
};

TEST_F(RemoveLockTest, AcquireAndReleaseCountRequests) {
    EXPECT_EQ(AcquireRemoveLock(&ext), STATUS_SUCCESS);
    EXPECT_EQ(AcquireRemoveLock(&ext), STATUS_SUCCESS);
    EXPECT_EQ(ext.RequestCount, 3);
    ReleaseRemoveLock(&ext);
    ReleaseRemoveLock(&ext);
    EXPECT_EQ(ext.RequestCount, 1);
    EXPECT_FALSE(Signalled()); // only a fall to 0 signals
    ReleaseRemoveLock(&ext);
    EXPECT_EQ(ext.RequestCount, 0);
    EXPECT_TRUE(Signalled());
}

TEST_F(RemoveLockTest, AcquireAtDispatchLevel) {
    km::AtIrql(DISPATCH_LEVEL, [&] {
        EXPECT_EQ(AcquireRemoveLock(&ext), STATUS_SUCCESS);
        ReleaseRemoveLock(&ext);
    });
    EXPECT_EQ(ext.RequestCount, 1);
}

TEST_F(RemoveLockTest, AfterRemovalAcquireFailsAndLeavesTheCount) {
    struct Case {
        LONG countBefore;
        bool signals;
    };
    // With the count at 0 (the remove request dropped its references) the
    // acquire's own decrement back to 0 signals once more.
    const Case cases[] = {{0, true}, {1, false}, {3, false}};
    for (const auto& c : cases) {
        ext.Removed = 1;
        ext.RequestCount = c.countBefore;
        KeClearEvent(&ext.RemoveEvent);
        EXPECT_EQ(AcquireRemoveLock(&ext), STATUS_DELETE_PENDING);
        EXPECT_EQ(ext.RequestCount, c.countBefore);
        EXPECT_EQ(Signalled(), c.signals) << "count " << c.countBefore;
    }
}

TEST_F(RemoveLockTest, SignalEventCompletionKeepsTheRequest) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_EQ(SignalEventCompletion(nullptr, nullptr, &event), STATUS_MORE_PROCESSING_REQUIRED);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
}

} // namespace

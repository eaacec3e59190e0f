// Background completion collection: waiting for a database lock that another thread holds,
// cancelling while waiting and in the middle of the walk, a second request while one runs,
// destruction while running, and notify. Also run under ThreadSanitizer.

#include <atomic>
#include <chrono>
#include <thread>

#include "query/ZELQueryTestSupport.h"
#include "zel/platform/ZELSerialQueue.h"

namespace {

// Counts notify calls and lets the test wait for them.
class ZELTestNotifyRecorder {
public:
    ZELCompletionCollector::Notify notify() {
        return [this](const std::shared_ptr<ZELCompletionCollector>& collector) {
            std::lock_guard<std::mutex> guard(lock_);
            ++calls_;
            answers_ = collector->completionCanonicalStrings();
            wasLoadingDuringNotify_ = collector->isLoadingInBackground();
            changed_.notify_all();
        };
    }
    bool waitForCalls(int count) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10), [&] { return calls_ >= count; });
    }
    int calls() { return locked(calls_); }
    std::vector<ZELString> answers() { return locked(answers_); }
    bool wasLoadingDuringNotify() { return locked(wasLoadingDuringNotify_); }

private:
    template <typename T>
    T locked(const T& field) {
        std::lock_guard<std::mutex> guard(lock_);
        return field;
    }

    std::mutex lock_;
    std::condition_variable changed_;
    int calls_ = 0;
    std::vector<ZELString> answers_;
    bool wasLoadingDuringNotify_ = false;
};

// Waits until every task queued so far on the collectors' queue has run.
void drainCollectorQueue() {
    ZELSerialQueue::named("ZELCompletionCollectorQueue")->sync([] {});
}

}  // namespace

class ZELCompletionCollectorBackgroundTest : public ZELQueryDatabaseTest {
protected:
    void SetUp() override {
        ZELQueryDatabaseTest::SetUp();
        addWords("apple apricot avocado", "almond");
        addWords("banana", "blueberry");
    }
    void TearDown() override {
        drainCollectorQueue();
        ZELQueryDatabaseTest::TearDown();
    }
    std::vector<std::shared_ptr<ZELAspect>> bothAspects() { return {aspect(u"words"), aspect(u"tags")}; }
};

TEST_F(ZELCompletionCollectorBackgroundTest, CollectsAndNotifiesOnTheCollectorQueue) {
    auto collector = ZELCompletionCollector::collector();
    EXPECT_FALSE(collector->cancelLoadCompletionsInBackground());  // nothing running
    collector->setLimitCompletionPrefix(u"a");
    ZELTestNotifyRecorder recorder;
    std::atomic<bool> onQueue{false};
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), [&](const auto& notified) {
        onQueue = ZELSerialQueue::named("ZELCompletionCollectorQueue")->isCurrent();
        recorder.notify()(notified);
    });
    ASSERT_TRUE(recorder.waitForCalls(1));
    drainCollectorQueue();
    EXPECT_TRUE(onQueue.load());
    EXPECT_TRUE(recorder.wasLoadingDuringNotify());
    EXPECT_EQ(recorder.answers(), (std::vector<ZELString>{u"almond", u"apple", u"apricot", u"avocado"}));
    EXPECT_FALSE(collector->isLoadingInBackground());
    // Finished and notified: nothing left to cancel.
    EXPECT_FALSE(collector->cancelLoadCompletionsInBackground());
}

TEST_F(ZELCompletionCollectorBackgroundTest, CancelWhileWaitingForLockHeldByAnotherThread) {
    auto collector = ZELCompletionCollector::collector();
    ZELTestNotifyRecorder recorder;
    db_->acquireLock();  // this thread holds the database; the collection runs on the queue
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), recorder.notify());
    EXPECT_TRUE(collector->isLoadingInBackground());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(collector->cancelLoadCompletionsInBackground());
    EXPECT_FALSE(collector->isLoadingInBackground());
    db_->relinquishLock();
    drainCollectorQueue();
    EXPECT_EQ(recorder.calls(), 0);
    EXPECT_TRUE(collector->completionCanonicalStrings().empty());
}

TEST_F(ZELCompletionCollectorBackgroundTest, WaitingCollectionRunsOnceTheLockIsFree) {
    auto collector = ZELCompletionCollector::collector();
    ZELTestNotifyRecorder recorder;
    ZELTestGate held, release;
    std::thread holder([&] {
        db_->acquireLock();
        held.open();
        release.wait();
        db_->relinquishLock();
    });
    held.wait();
    collector->setLimitCompletionPrefix(u"b");
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), recorder.notify());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(recorder.calls(), 0);
    release.open();
    holder.join();
    ASSERT_TRUE(recorder.waitForCalls(1));
    EXPECT_EQ(recorder.answers(), (std::vector<ZELString>{u"banana", u"blueberry"}));
}

TEST_F(ZELCompletionCollectorBackgroundTest, SecondRequestWhileRunningIsIgnored) {
    auto collector = ZELCompletionCollector::collector();
    ZELTestNotifyRecorder first, second;
    db_->acquireLock();
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), first.notify());
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), second.notify());
    db_->relinquishLock();
    ASSERT_TRUE(first.waitForCalls(1));
    drainCollectorQueue();
    EXPECT_EQ(first.calls(), 1);
    EXPECT_EQ(second.calls(), 0);
    // Once it has ended, a new request runs.
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), second.notify());
    EXPECT_TRUE(second.waitForCalls(1));
}

TEST_F(ZELCompletionCollectorBackgroundTest, CancelInTheMiddleOfTheWalk) {
    for (int index = 0; index < 30; ++index) addWords("w" + std::to_string(100 + index));
    auto collector = ZELCompletionCollector::collector();
    collector->setLimitCount(25);  // drains, and so compares, every 10 values
    ZELTestGate inWalk, cancelAsked;
    std::atomic<bool> first{true};
    collector->setCompletionSortSelector([&](std::u16string_view a, std::u16string_view b) {
        if (first.exchange(false)) {
            inWalk.open();
            cancelAsked.wait();
            // Let the cancel set its flag before the walk goes on.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return a.compare(b);
    });
    ZELTestNotifyRecorder recorder;
    collector->setLimitCompletionPrefix(u"w");
    collector->loadCompletionsInBackgroundForAspects({aspect(u"words")}, recorder.notify());
    inWalk.wait();
    cancelAsked.open();
    EXPECT_TRUE(collector->cancelLoadCompletionsInBackground());
    drainCollectorQueue();
    EXPECT_EQ(recorder.calls(), 0);
    // The walk stopped at the next value: only the first batch reached the answer.
    EXPECT_LT(collector->completionCanonicalStrings().size(), 25u);
}

TEST_F(ZELCompletionCollectorBackgroundTest, NotifyMayAskTheCollectorAndCancelIsThenTooLate) {
    auto collector = ZELCompletionCollector::collector();
    std::atomic<bool> cancelAnswer{true};
    ZELTestNotifyRecorder recorder;
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), [&](const auto& notified) {
        cancelAnswer = notified->cancelLoadCompletionsInBackground();
        recorder.notify()(notified);
    });
    ASSERT_TRUE(recorder.waitForCalls(1));
    drainCollectorQueue();
    EXPECT_FALSE(cancelAnswer.load());
}

TEST_F(ZELCompletionCollectorBackgroundTest, DestroyingCollectorCancelsItsCollection) {
    ZELTestNotifyRecorder recorder;
    db_->acquireLock();
    {
        auto collector = ZELCompletionCollector::collector();
        collector->loadCompletionsInBackgroundForAspects(bothAspects(), recorder.notify());
    }  // destroyed here, while the collection waits for the lock
    db_->relinquishLock();
    drainCollectorQueue();
    EXPECT_EQ(recorder.calls(), 0);
}

TEST_F(ZELCompletionCollectorBackgroundTest, CollectorDroppedOnTheQueueBeforeItsTurn) {
    // Another collector's notify drops the last reference to a collector whose collection is
    // queued behind it: that collection must end without touching it.
    auto waiting = ZELCompletionCollector::collector();
    auto first = ZELCompletionCollector::collector();
    ZELTestNotifyRecorder firstRecorder, waitingRecorder;
    std::shared_ptr<ZELCompletionCollector> dropped = waiting;
    db_->acquireLock();
    first->loadCompletionsInBackgroundForAspects(bothAspects(), [&](const auto& notified) {
        dropped.reset();  // the last reference: destroyed on the queue's thread
        firstRecorder.notify()(notified);
    });
    waiting->loadCompletionsInBackgroundForAspects(bothAspects(), waitingRecorder.notify());
    waiting.reset();
    db_->relinquishLock();
    ASSERT_TRUE(firstRecorder.waitForCalls(1));
    drainCollectorQueue();
    EXPECT_EQ(waitingRecorder.calls(), 0);
}

TEST_F(ZELCompletionCollectorBackgroundTest, InvalidatedDatabaseEndsTheWait) {
    auto collector = ZELCompletionCollector::collector();
    ZELTestNotifyRecorder recorder;
    db_->acquireLock();
    collector->loadCompletionsInBackgroundForAspects(bothAspects(), recorder.notify());
    db_->invalidate();  // the holder may invalidate at once
    db_->relinquishLock();
    ASSERT_TRUE(recorder.waitForCalls(1));
    EXPECT_TRUE(recorder.answers().empty());
}

TEST_F(ZELCompletionCollectorBackgroundTest, ManyCollectorsAgainstWritersAndCancels) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int index = 0; index < 40 && !stop; ++index) {
            addWords("term" + std::to_string(index), "tag" + std::to_string(index % 7));
        }
    });
    std::vector<std::thread> requesters;
    std::atomic<int> notified{0};
    for (int thread = 0; thread < 3; ++thread) {
        requesters.emplace_back([&, thread] {
            for (int round = 0; round < 15; ++round) {
                auto collector = ZELCompletionCollector::collector();
                collector->setLimitCompletionPrefix(u"t");
                collector->setLimitCount(5);
                collector->loadCompletionsInBackgroundForAspects(
                    bothAspects(), [&](const auto&) { ++notified; });
                if ((round + thread) % 2) collector->cancelLoadCompletionsInBackground();
            }
        });
    }
    for (std::thread& requester : requesters) requester.join();
    stop = true;
    writer.join();
    drainCollectorQueue();
    EXPECT_LE(notified.load(), 45);
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/ZELTestLogCapture.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELSerialQueue.h"
#include "zel/platform/ZELWorkerPool.h"

namespace {

constexpr auto kGenerousTimeout = std::chrono::seconds(20);

// The main queue is process-wide: every test starts and ends with an empty FIFO, no poster
// and the test thread as main.
class ZELMainQueueTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        ZELMainQueue::setPoster({});
        ZELMainQueue::markCurrentThreadAsMain();
        while (ZELMainQueue::drain() > 0) {
        }
    }
};

}  // namespace

// Tasks run in order on the draining thread, those queued meanwhile in the same call.
TEST_F(ZELMainQueueTest, DrainRunsTasksInOrderOnTheCallingThread) {
    std::vector<std::string> order;
    ZELMainQueue::async([&] {
        EXPECT_TRUE(ZELMainQueue::isMainThread());
        order.push_back("a");
        ZELMainQueue::async([&] {
            order.push_back("c");
            ZELMainQueue::async([&] { order.push_back("d"); });
        });
    });
    ZELMainQueue::async([&] { order.push_back("b"); });
    EXPECT_TRUE(order.empty());  // nothing runs before the host drains
    EXPECT_EQ(ZELMainQueue::drain(), 4u);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(ZELMainQueue::drain(), 0u);
}

TEST_F(ZELMainQueueTest, SelfRequeuingTaskCannotTrapTheDrain) {
    int runs = 0;
    bool keepGoing = true;
    std::function<void()> again = [&] {
        ++runs;
        if (keepGoing) ZELMainQueue::async(again);
    };
    ZELMainQueue::async(again);
    EXPECT_EQ(ZELMainQueue::drain(), static_cast<size_t>(ZELMainQueue::kMaxDrainRounds));
    EXPECT_EQ(runs, ZELMainQueue::kMaxDrainRounds);

    // Still queued once; it stops when told.
    keepGoing = false;
    EXPECT_EQ(ZELMainQueue::drain(), 1u);
    EXPECT_EQ(runs, ZELMainQueue::kMaxDrainRounds + 1);
}

TEST_F(ZELMainQueueTest, NestedDrainKeepsTheOrder) {
    std::vector<std::string> order;
    ZELMainQueue::async([&] {
        order.push_back("a begins");
        EXPECT_EQ(ZELMainQueue::drain(), 2u);
        order.push_back("a ends");
    });
    ZELMainQueue::async([&] { order.push_back("b"); });
    ZELMainQueue::async([&] { order.push_back("c"); });
    EXPECT_EQ(ZELMainQueue::drain(), 1u);
    EXPECT_EQ(order, (std::vector<std::string>{"a begins", "b", "c", "a ends"}));
}

TEST_F(ZELMainQueueTest, ExceptionFromATaskLeavesTheRestQueued) {
    std::vector<int> order;
    ZELMainQueue::async([&] { order.push_back(1); });
    ZELMainQueue::async([] { ZELRaise(ZELInternalInconsistencyException, "boom"); });
    ZELMainQueue::async([&] { order.push_back(3); });
    EXPECT_THROW(ZELMainQueue::drain(), ZELException);
    EXPECT_EQ(order, (std::vector<int>{1}));
    EXPECT_EQ(ZELMainQueue::drain(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
}

TEST_F(ZELMainQueueTest, PosterReceivesWaitingAndLaterTasksUntilRemoved) {
    std::vector<int> order;
    ZELMainQueue::async([&] { order.push_back(1); });
    ZELMainQueue::async([&] { order.push_back(2); });

    // Installing the poster hands over the waiting tasks, oldest first.
    std::vector<ZELMainQueue::Task> posted;
    ZELMainQueue::setPoster(
        [&posted](ZELMainQueue::Task task) { posted.push_back(std::move(task)); });
    ASSERT_EQ(posted.size(), 2u);
    ZELMainQueue::async([&] { order.push_back(3); });
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(ZELMainQueue::drain(), 0u);
    for (auto& task : posted) task();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // An empty poster restores the FIFO.
    ZELMainQueue::setPoster({});
    ZELMainQueue::async([&] { order.push_back(4); });
    EXPECT_EQ(posted.size(), 3u);
    EXPECT_EQ(ZELMainQueue::drain(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));

    // A poster that runs tasks at once may be handed more from inside one.
    order.clear();
    ZELMainQueue::setPoster([](ZELMainQueue::Task task) { task(); });
    ZELMainQueue::async([&] {
        order.push_back(5);
        ZELMainQueue::async([&] { order.push_back(6); });
    });
    EXPECT_EQ(order, (std::vector<int>{5, 6}));
}

TEST_F(ZELMainQueueTest, WaitAndDrainWakesForATaskFromAnotherThread) {
    EXPECT_FALSE(ZELMainQueue::waitAndDrain(std::chrono::milliseconds(1)));

    std::atomic<bool> ran{false};
    std::thread producer([&ran] { ZELMainQueue::async([&ran] { ran = true; }); });
    bool drained = false;
    const auto deadline = std::chrono::steady_clock::now() + kGenerousTimeout;
    while (!ran && std::chrono::steady_clock::now() < deadline) {
        drained = ZELMainQueue::waitAndDrain(std::chrono::milliseconds(100)) || drained;
    }
    producer.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(drained);
}

TEST_F(ZELMainQueueTest, OnlyTheMarkedThreadIsMain) {
    EXPECT_TRUE(ZELMainQueue::isMainThread());
    bool otherIsMain = true;
    std::thread([&] { otherIsMain = ZELMainQueue::isMainThread(); }).join();
    EXPECT_FALSE(otherIsMain);

    // Marking moves it; a drain does not take it from a marked thread.
    std::thread([] {
        ZELMainQueue::markCurrentThreadAsMain();
        ZELMainQueue::drain();
    }).join();
    EXPECT_FALSE(ZELMainQueue::isMainThread());
    ZELMainQueue::drain();
    EXPECT_FALSE(ZELMainQueue::isMainThread());
    ZELMainQueue::markCurrentThreadAsMain();
    EXPECT_TRUE(ZELMainQueue::isMainThread());
}

TEST(ZELWorkerPool, GlobalPoolRunsTasksOffTheCallersThread) {
    std::promise<std::thread::id> ranOn;
    ZELWorkerPool::global().async([&] { ranOn.set_value(std::this_thread::get_id()); });
    std::future<std::thread::id> future = ranOn.get_future();
    ASSERT_EQ(future.wait_for(kGenerousTimeout), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
}

TEST(ZELWorkerPool, TasksRunAtOnceOnSeparateThreads) {
    // Two tasks that each wait for the other only finish if they run at the same time.
    ZELWorkerPool pool(2);
    std::promise<void> started[2];
    std::promise<void> bothDone;
    std::atomic<int> done{0};
    for (int task = 0; task < 2; ++task) {
        pool.async([&, task] {
            started[task].set_value();
            started[1 - task].get_future().wait();
            if (++done == 2) bothDone.set_value();
        });
    }
    ASSERT_EQ(bothDone.get_future().wait_for(kGenerousTimeout), std::future_status::ready);
}

TEST(ZELWorkerPool, ShutdownWaitsForTheRunningTaskAndDropsLaterOnes) {
    auto pool = std::make_unique<ZELWorkerPool>(1);
    std::promise<void> started;
    std::promise<void> release;
    std::atomic<bool> finished{false};
    pool->async([&] {
        started.set_value();
        release.get_future().wait();
        finished = true;
    });
    started.get_future().wait();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release.set_value();
    });
    pool->shutdown();
    EXPECT_TRUE(finished);
    releaser.join();

    // Dropped: never run, its captures released at once.
    auto capture = std::make_shared<int>(0);
    bool ran = false;
    pool->async([capture, &ran] { ran = true; });
    EXPECT_EQ(capture.use_count(), 1);
    pool->shutdown();  // again: nothing to do
    pool.reset();
    EXPECT_FALSE(ran);
}

TEST(ZELWorkerPool, ExceptionFromATaskIsLoggedAndThePoolGoesOn) {
    ZELTestLogCapture log;
    ZELWorkerPool pool(1);
    pool.async([] { ZELRaise(ZELOutOfMemoryException, "no room"); });
    std::promise<void> next;
    pool.async([&] { next.set_value(); });
    ASSERT_EQ(next.get_future().wait_for(kGenerousTimeout), std::future_status::ready);
    const auto lines = log.waitForLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "uncaught exception in a task of the worker pool: ZELOutOfMemoryException: no room");
}

TEST(ZELSerialQueue, OneQueuePerNameCurrentOnlyInsideItsTasks) {
    const auto queue = ZELSerialQueue::named("ZELQueueTests.current");
    const auto other = ZELSerialQueue::named("ZELQueueTests.other");
    EXPECT_EQ(queue, ZELSerialQueue::named("ZELQueueTests.current"));
    EXPECT_NE(queue, other);
    EXPECT_FALSE(queue->isCurrent());
    bool inside = false;
    bool otherInside = true;
    queue->sync([&] {
        inside = queue->isCurrent();
        otherInside = other->isCurrent();
    });
    EXPECT_TRUE(inside);
    EXPECT_FALSE(otherInside);
}

TEST(ZELSerialQueue, SyncFromItsOwnQueueRunsInline) {
    const auto queue = ZELSerialQueue::named("ZELQueueTests.reentrant");
    std::vector<std::string> order;
    queue->async([&] {
        order.push_back("outer begins");
        queue->sync([&] { order.push_back("inner"); });
        order.push_back("outer ends");
    });
    queue->async([&] { order.push_back("next"); });
    queue->sync([] {});
    EXPECT_EQ(order, (std::vector<std::string>{"outer begins", "inner", "outer ends", "next"}));
    // A task's exception comes back to the sync caller; the queue goes on.
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("bad"); }), std::runtime_error);
    queue->sync([&] { order.push_back("after"); });
    EXPECT_EQ(order.back(), "after");
}

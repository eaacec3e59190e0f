#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "zel/platform/ZELNotificationCenter.h"
#include "zel/platform/ZELScopedObserver.h"

namespace {

// Records which observers were called, by label, in order.
struct CallLog {
    std::vector<std::string> calls;
    ZELNotificationCenter::Block recorder(std::string label) {
        return [this, label](const ZELNotification&) { calls.push_back(label); };
    }
};

}  // namespace

TEST(ZELNotificationCenter, FiltersByNameAndObject) {
    ZELNotificationCenter center;
    CallLog log;
    int first = 0, second = 0;
    center.addObserver("A", nullptr, log.recorder("A/any"));
    center.addObserver("", &first, log.recorder("any/first"));
    center.addObserver("A", &first, log.recorder("A/first"));
    center.addObserver("", nullptr, log.recorder("any/any"));

    const struct {
        const char* name;
        const void* object;
        std::vector<std::string> expected;
    } cases[] = {
        {"A", &first, {"A/any", "any/first", "A/first", "any/any"}},
        {"A", &second, {"A/any", "any/any"}},
        {"A", nullptr, {"A/any", "any/any"}},
        {"B", &first, {"any/first", "any/any"}},
        {"B", nullptr, {"any/any"}},
        {"a", &second, {"any/any"}},  // names are compared exactly
    };
    for (const auto& c : cases) {
        log.calls.clear();
        center.post(c.name, c.object);
        EXPECT_EQ(log.calls, c.expected) << c.name << " " << c.object;
    }
}

TEST(ZELNotificationCenter, ReentrantPostAndAddDuringPost) {
    ZELNotificationCenter center;
    CallLog log;
    center.addObserver("A", nullptr, [&](const ZELNotification&) {
        log.calls.push_back("A begins");
        center.post("B", nullptr);
        center.addObserver("A", nullptr, log.recorder("added during A"));
        log.calls.push_back("A ends");
    });
    center.addObserver("B", nullptr, log.recorder("B"));
    center.addObserver("A", nullptr, log.recorder("A second"));

    center.post("A", nullptr);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"A begins", "B", "A ends", "A second"}));
    // The observer added during the first post sees only later ones.
    log.calls.clear();
    center.post("A", nullptr);
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"A begins", "B", "A ends", "A second", "added during A"}));
}

TEST(ZELNotificationCenter, ObserverRemovedDuringAPostIsNotCalled) {
    ZELNotificationCenter center;
    CallLog log;
    ZELObserverToken victim = ZELNoObserverToken;
    center.addObserver("A", nullptr, [&](const ZELNotification&) {
        log.calls.push_back("remover");
        center.removeObserver(victim);
    });
    victim = center.addObserver("A", nullptr, log.recorder("victim"));
    center.addObserver("A", nullptr, log.recorder("bystander"));
    center.post("A", nullptr);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"remover", "bystander"}));
}

TEST(ZELNotificationCenter, ObserverMayRemoveItselfWhileRunning) {
    ZELNotificationCenter center;
    auto captured = std::make_shared<std::string>("kept alive while running");
    int calls = 0;
    ZELObserverToken self = ZELNoObserverToken;
    self = center.addObserver("A", nullptr, [&, captured](const ZELNotification&) {
        ++calls;
        center.removeObserver(self);
        // The block and its captures outlive the removal while the block runs.
        EXPECT_EQ(*captured, "kept alive while running");
        center.post("A", nullptr);  // no longer called
    });
    std::weak_ptr<std::string> watch = captured;
    captured.reset();
    center.post("A", nullptr);
    center.post("A", nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(watch.expired());  // released once the post ended
}

TEST(ZELNotificationCenter, RemovalReleasesTheBlockAndIgnoresUnknownTokens) {
    ZELNotificationCenter center;
    auto captured = std::make_shared<int>(0);
    const ZELObserverToken token =
        center.addObserver("", nullptr, [captured](const ZELNotification&) {});
    EXPECT_EQ(captured.use_count(), 2);
    center.removeObserver(token);
    EXPECT_EQ(captured.use_count(), 1);
    center.removeObserver(token);
    center.removeObserver(ZELNoObserverToken);
    center.removeObserver(token + 100);
}

TEST(ZELNotificationCenter, ExceptionFromABlockReachesThePosterAndLeavesNoCallRunning) {
    ZELNotificationCenter center;
    const ZELObserverToken token = center.addObserver(
        "A", nullptr, [](const ZELNotification&) { throw std::runtime_error("observer failed"); });
    EXPECT_THROW(center.post("A", nullptr), std::runtime_error);
    // Removal on another thread would wait forever if the failed call still counted.
    std::async(std::launch::async, [&] { center.removeObserver(token); }).get();
    center.post("A", nullptr);
}

TEST(ZELNotificationCenter, RemovalWaitsForACallRunningOnAnotherThread) {
    ZELNotificationCenter center;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> finished{false};
    const ZELObserverToken token = center.addObserver("A", nullptr, [&](const ZELNotification&) {
        entered.set_value();
        released.wait();
        finished = true;
    });
    std::thread poster([&] { center.post("A", nullptr); });
    entered.get_future().wait();

    std::atomic<bool> finishedWhenRemoved{false};
    std::thread remover([&] {
        center.removeObserver(token);
        finishedWhenRemoved = finished.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release.set_value();
    remover.join();
    poster.join();
    EXPECT_TRUE(finishedWhenRemoved);
}

TEST(ZELScopedObserver, RemovesOnDestructionAndMovesOwnership) {
    ZELNotificationCenter center;
    int calls = 0;
    {
        ZELScopedObserver outer;
        {
            ZELScopedObserver inner(center, "A", nullptr, [&](const ZELNotification&) { ++calls; });
            EXPECT_NE(inner.token(), ZELNoObserverToken);
            outer = std::move(inner);
            EXPECT_EQ(inner.token(), ZELNoObserverToken);
        }
        center.post("A", nullptr);
        EXPECT_EQ(calls, 1);
    }
    center.post("A", nullptr);
    EXPECT_EQ(calls, 1);

    ZELScopedObserver reset(
        center, center.addObserver("A", nullptr, [&](const ZELNotification&) { ++calls; }));
    reset.reset();
    center.post("A", nullptr);
    EXPECT_EQ(calls, 1);
}

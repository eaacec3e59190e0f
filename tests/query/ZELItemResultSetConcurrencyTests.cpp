// Background loading of item result sets: progress on the main thread's queue, cancellation,
// the waiting allItems, loading again after the items were discarded, the database invalidated
// under the loader, and a load resumed from a cancelled one's partial list. Also run under
// ThreadSanitizer.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "query/ZELQueryTestSupport.h"

namespace {

// What one notify call saw.
struct ZELTestReport {
    uint32_t loadedCount;
    bool finished;
};

}  // namespace

class ZELItemResultSetBackgroundTest : public ZELQueryDatabaseTest {
protected:
    void SetUp() override {
        ZELQueryDatabaseTest::SetUp();
        ZELSetTickSourceForTesting([this] { return ticks_.load(); });
    }
    void addItems(int count) {
        for (int index = 0; index < count; ++index) {
            // Keys sort in the reverse of the ID order.
            ids_.push_back(addItem(std::string(1, static_cast<char>('z' - index)), "word"));
        }
    }
    // Every item load advances the clock past the report interval.
    void advanceTicksOnEveryLoad(std::function<void(ZELID)> also = nullptr) {
        ZELTestItem::loadHook() = [this, also](ZELID itemID) {
            ticks_ += 200;
            if (also) also(itemID);
        };
    }
    // The first item load off the test thread waits at the gate answered. Loads on the test thread
    // itself never wait: the test thread is the one that opens the gate.
    std::shared_ptr<ZELTestGate> holdFirstBackgroundLoad() {
        auto gate = std::make_shared<ZELTestGate>();
        auto first = std::make_shared<std::atomic<bool>>(true);
        advanceTicksOnEveryLoad([gate, first, testThread = std::this_thread::get_id()](ZELID) {
            if (std::this_thread::get_id() != testThread && first->exchange(false)) gate->wait();
        });
        return gate;
    }
    // Drains the main queue until `done` holds (at most 10 seconds).
    template <typename Predicate>
    bool drainUntil(Predicate done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            ZELMainQueue::waitAndDrain(std::chrono::milliseconds(20));
        }
        return true;
    }
    ZELItemResultSet::Notify recorder(std::vector<ZELTestReport>& reports) {
        return [&reports](const std::shared_ptr<ZELItemResultSet>& set) {
            EXPECT_TRUE(ZELMainQueue::isMainThread());
            reports.push_back({set->loadedItemCount(), set->finishedLoading()});
        };
    }
    // Loads `set` in the background, recording into reports_; drains until its last report.
    void startLoad(const std::shared_ptr<ZELItemResultSet>& set) { set->loadInBackgroundAndNotifyUsing(recorder(reports_)); }
    bool drainUntilFinished() { return drainUntil([&] { return !reports_.empty() && reports_.back().finished; }); }
    std::shared_ptr<ZELItemResultSet> sortedSet() {
        auto set = setOf(ids_);
        set->setLoadedItemSortDescriptors(ZELItemResultSet::SortCriteria{ZELItemSortDescriptor("testKey", true)});
        return set;
    }

    std::atomic<uint32_t> ticks_{1000};
    std::vector<ZELID> ids_;
    std::vector<ZELTestReport> reports_;
};

TEST_F(ZELItemResultSetBackgroundTest, ProgressReportsArriveOnTheMainQueue) {
    addItems(6);
    auto gate = holdFirstBackgroundLoad();
    auto set = sortedSet();
    std::vector<ZELTestReport> ignored;
    startLoad(set);
    // While the load runs, a second request starts nothing and is never answered.
    set->loadInBackgroundAndNotifyUsing(recorder(ignored));
    EXPECT_FALSE(set->finishedLoading());
    gate->open();

    ASSERT_TRUE(drainUntilFinished());
    // One report per item (the clock jumps past the interval every time), then the last one.
    EXPECT_EQ(reports_.size(), 7u);
    for (size_t index = 1; index < reports_.size(); ++index) {
        EXPECT_GE(reports_[index].loadedCount, reports_[index - 1].loadedCount);
    }
    EXPECT_EQ(reports_.back().loadedCount, 6u);
    EXPECT_EQ(keysOf(set->loadedItems()), "uvwxyz");
    EXPECT_TRUE(ignored.empty());
    EXPECT_EQ(set->allItems(), set->loadedItems());
}

TEST_F(ZELItemResultSetBackgroundTest, NoReportBeforeTheFirstIntervalPasses) {
    addItems(4);
    auto set = sortedSet();  // the clock stands still: only the last report comes
    startLoad(set);
    ASSERT_TRUE(drainUntil([&] { return !reports_.empty(); }));
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_TRUE(reports_[0].finished);
    EXPECT_EQ(reports_[0].loadedCount, 4u);
}

TEST_F(ZELItemResultSetBackgroundTest, CancellationKeepsWhatWasLoaded) {
    addItems(10);
    auto set = sortedSet();
    ZELItemResultSet* raw = set.get();
    const ZELID fourth = ids_[3];
    advanceTicksOnEveryLoad([raw, fourth](ZELID itemID) {
        if (itemID == fourth) raw->cancelBackgroundLoading();
    });
    startLoad(set);
    ASSERT_TRUE(drainUntilFinished());
    // The loader stopped at the progress point after the fourth item and finished with four.
    EXPECT_EQ(reports_.size(), 4u);
    EXPECT_EQ(keysOf(set->loadedItems()), "wxyz");
    EXPECT_EQ(keysOf(set->allItems()), "wxyz");
    EXPECT_EQ(set->itemCount(), 4u);
}

TEST_F(ZELItemResultSetBackgroundTest, AllItemsWaitsForTheRunningLoad) {
    addItems(20);
    auto gate = std::make_shared<ZELTestGate>();
    std::atomic<bool> first{true};
    ZELTestItem::loadHook() = [gate, &first](ZELID) {
        if (first.exchange(false)) gate->wait();
    };
    auto set = sortedSet();
    startLoad(set);
    std::thread opener([gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        gate->open();
    });
    auto items = set->allItems();
    opener.join();
    EXPECT_EQ(items->size(), 20u);
    EXPECT_TRUE(set->finishedLoading());
    EXPECT_EQ(items, set->loadedItems());
    ASSERT_TRUE(drainUntilFinished());
}

TEST_F(ZELItemResultSetBackgroundTest, LoadingAgainAfterDiscardingABackgroundLoad) {
    addItems(5);
    auto set = sortedSet();
    startLoad(set);
    ASSERT_TRUE(drainUntilFinished());

    // allItems must not wait for the finished loader.
    set->discardLoadedItems();
    EXPECT_EQ(keysOf(set->allItems()), "vwxyz");

    // Nor may a new background load be refused.
    set->discardLoadedItems();
    std::vector<ZELTestReport> again;
    set->loadInBackgroundAndNotifyUsing(recorder(again));
    ASSERT_TRUE(drainUntil([&] { return !again.empty() && again.back().finished; }));
    EXPECT_EQ(again.back().loadedCount, 5u);
    EXPECT_EQ(keysOf(set->loadedItems()), "vwxyz");
}

TEST_F(ZELItemResultSetBackgroundTest, ALoaderLeftBehindByDiscardingStoresNothing) {
    addItems(8);
    auto gate = holdFirstBackgroundLoad();
    auto set = sortedSet();
    startLoad(set);

    // Finished from a similar set meanwhile (which cancels the load), then discarded.
    auto whole = setOf(ids_);
    whole->allItems();
    EXPECT_TRUE(set->takeLoadedItemsFromSimilarResultSet(*whole));
    set->discardLoadedItems();
    gate->open();

    // The old loader's partial list never becomes the set's items.
    EXPECT_EQ(keysOf(set->allItems()), "stuvwxyz");
    ASSERT_TRUE(drainUntil([&] { return !reports_.empty(); }));
    EXPECT_EQ(keysOf(set->loadedItems()), "stuvwxyz");
}

TEST_F(ZELItemResultSetBackgroundTest, LoadFinishesWhenTheDatabaseIsInvalidated) {
    addItems(6);
    ZELDatabase* db = db_.get();
    auto loads = std::make_shared<std::atomic<int>>(0);
    ZELTestItem::loadHook() = [db, loads](ZELID) {
        if (++*loads == 3) db->invalidate();
    };
    auto set = setOf(ids_);
    startLoad(set);
    ASSERT_TRUE(drainUntilFinished());
    EXPECT_EQ(set->loadedItemCount(), 3u);
}

// A load started while a cancelled one has stored part of the list goes on from that list,
// passing over the loaded items by their IDs, also when an earlier ID has no item.
TEST_F(ZELItemResultSetBackgroundTest, ResumedLoadPassesOverLoadedItemsByID) {
    addItems(6);
    db_->removeItemsWithIDs(*ZELIDVector::vectorWithID(ids_[1]));
    auto set = setOf(ids_);
    auto restarted = std::make_shared<std::atomic<bool>>(false);
    advanceTicksOnEveryLoad([raw = set.get(), restarted, resumeAt = ids_[3], notify = recorder(reports_)](ZELID itemID) {
        if (itemID == resumeAt && !restarted->exchange(true)) {
            raw->cancelBackgroundLoading();
            raw->loadInBackgroundAndNotifyUsing(notify);
        }
    });
    set->loadInBackgroundAndNotifyUsing(nullptr);
    ASSERT_TRUE(drainUntilFinished());
    std::vector<ZELID> loaded;
    for (const auto& item : *set->loadedItems()) loaded.push_back(item->itemID());
    std::sort(loaded.begin(), loaded.end());
    EXPECT_EQ(loaded, (std::vector<ZELID>{ids_[0], ids_[2], ids_[3], ids_[4], ids_[5]}));
}

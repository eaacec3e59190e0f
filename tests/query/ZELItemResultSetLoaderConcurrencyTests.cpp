// Background loads of item result sets that end early: the database invalidated under the
// loader, and a load resumed from a cancelled one's partial list. Also run under ThreadSanitizer.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "query/ZELQueryTestSupport.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELTickClock.h"
#include "zel/query/ZELItemResultSet.h"

namespace {

// A notify that raises a shared flag once the set has finished (it may run after the test).
ZELItemResultSet::Notify ZELTestFinishFlag(const std::shared_ptr<std::atomic<bool>>& finished) {
    return [finished](const std::shared_ptr<ZELItemResultSet>& set) {
        if (set->finishedLoading()) *finished = true;
    };
}

bool ZELTestDrainUntil(const std::atomic<bool>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ZELMainQueue::waitAndDrain(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

TEST_F(ZELQueryDatabaseTest, BackgroundLoadFinishesWhenTheDatabaseIsInvalidated) {
    std::vector<ZELID> ids;
    for (const char* key : {"a", "b", "c", "d", "e", "f"}) ids.push_back(addItem(key, "word"));
    ZELDatabase* db = db_.get();
    auto loads = std::make_shared<std::atomic<int>>(0);
    ZELTestItem::loadHook() = [db, loads](ZELID) {
        if (++*loads == 3) db->invalidate();
    };
    auto set = ZELItemResultSet::resultSetWithItemIDs(*vectorOf(ids), db_);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    set->loadInBackgroundAndNotifyUsing(ZELTestFinishFlag(finished));

    ASSERT_TRUE(ZELTestDrainUntil(*finished));
    EXPECT_EQ(set->loadedItemCount(), 3u);
}

// A load started while a cancelled one has stored part of the list goes on from that list,
// passing over the loaded items by their IDs, also when an earlier ID has no item.
TEST_F(ZELQueryDatabaseTest, ResumedBackgroundLoadPassesOverLoadedItemsByID) {
    std::vector<ZELID> ids;
    for (const char* key : {"a", "b", "c", "d", "e", "f"}) ids.push_back(addItem(key, "word"));
    db_->removeItemsWithIDs(*ZELIDVector::vectorWithID(ids[1]));
    // Every load moves the clock past the report interval, so progress is stored each time.
    auto ticks = std::make_shared<std::atomic<uint32_t>>(1000);
    ZELSetTickSourceForTesting([ticks] { return ticks->load(); });
    auto set = ZELItemResultSet::resultSetWithItemIDs(*vectorOf(ids), db_);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    auto restarted = std::make_shared<std::atomic<bool>>(false);
    ZELItemResultSet* raw = set.get();
    const ZELID resumeAt = ids[3];
    ZELTestItem::loadHook() = [=](ZELID itemID) {
        *ticks += 200;
        if (itemID == resumeAt && !restarted->exchange(true)) {
            raw->cancelBackgroundLoading();
            raw->loadInBackgroundAndNotifyUsing(ZELTestFinishFlag(finished));
        }
    };
    set->loadInBackgroundAndNotifyUsing(nullptr);

    ASSERT_TRUE(ZELTestDrainUntil(*finished));
    std::vector<ZELID> loaded;
    for (const auto& item : *set->loadedItems()) loaded.push_back(item->itemID());
    std::sort(loaded.begin(), loaded.end());
    EXPECT_EQ(loaded, (std::vector<ZELID>{ids[0], ids[2], ids[3], ids[4], ids[5]}));
}

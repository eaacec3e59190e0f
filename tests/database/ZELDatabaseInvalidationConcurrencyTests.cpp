#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "ZELDatabaseTestSupport.h"
#include "zel/database/ZELItemExistenceMap.h"
#include "zel/platform/ZELException.h"

// A thread already waiting for the lock when invalidate runs must not use the dropped stores:
// once it gets the lock it raises ZELDatabaseInvalidException (the lookups answer empty),
// holding nothing. One case per path that takes the lock.
TEST_F(ZELDatabaseTest, ThreadWaitingForTheLockDuringInvalidateDoesNotUseDroppedStores) {
    struct Case {
        const char* name;
        bool raises;
        std::function<void(ZELDatabase&, ZELAspect&)> run;
    };
    const auto map = ZELItemExistenceMap::mapWithCapacity(4);
    const Case cases[] = {
        {"add", true, [](ZELDatabase& db, ZELAspect&) { db.addItem(ZELTestMakeItem("k2", "b"), nullptr); }},
        {"remove", true, [](ZELDatabase& db, ZELAspect&) { db.removeItemsWithIDs(*ZELIDVector::vectorWithID(1)); }},
        {"read", true, [](ZELDatabase& db, ZELAspect&) { db.itemForItemID(1, nullptr); }},
        {"compact", true, [](ZELDatabase& db, ZELAspect&) { db.compactMemory(2); }},
        {"stale items", true, [&](ZELDatabase& db, ZELAspect&) {
             db.itemIDsForItemsMissingFromItemExistenceMap(*map, nullptr);
         }},
        {"aspect lookup", true, [](ZELDatabase&, ZELAspect& aspect) { aspect.aspectBitIDForValue(u"a", false); }},
        {"count", false, [](ZELDatabase& db, ZELAspect&) { EXPECT_EQ(db.itemCount(), 0u); }},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        db_ = openDatabase();
        db_->addItem(ZELTestMakeItem("k1", "a"), nullptr);
        const auto aspect = db_->aspectWithIdentifier(u"words");
        std::atomic<bool> started{false};
        bool raised = false;

        // The main thread holds the lock while the other one starts to wait for it.
        db_->acquireLock();
        std::thread waiter([&] {
            started = true;
            try {
                testCase.run(*db_, *aspect);
            } catch (const ZELException& exception) {
                raised = exception.name() == ZELDatabaseInvalidException;
            }
        });
        while (!started) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

        // Invalidate while holding (the lock is recursive), then release.
        db_->invalidate();
        db_->relinquishLock();
        waiter.join();
        EXPECT_EQ(raised, testCase.raises);
        EXPECT_EQ(db_->lockCount(), 0u);
        db_.reset();
        std::filesystem::remove_all(folder_);
    }
}

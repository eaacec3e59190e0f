#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "ZELDatabaseTestSupport.h"
#include "zel/database/ZELItemExistenceMap.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELNotificationCenter.h"

// Writers add, re-index and remove items while readers look up terms and read items; then the
// index must be consistent (every live term's use count equals its item count) and every
// change must have been notified.
TEST_F(ZELDatabaseTest, ConcurrentWritersAndReadersKeepTheIndexConsistent) {
    db_ = openDatabase();
    std::mutex notifiedLock;
    std::set<ZELID> notified;
    const ZELObserverToken token = ZELNotificationCenter::defaultCenter().addObserver(
        ZELDatabaseNotification_ItemsDidChange, db_.get(), [&](const ZELNotification& note) {
            for (const auto& [key, value] : note.userInfo) {
                auto ids = std::dynamic_pointer_cast<ZELIDVector>(value.objectValue());
                if (!ids) continue;
                std::lock_guard<std::mutex> guard(notifiedLock);
                ids->enumerateIDs([&](ZELID id, bool&) { notified.insert(id); });
            }
        });

    const std::vector<std::string> words = {"red", "green", "blue", "Red", "GREEN", "cyan", "teal"};
    std::atomic<bool> writing{true};
    std::mutex addedLock;
    std::set<ZELID> addedIDs;
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 3; ++writer) {
        threads.emplace_back([&, writer] {
            std::mt19937 random(static_cast<unsigned>(writer + 1));
            std::vector<ZELID> mine;
            for (int step = 0; step < 120; ++step) {
                const std::string text = words[random() % words.size()] + " " +
                                         words[random() % words.size()];
                const std::string key = "w" + std::to_string(writer) + "-" + std::to_string(step % 40);
                bool added = false;
                const ZELID itemID = db_->addItem(ZELTestMakeItem(key, text), &added);
                if (added) {
                    mine.push_back(itemID);
                    std::lock_guard<std::mutex> guard(addedLock);
                    addedIDs.insert(itemID);
                }
                if (step % 7 == 3 && !mine.empty()) {
                    const ZELID victim = mine[random() % mine.size()];
                    db_->removeItemsWithIDs(*ZELIDVector::vectorWithID(victim));
                    mine.erase(std::find(mine.begin(), mine.end(), victim));
                }
            }
        });
    }
    for (int reader = 0; reader < 2; ++reader) {
        threads.emplace_back([&] {
            auto aspect = db_->aspectWithIdentifier(u"words");
            while (writing.load()) {
                for (const std::string& word : words) {
                    const ZELID bit = aspect->aspectBitIDForValue(ZELStringFromUTF8(word), false);
                    if (bit == 0) continue;
                    db_->accessLockedUsing([&] {
                        db_->itemIDVectorForAspectBitID(bit)->enumerateIDs([&](ZELID itemID, bool& stop) {
                            auto item = db_->itemForItemID(itemID, nullptr);
                            EXPECT_NE(item, nullptr);
                            stop = true;
                        });
                    });
                }
                EXPECT_LE(db_->allExistingItemIDs()->count(), 3u * 40u);
            }
        });
    }
    for (int writer = 0; writer < 3; ++writer) threads[writer].join();
    writing = false;
    for (size_t i = 3; i < threads.size(); ++i) threads[i].join();
    ZELNotificationCenter::defaultCenter().removeObserver(token);

    for (ZELID itemID : addedIDs) EXPECT_TRUE(notified.count(itemID)) << itemID;
    for (const auto& aspect : db_->allAspects()) {
        db_->accessLockedUsing([&] {
            aspect->enumerateCompletionsWithNormalizedPrefix(
                u"", nullptr, [&](const ZELString& value, const ZELString&, ZELID bit, bool&) {
                    const uint64_t items = db_->itemIDVectorForAspectBitID(bit)->count();
                    EXPECT_GT(items, 0u) << ZELStringToUTF8(value);
                    EXPECT_EQ(db_->aspectBitValueInfoForID(bit)->useCount(), items)
                        << ZELStringToUTF8(value);
                });
        });
    }
    ASSERT_TRUE(db_->ensureSerialized());
}

TEST_F(ZELDatabaseTest, InvalidateWaitsForAnotherHolder) {
    db_ = openDatabase();
    std::atomic<bool> holding{false};
    std::thread holder([&] {
        db_->accessLockedUsing([&] {
            holding = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        });
    });
    while (!holding) std::this_thread::yield();
    db_->invalidate();
    holder.join();
    EXPECT_TRUE(db_->isInvalid());
    EXPECT_FALSE(db_->tryAcquireLock());
    EXPECT_TRUE(db_->allAspects().empty());
}

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

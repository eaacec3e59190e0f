#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "ZELDatabaseTestSupport.h"
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

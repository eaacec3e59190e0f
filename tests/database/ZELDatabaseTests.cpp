#include <atomic>
#include <fstream>
#include <thread>

#include "ZELDatabaseTestSupport.h"
#include "zel/database/ZELItemDefinition.h"
#include "zel/database/ZELItemExistenceMap.h"
#include "zel/database/ZELJoinedAspectSet.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELNotificationCenter.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/storage/ZELIDVectorArray.h"
#include "zel/storage/ZELItemStorage.h"
#include "zel/stream/ZELSerializableData.h"

namespace {

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// Records the change notifications of one database.
struct ChangeRecorder {
    explicit ChangeRecorder(const ZELDatabase* db) {
        token = ZELNotificationCenter::defaultCenter().addObserver(
            ZELDatabaseNotification_ItemsDidChange, db, [this](const ZELNotification& note) {
                const ZELValue* value = nullptr;
                for (const auto& [key, entry] : note.userInfo) {
                    if (key == ZELDatabaseNotificationKey_ChangedItemIDs) value = &entry;
                }
                std::vector<ZELID> ids;
                if (value) {
                    auto vector = std::dynamic_pointer_cast<ZELIDVector>(value->objectValue());
                    if (vector) vector->enumerateIDs([&](ZELID id, bool&) { ids.push_back(id); });
                }
                posts.push_back(ids);
                if (onPost) onPost();
            });
    }
    ~ChangeRecorder() { ZELNotificationCenter::defaultCenter().removeObserver(token); }
    ZELObserverToken token;
    std::vector<std::vector<ZELID>> posts;
    std::function<void()> onPost;
};

}  // namespace

// ---- Lifecycle ----

TEST_F(ZELDatabaseTest, OpeningAMissingFolderCreatesItAndTheFirstSaveWritesMetaInfo) {
    db_ = openDatabase();
    EXPECT_TRUE(std::filesystem::is_directory(folder_ / "storage"));
    EXPECT_TRUE(std::filesystem::is_directory(folder_ / "aspects"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "ZELDatabaseInfo.plist"));
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_TRUE(std::filesystem::exists(folder_ / "ZELDatabaseInfo.plist"));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "aspects.plist"));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "storage" / "itemClasses.plist"));
    EXPECT_TRUE(db_->bootstrapFromDisk());  // a repeated call answers true at once
}

TEST_F(ZELDatabaseTest, AnExistingEmptyFolderOpensAsANewDatabase) {
    std::filesystem::create_directories(folder_);
    db_ = openDatabase();
    EXPECT_TRUE(std::filesystem::is_directory(folder_ / "storage"));
    ASSERT_TRUE(db_->ensureSerialized()) << db_->lastSerializationError().description();
    EXPECT_TRUE(std::filesystem::exists(folder_ / "ZELDatabaseInfo.plist"));
}

TEST_F(ZELDatabaseTest, SaveRewritesAspectsFileOnlyAfterAnAspectWasAdded) {
    db_ = openDatabase();
    ASSERT_TRUE(db_->ensureSerialized());
    std::filesystem::remove(folder_ / "aspects.plist");
    std::filesystem::remove(folder_ / "ZELDatabaseInfo.plist");
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_FALSE(std::filesystem::exists(folder_ / "aspects.plist"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "ZELDatabaseInfo.plist"));  // unchanged info
    db_->ensureAspectExistsWithIdentifier(u"extra");
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_TRUE(std::filesystem::exists(folder_ / "aspects.plist"));
}

TEST_F(ZELDatabaseTest, AspectIDsFollowCreationOrder) {
    db_ = openDatabase();
    EXPECT_EQ(db_->allAspects().size(), 3u);
    auto fourth = db_->ensureAspectExistsWithIdentifier(u"date");
    EXPECT_EQ(fourth->aspectID(), 4u);
    EXPECT_EQ(db_->ensureAspectExistsWithIdentifier(u"date"), fourth);
    EXPECT_EQ(db_->allAspects().size(), 4u);
    EXPECT_EQ(db_->ensureAspectExistsWithIdentifier(u""), nullptr);
    auto found = db_->aspectsWithIdentifiers({u"key", u"nope", u"words"});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->aspectIdentifier(), u"key");
    EXPECT_EQ(found[1]->aspectIdentifier(), u"words");
    EXPECT_EQ(db_->aspectWithIdentifier(u"tags")->description().substr(0, 10), "ZELAspect<");
}

TEST_F(ZELDatabaseTest, ClientPlistValuesSurviveAReopen) {
    db_ = openDatabase();
    db_->setClientPlistValue(ZELValue(int64_t{42}), u"answer");
    reopen();
    EXPECT_EQ(db_->clientPlistValueForKey(u"answer").integerValue(), 42);
}

TEST_F(ZELDatabaseTest, LockingAfterInvalidateRaisesAndTryingAnswersFalse) {
    db_ = openDatabase();
    db_->accessLockedUsing([&] {
        db_->accessLockedUsing([&] { EXPECT_EQ(db_->lockCount(), 2u); });
        EXPECT_EQ(db_->lockCount(), 1u);
    });
    EXPECT_EQ(db_->lockCount(), 0u);
    db_->invalidate();
    EXPECT_FALSE(db_->tryAcquireLock());
    try {
        db_->acquireLock();
        FAIL() << "acquireLock did not raise";
    } catch (const ZELException& exception) {
        EXPECT_EQ(exception.name(), ZELDatabaseInvalidException);
        EXPECT_NE(exception.reason().find("has been invalidated"), std::string::npos);
    }
    EXPECT_THROW(db_->accessLockedUsing([] {}), ZELException);
    EXPECT_NE(db_->description().find("has been invalidated."), std::string::npos);
    EXPECT_FALSE(db_->ensureSerialized());
    db_->invalidate();  // twice is harmless
}

TEST_F(ZELDatabaseTest, LockIsReleasedWhenTheBlockThrows) {
    db_ = openDatabase();
    EXPECT_THROW(db_->accessLockedUsing([]() -> int { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_EQ(db_->lockCount(), 0u);
    std::thread other([&] {
        EXPECT_TRUE(db_->tryAcquireLock());
        db_->relinquishLock();
    });
    other.join();
}

// ---- Damaged folders ----

TEST_F(ZELDatabaseTest, MissingMetaInfoInANonEmptyFolderFails) {
    std::filesystem::create_directories(folder_);
    writeText(folder_ / ".hidden", "x");
    auto db = ZELDatabase::databaseWithIdentifier("test.db", nullptr, folder_);
    EXPECT_FALSE(db->bootstrapFromDisk());
    const ZELError error = db->lastSerializationError();
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(),
              "missing ZELDatabaseInfo.plist file from non-empty database bundle folder");
    EXPECT_FALSE(db->ensureSerialized());
    EXPECT_FALSE(std::filesystem::exists(folder_ / "ZELDatabaseInfo.plist"));
    EXPECT_EQ(db->lastSerializationError(), error);
}

TEST_F(ZELDatabaseTest, FolderOfAnotherDatabaseIsRefused) {
    db_ = openDatabase("first.db");
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();
    auto other = ZELDatabase::databaseWithIdentifier("second.db", nullptr, folder_);
    EXPECT_FALSE(other->bootstrapFromDisk());
    EXPECT_TRUE(other->lastSerializationError().matchesZELErrorCode(ZELErrorCodeUnsupportedFormat))
        << other->lastSerializationError().description();
    EXPECT_FALSE(other->ensureSerialized());
}

TEST_F(ZELDatabaseTest, DamagedAspectsFileFailsRestoreAndKeepsTheError) {
    db_ = openDatabase();
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();
    db_ = ZELDatabase::databaseWithIdentifier("test.db", nullptr, folder_);
    ASSERT_TRUE(db_->bootstrapFromDisk());
    writeText(folder_ / "aspects.plist", "<plist><dict><key>broken");
    isDamagedOnPurpose_ = true;
    ZELError error;
    EXPECT_FALSE(db_->restoreAspectsFromInfoFile(&error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(),
              "could not load in " + (folder_ / "aspects.plist").string());
    EXPECT_TRUE(db_->allAspects().empty());
    EXPECT_EQ(db_->lastSerializationError(), error);
    EXPECT_FALSE(db_->ensureSerialized());
}

TEST_F(ZELDatabaseTest, AspectsFileWithWrongVersionOrIdentifierIsRefused) {
    db_ = ZELDatabase::databaseWithIdentifier("test.db", nullptr, folder_);
    ASSERT_TRUE(db_->bootstrapFromDisk());
    const auto url = folder_ / "aspects.plist";
    ZELValue::Dictionary plist{{u"com.tarvo.ZEL.aspectDefs", ZELValue(u"com.tarvo.ZEL.aspectDefs")},
                               {u"Version", ZELValue(int64_t{2})},
                               {u"AspectDefs", ZELValue(ZELValue::Array{})}};
    ASSERT_TRUE(ZELPropertyList::writeFile(url, ZELValue(plist), nullptr));
    ZELError error;
    EXPECT_FALSE(ZELAspect::aspectsLoadedFromInfoFileAtURL(url, db_.get(), &error));
    EXPECT_EQ(error.failureReason(), "unsupported version in " + url.string());
    plist[u"Version"] = ZELValue(int64_t{1});
    plist[u"com.tarvo.ZEL.aspectDefs"] = ZELValue(u"other");
    ASSERT_TRUE(ZELPropertyList::writeFile(url, ZELValue(plist), nullptr));
    EXPECT_FALSE(ZELAspect::aspectsLoadedFromInfoFileAtURL(url, db_.get(), &error));
    EXPECT_EQ(error.failureReason(), "bad identifier in " + url.string());
}

TEST_F(ZELDatabaseTest, UnreadableItemBlobsGiveTheirErrors) {
    db_ = openDatabase();
    bool added = false;
    const ZELID itemID = db_->addItem(ZELTestMakeItem("k1", "alpha"), &added);
    ASSERT_TRUE(added);
    ZELError error;
    EXPECT_EQ(db_->itemForItemID(itemID + 5, &error), nullptr);
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeIDNotAssigned));
    EXPECT_EQ(error.failureReason(), "itemID has not been assigned");

    // An unknown class token, then a blob cut short inside the item's fields.
    db_->accessLockedUsing([&] {
        db_->itemStore()->setObject(ZELSerializableData::dataWithValue({99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                                    itemID, true);
    });
    EXPECT_EQ(db_->itemForItemID(itemID, &error), nullptr);
    EXPECT_EQ(error.failureReason(), "invalid item class token in data");
    const ZELData original = [&] {
        bool again = false;
        const ZELID second = db_->addItem(ZELTestMakeItem("k2", "beta"), &again);
        return db_->itemDataForItemID(second)->value();
    }();
    db_->accessLockedUsing([&] {
        db_->itemStore()->setObject(
            ZELSerializableData::dataWithValue(ZELData(original.begin(), original.begin() + 14)),
            itemID, true);
    });
    EXPECT_EQ(db_->itemForItemID(itemID, &error), nullptr);
    EXPECT_TRUE(error.isError());
    EXPECT_FALSE(error.matchesZELErrorCode(ZELErrorCodeIDNotAssigned));
}

TEST_F(ZELDatabaseTest, ItemBlobStartsWithClassTokenAndExistenceToken) {
    db_ = openDatabase();
    bool added = false;
    const ZELID itemID = db_->addItem(ZELTestMakeItem("k", "w", "", 0x01020304), &added);
    const ZELData blob = db_->itemDataForItemID(itemID)->value();
    ASSERT_GE(blob.size(), 12u);
    // Token 1 is the first class stored; the existence token is (0x01020304, 7).
    EXPECT_EQ(ZELData(blob.begin(), blob.begin() + 12),
              (ZELData{1, 0, 0, 0, 4, 3, 2, 1, 7, 0, 0, 0}));
}

// ---- Items ----

TEST_F(ZELDatabaseTest, AddMatchAndDuplicates) {
    db_ = openDatabase();
    ChangeRecorder recorder(db_.get());
    bool added = false;
    const ZELID first = db_->addItem(ZELTestMakeItem("k1", "Apple APPLE apple pie"), &added);
    EXPECT_TRUE(added);
    EXPECT_EQ(first, 1u);
    // Three written forms of one value: one bit, counted once for the item.
    const ZELID apple = idOf(u"words", "apple");
    EXPECT_NE(apple, 0u);
    EXPECT_EQ(useCountOf(apple), 1u);
    EXPECT_EQ(idsOf(db_->aspectIDVectorForItemID(first)).size(), 3u);  // apple, pie, k1

    const ZELID duplicate = db_->addItem(ZELTestMakeItem("k1", "Apple pie"), &added);
    EXPECT_FALSE(added);
    EXPECT_EQ(duplicate, first);
    EXPECT_EQ(useCountOf(apple), 1u);
    auto stored = std::dynamic_pointer_cast<ZELTestItem>(db_->itemForItemID(first, nullptr));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->words, u"Apple APPLE apple pie");  // terms equal: nothing taken over
    EXPECT_EQ(recorder.posts, (std::vector<std::vector<ZELID>>{{1}}));

    // A match that is not allowed to add stores nothing and counts nothing.
    EXPECT_EQ(db_->itemMatchingItem(ZELTestMakeItem("k9", "cherry"), false, nullptr), nullptr);
    EXPECT_EQ(idOf(u"words", "cherry"), 0u);
    EXPECT_EQ(db_->itemCount(), 1u);
    auto matched = db_->itemMatchingItem(ZELTestMakeItem("k1", "Apple APPLE apple pie"), false, nullptr);
    ASSERT_TRUE(matched);
    EXPECT_EQ(matched->itemID(), first);

    // A duplicate with other terms takes over the stored item's ID with its own terms.
    db_->addItem(ZELTestMakeItem("k1", "banana"), &added);
    EXPECT_FALSE(added);
    EXPECT_EQ(idOf(u"words", "apple"), 0u);
    EXPECT_EQ(useCountOf(idOf(u"words", "banana")), 1u);
    EXPECT_EQ(db_->itemCount(), 1u);
    EXPECT_EQ(recorder.posts.back(), (std::vector<ZELID>{1}));
}

TEST_F(ZELDatabaseTest, ItemWithoutTermsGetsAnEmptyEntry) {
    db_ = openDatabase();
    ChangeRecorder recorder(db_.get());
    auto item = std::make_shared<ZELItem>();
    bool added = false;
    const ZELID itemID = db_->addItem(item, &added);
    EXPECT_TRUE(added);
    EXPECT_EQ(item->itemID(), itemID);
    db_->accessLockedUsing([&] {
        auto entry = db_->aspectBitVectorsByItemID()->vectorAtIndexID(itemID);
        ASSERT_TRUE(entry);
        EXPECT_TRUE(entry->isEmpty());
    });
    EXPECT_EQ(recorder.posts, (std::vector<std::vector<ZELID>>{{itemID}}));
    reopen();
    EXPECT_TRUE(db_->itemExistsForItemID(itemID));
    EXPECT_NE(db_->itemForItemID(itemID, nullptr), nullptr);
}

TEST_F(ZELDatabaseTest, RemovalDropsDeadTermsAndReportsEveryID) {
    db_ = openDatabase();
    bool added = false;
    auto item = ZELTestMakeItem("k1", "solo shared");
    db_->addItem(item, &added);
    db_->addItem(ZELTestMakeItem("k2", "shared"), &added);
    const ZELID solo = idOf(u"words", "solo");
    const ZELID shared = idOf(u"words", "shared");
    EXPECT_EQ(useCountOf(shared), 2u);
    ChangeRecorder recorder(db_.get());
    db_->removeItemsWithIDs(*ZELIDVector::vectorWithIDs(std::vector<ZELID>{1, 9}.data(), 2));
    EXPECT_EQ(recorder.posts, (std::vector<std::vector<ZELID>>{{1, 9}}));
    EXPECT_EQ(idOf(u"words", "solo"), 0u);
    EXPECT_EQ(db_->aspectBitValueInfoForID(solo), nullptr);
    EXPECT_EQ(useCountOf(shared), 1u);
    EXPECT_EQ(idsOf(db_->itemIDVectorForAspectBitID(shared)), (std::vector<ZELID>{2}));
    EXPECT_FALSE(db_->itemExistsForItemID(1));
    EXPECT_EQ(idsOf(db_->allExistingItemIDs()), (std::vector<ZELID>{2}));
    // Completion no longer offers the dead term.
    int visited = 0;
    db_->accessLockedUsing([&] {
        db_->aspectWithIdentifier(u"words")->enumerateCompletionsWithNormalizedPrefix(
            u"so", nullptr, [&](const ZELString&, const ZELString&, ZELID, bool&) { ++visited; });
    });
    EXPECT_EQ(visited, 0);
}

TEST_F(ZELDatabaseTest, ReindexingKeepsTheIDAndMovesCounts) {
    db_ = openDatabase();
    bool added = false;
    auto item = ZELTestMakeItem("k1", "a b");
    const ZELID itemID = db_->addItem(item, &added);
    db_->addItem(ZELTestMakeItem("k2", "b"), &added);
    const ZELID b = idOf(u"words", "b");
    item->words = u"b c";
    ChangeRecorder recorder(db_.get());
    db_->updateIndexingForChangedItem(item);
    EXPECT_EQ(item->itemID(), itemID);
    EXPECT_EQ(item->removedCalls, 0);
    EXPECT_EQ(idOf(u"words", "a"), 0u);
    EXPECT_EQ(idOf(u"words", "b"), b);
    EXPECT_EQ(useCountOf(b), 2u);
    EXPECT_EQ(useCountOf(idOf(u"words", "c")), 1u);
    EXPECT_EQ(recorder.posts, (std::vector<std::vector<ZELID>>{{itemID}}));
}

TEST_F(ZELDatabaseTest, CanonicalStringIsTheMostVotedWrittenForm) {
    db_ = openDatabase();
    bool added = false;
    db_->addItem(ZELTestMakeItem("k1", "Paris"), &added);
    db_->addItem(ZELTestMakeItem("k2", "PARIS"), &added);
    db_->addItem(ZELTestMakeItem("k3", "PARIS"), &added);
    std::shared_ptr<ZELAspect> aspect;
    const ZELID paris = idOf(u"words", "paris");
    EXPECT_EQ(db_->aspectBitCanonicalValueForID(paris, &aspect), u"PARIS");
    EXPECT_EQ(aspect, db_->aspectWithIdentifier(u"words"));
    // The same text in another aspect is another bit.
    db_->addItem(ZELTestMakeItem("k4", "", "paris"), &added);
    const ZELID tagParis = idOf(u"tags", "paris");
    EXPECT_NE(tagParis, paris);
    EXPECT_EQ(db_->aspectBitCanonicalValueForID(tagParis, &aspect), u"paris");
    EXPECT_EQ(aspect, db_->aspectWithIdentifier(u"tags"));
    const std::string text = db_->descriptionForAspectBitIDs(
        *ZELIDVector::vectorWithIDs(std::vector<ZELID>{paris, 999}.data(), 2));
    EXPECT_NE(text.find("PARIS (" + std::to_string(paris) + ") in words \n"), std::string::npos);
    EXPECT_NE(text.find("*** unknown ID 999 \n"), std::string::npos);
    EXPECT_NE(text.find("(2 AspectBitIDs): \n"), std::string::npos);
}

// ---- Notifications ----

TEST_F(ZELDatabaseTest, NotificationsAreBatchedPerOutermostHold) {
    db_ = openDatabase();
    ChangeRecorder recorder(db_.get());
    bool added = false;
    db_->accessLockedUsing([&] {
        db_->addItem(ZELTestMakeItem("k1", "x"), &added);
        db_->accessLockedUsing([&] { db_->addItem(ZELTestMakeItem("k2", "y"), &added); });
        EXPECT_TRUE(recorder.posts.empty());
    });
    EXPECT_EQ(recorder.posts, (std::vector<std::vector<ZELID>>{{1, 2}}));

    db_->beginItemChanges();
    db_->addItem(ZELTestMakeItem("k3", "z"), &added);
    db_->beginItemChanges();
    db_->removeItemsWithIDs(*ZELIDVector::vectorWithID(1));
    db_->endItemChanges();
    EXPECT_EQ(recorder.posts.size(), 1u);
    db_->endItemChanges();
    EXPECT_EQ(recorder.posts.back(), (std::vector<ZELID>{1, 3}));
    EXPECT_EQ(recorder.posts.size(), 2u);
}

TEST_F(ZELDatabaseTest, ObserversMayReenterTheDatabase) {
    db_ = openDatabase();
    ChangeRecorder recorder(db_.get());
    bool added = false;
    std::vector<std::string> seenWords;
    recorder.onPost = [&] {
        EXPECT_EQ(db_->lockCount(), 0u);
        const auto& ids = recorder.posts.back();
        if (auto item = std::dynamic_pointer_cast<ZELTestItem>(db_->itemForItemID(ids.front(), nullptr))) {
            seenWords.push_back(ZELStringToUTF8(item->words));
            // A change made by the observer is posted in turn, not lost.
            if (item->words == u"first") db_->addItem(ZELTestMakeItem("k2", "second"), &added);
        }
    };
    db_->addItem(ZELTestMakeItem("k1", "first"), &added);
    EXPECT_EQ(seenWords, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(recorder.posts.size(), 2u);
}

// ---- Aspects file, escaping, synonyms, joined sets ----

TEST_F(ZELDatabaseTest, AspectsAreRestoredInStoredOrderWithTokenizers) {
    db_ = openDatabase();
    db_->aspectWithIdentifier(u"tags")->setIsShowBitValueLabel(true);
    db_->aspectWithIdentifier(u"tags")->setDefaultAspectBitBooleanOperation(ZELBooleanOperationOR);
    db_->ensureAspectExistsWithIdentifier(u"bare");  // no tokenizer
    bool added = false;
    db_->addItem(ZELTestMakeItem("k1", "hello world", "red"), &added);
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();

    db_ = ZELDatabase::databaseWithIdentifier("test.db", nullptr, folder_);
    ASSERT_TRUE(db_->bootstrapFromDisk());
    ASSERT_TRUE(db_->restoreAspectsFromInfoFile(nullptr));
    const auto aspects = db_->allAspects();
    ASSERT_EQ(aspects.size(), 4u);
    const std::vector<ZELString> names{u"words", u"tags", u"key", u"bare"};
    for (size_t i = 0; i < aspects.size(); ++i) {
        EXPECT_EQ(aspects[i]->aspectIdentifier(), names[i]);
        EXPECT_EQ(aspects[i]->aspectID(), i + 1);
    }
    EXPECT_TRUE(aspects[1]->isShowBitValueLabel());
    EXPECT_EQ(aspects[1]->defaultAspectBitBooleanOperation(), ZELBooleanOperationOR);
    EXPECT_FALSE(aspects[0]->isShowBitValueLabel());
    EXPECT_EQ(aspects[3]->aspectValueTokenizer(), nullptr);
    ASSERT_NE(aspects[0]->aspectValueTokenizer(), nullptr);
    EXPECT_EQ(aspects[0]->aspectValueTokenizer()->clientObjectValueGetter(), "testWords");
    EXPECT_NE(aspects[0]->aspectBitIDForValue(u"Hello", false), 0u);
    // The restored tokenizers index new items.
    db_->addItem(ZELTestMakeItem("k2", "again"), &added);
    EXPECT_TRUE(added);
    EXPECT_NE(aspects[0]->aspectBitIDForValue(u"again", false), 0u);
}

TEST_F(ZELDatabaseTest, AspectIdentifiersNeverLeaveTheAspectsFolder) {
    EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(u"title"), "title");
    EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(u"a.b c"), "a.b c");
    EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(u".."), "%%2E%2E");
    EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(u"."), "%%2E");
    EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(u"../x/y"), "%%2E%2E%2Fx%2Fy");
    EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(ZELString(u"a\0b", 3)), "%a%00b");
    EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(u"%41"), "%%2541");

    db_ = openDatabase();
    auto evil = db_->ensureAspectExistsWithIdentifier(u"../../escape");
    evil->setAspectValueTokenizer(
        ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>("testWords", nullptr));
    bool added = false;
    db_->addItem(ZELTestMakeItem("k1", "inside"), &added);
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_TRUE(std::filesystem::exists(folder_ / "aspects" / "%%2E%2E%2F%2E%2E%2Fescape.sort"));
    EXPECT_FALSE(std::filesystem::exists(folder_.parent_path() / "escape.sort"));
    reopen();
    EXPECT_NE(db_->ensureAspectExistsWithIdentifier(u"../../escape")->aspectBitIDForValue(u"inside", false), 0u);
}

TEST_F(ZELDatabaseTest, SynonymsSurviveAReopen) {
    db_ = openDatabase();
    auto synonyms = db_->synonymList();
    synonyms->addSynonym(u"fruit", {u"apple", u"pear"});
    synonyms->addAspectBitValues({u"plum", u"apple"}, u"fruit");
    synonyms->addSynonym(u"gone", {u"x"});
    synonyms->setAspectBitValues({}, u"gone");
    EXPECT_FALSE(synonyms->hasSynonym(u"gone"));
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"x"), std::nullopt);
    reopen();
    synonyms = db_->synonymList();
    EXPECT_EQ(synonyms->aspectBitValuesForSynonym(u"fruit"),
              (std::vector<ZELString>{u"apple", u"pear", u"plum"}));
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"plum"), u"fruit");
    synonyms->removeAspectBitValues({u"pear"}, u"fruit");
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"pear"), std::nullopt);
    EXPECT_EQ(synonyms->allSynonyms(), (std::vector<ZELString>{u"fruit"}));
}

TEST_F(ZELDatabaseTest, JoinedAspectSetsAreKeptUnderEachIdentifier) {
    db_ = openDatabase();
    auto people = ZELJoinedAspectSet::setWithAspectIdentifiers({u"from", u"to"});
    auto places = ZELJoinedAspectSet::setWithAspectIdentifiers({u"to", u"where"});
    db_->addJoinedAspectSet(people);
    db_->addJoinedAspectSet(places);
    EXPECT_EQ(db_->joinedAspectSetForAspectWithIdentifier(u"from"), people);
    EXPECT_EQ(db_->joinedAspectSetForAspectWithIdentifier(u"to"), places);
    EXPECT_EQ(db_->allJoinedAspectSets().size(), 2u);
    EXPECT_EQ(people->copy(), people);
    EXPECT_EQ(people->description().substr(people->description().find('{')), "{from, to}");
}

// ---- Existence map and stale items ----

TEST_F(ZELDatabaseTest, ExistenceMapSizesAndGrows) {
    auto small = ZELItemExistenceMap_Custom::mapWithCapacity(10);
    EXPECT_EQ(small->bucketCapacity(), 59u);
    EXPECT_EQ(ZELItemExistenceMap_Custom::mapWithCapacity(100)->bucketCapacity(), 201u);
    EXPECT_EQ(ZELItemExistenceMap_Custom::mapWithCapacity(0)->bucketCapacity(), 1u);
    auto map = ZELItemExistenceMap::mapWithCapacity(0);
    for (uint32_t i = 0; i < 500; ++i) map->addItemExistenceToken({i, i * 3 + 1});
    EXPECT_EQ(map->count(), 500u);
    for (uint32_t i = 0; i < 500; ++i) EXPECT_TRUE(map->containsItemExistenceToken({i, i * 3 + 1}));
    EXPECT_FALSE(map->containsItemExistenceToken({501, 1}));
    EXPECT_GE(map->byteCountInActiveRAM(), 12u * 500);
}

TEST_F(ZELDatabaseTest, StaleItemSearchFindsMissingSourcesAndCanBeCancelled) {
    db_ = openDatabase();
    bool added = false;
    auto map = ZELItemExistenceMap::mapWithCapacity(10);
    db_->beginItemChanges();
    for (uint32_t i = 1; i <= 2500; ++i) {
        db_->addItem(ZELTestMakeItem("k" + std::to_string(i), "", "", i), &added);
        if (i % 2 == 0) map->addItemExistenceToken({i, 7});
    }
    db_->endItemChanges();
    int cancelCalls = 0;
    auto missing = db_->itemIDsForItemsMissingFromItemExistenceMap(*map, [&] {
        ++cancelCalls;
        return false;
    });
    EXPECT_EQ(cancelCalls, 2);
    EXPECT_EQ(missing->count(), 1250u);
    EXPECT_TRUE(missing->containsID(1));
    EXPECT_FALSE(missing->containsID(2));
    auto partial = db_->itemIDsForItemsMissingFromItemExistenceMap(*map, [] { return true; });
    EXPECT_EQ(partial->count(), 500u);
}

// ---- Diagnostics and memory ----

TEST_F(ZELDatabaseTest, DescriptionsAndCompaction) {
    db_ = openDatabase();
    bool added = false;
    db_->addItem(ZELTestMakeItem("k1", "alpha beta"), &added);
    const std::string text = db_->descriptionWithDetails(true);
    EXPECT_EQ(text.rfind("In total using ", 0), 0u) << text;
    EXPECT_NE(text.find("Items: 1 count, "), std::string::npos);
    EXPECT_NE(text.find("Search Terms: 3 count, "), std::string::npos);
    EXPECT_NE(text.find("Item to Term Map: "), std::string::npos);
    EXPECT_NE(text.find("Completion Map: "), std::string::npos);
    EXPECT_NE(text.find("TERM TO ITEM BLOCKS:\n"), std::string::npos);
    EXPECT_NE(db_->debugDescription().find(" with 1 items \n"), std::string::npos);
    ASSERT_TRUE(db_->ensureSerialized());
    for (int i = 0; i < 11; ++i) db_->compactMemory(2);
    EXPECT_EQ(useCountOf(idOf(u"words", "alpha")), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<ZELTestItem>(db_->itemForItemID(1, nullptr))->words,
              u"alpha beta");
}

// ---- Refused IDs and invalidation ----

namespace {
struct RecordingDelegate : ZELDatabaseDelegate {
    void databaseEncounteredBackgroundError(ZELDatabase&, const ZELError& error) override {
        errors.push_back(error);
    }
    std::vector<ZELError> errors;
};
}  // namespace

TEST_F(ZELDatabaseTest, RefusedItemIDStopsTheAddCleanly) {
    ZELTestRegisterItemClass();
    RecordingDelegate delegate;
    db_ = ZELDatabase::databaseWithIdentifier("test.db", &delegate, folder_);
    ASSERT_TRUE(db_->bootstrapFromDisk());
    addAspects(*db_);
    // The item store holds ID 2 and the vector store ID 1: the next ID (2) is refused.
    db_->accessLockedUsing([&] {
        db_->itemStore()->assignUniqueIndexID(2, ZELSerializableData::dataWithValue({}));
        db_->aspectBitVectorsByItemID()->assignUniqueIndexID(1, ZELIDVector::vector());
    });
    ChangeRecorder recorder(db_.get());
    bool added = true;
    EXPECT_EQ(db_->addItem(ZELTestMakeItem("k1", "lost words"), &added), 0u);
    EXPECT_FALSE(added);
    EXPECT_EQ(idOf(u"words", "lost"), 0u);
    EXPECT_TRUE(recorder.posts.empty());
    db_->accessLockedUsing([&] {
        EXPECT_EQ(db_->aspectBitVectorsByItemID()->vectorAtIndexID(2), nullptr);
        EXPECT_EQ(db_->aspectBitValueStore()->aspectBitValueCount(), 0u);
    });
    ZELMainQueue::drain();
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_TRUE(delegate.errors[0].matchesZELErrorCode(ZELErrorCodeIDInUse));
    EXPECT_EQ(delegate.errors[0].failureReason(),
              "requested ID is already being used in the item store");
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

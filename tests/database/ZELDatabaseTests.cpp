#include <thread>

#include "ZELDatabaseTestSupport.h"
#include "support/ZELTestFileBytes.h"
#include "zel/database/ZELItemDefinition.h"
#include "zel/database/ZELItemExistenceMap.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELNotificationCenter.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/storage/ZELIDVectorArray.h"
#include "zel/storage/ZELItemStorage.h"

namespace {

// Records the change notifications of one database.
struct ChangeRecorder {
    explicit ChangeRecorder(const ZELDatabase* db) {
        token = ZELNotificationCenter::defaultCenter().addObserver(
            ZELDatabaseNotification_ItemsDidChange, db, [this](const ZELNotification& note) {
                const ZELValue* value = nullptr;
                for (const auto& [key, entry] : note.userInfo) {
                    if (key == ZELDatabaseNotificationKey_ChangedItemIDs) value = &entry;
                }
                posts.push_back(idsOf(value ? std::dynamic_pointer_cast<ZELIDVector>(value->objectValue()) : nullptr));
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

TEST_F(ZELDatabaseTest, AMissingOrEmptyFolderOpensAsANewDatabaseAndTheFirstSaveWritesMetaInfo) {
    for (const bool folderExists : {false, true}) {
        if (folderExists) std::filesystem::create_directories(folder_);
        db_ = openDatabase();
        EXPECT_TRUE(std::filesystem::is_directory(folder_ / "storage"));
        EXPECT_TRUE(std::filesystem::is_directory(folder_ / "aspects"));
        EXPECT_FALSE(std::filesystem::exists(folder_ / "ZELDatabaseInfo.plist"));
        ASSERT_TRUE(db_->ensureSerialized()) << db_->lastSerializationError().description();
        EXPECT_TRUE(std::filesystem::exists(folder_ / "ZELDatabaseInfo.plist"));
        EXPECT_TRUE(std::filesystem::exists(folder_ / "aspects.plist"));
        EXPECT_TRUE(std::filesystem::exists(folder_ / "storage" / "itemClasses.plist"));
        EXPECT_TRUE(db_->bootstrapFromDisk());  // a repeated call answers true at once
        db_->invalidate();
        std::filesystem::remove_all(folder_);
    }
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

TEST_F(ZELDatabaseTest, LockingAfterInvalidateRaisesAndTryingAnswersFalse) {
    db_ = openDatabase();
    db_->accessLockedUsing([&] {
        db_->accessLockedUsing([&] { EXPECT_EQ(db_->lockCount(), 2u); });
        EXPECT_EQ(db_->lockCount(), 1u);
    });
    // A block that throws releases the lock: another thread can take it.
    EXPECT_THROW(db_->accessLockedUsing([]() -> int { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_EQ(db_->lockCount(), 0u);
    std::thread([&] {
        EXPECT_TRUE(db_->tryAcquireLock());
        db_->relinquishLock();
    }).join();
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
    EXPECT_FALSE(db_->ensureSerialized());
    db_->invalidate();  // twice is harmless
}

// ---- Damaged folders ----

// A meta info missing from a non-empty folder, or there but unreadable (a folder in its place,
// damaged bytes), fails the opening alike, and the database then refuses to save.
TEST_F(ZELDatabaseTest, MissingOrUnreadableMetaInfoInANonEmptyFolderFails) {
    isDamagedOnPurpose_ = true;
    const auto infoFile = folder_ / "ZELDatabaseInfo.plist";
    for (const std::string form : {"missing", "folder", "damaged"}) {
        SCOPED_TRACE(form);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        ZELTestWriteFile(folder_ / ".hidden", "x");
        if (form == "folder") std::filesystem::create_directory(infoFile);
        if (form == "damaged") ZELTestWriteFile(infoFile, "<plist>damaged");
        auto db = ZELDatabase::databaseWithIdentifier("test.db", nullptr, folder_);
        EXPECT_FALSE(db->bootstrapFromDisk());
        const ZELError error = db->lastSerializationError();
        EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData)) << error.description();
        EXPECT_EQ(error.failureReason(),
                  "missing ZELDatabaseInfo.plist file from non-empty database bundle folder");
        EXPECT_FALSE(db->ensureSerialized());
        EXPECT_EQ(db->lastSerializationError(), error);
        EXPECT_EQ(std::filesystem::exists(infoFile), form != "missing");  // nothing written
    }
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

TEST_F(ZELDatabaseTest, AspectsFileWithWrongVersionOrIdentifierIsRefused) {
    db_ = openDatabase("test.db", nullptr, false);
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

TEST_F(ZELDatabaseTest, ItemBlobsStartWithTheirTokensAndUnreadableOnesGiveTheirErrors) {
    db_ = openDatabase();
    const ZELID itemID = add("k1", "alpha");
    ZELError error;
    EXPECT_EQ(db_->itemForItemID(itemID + 5, &error), nullptr);
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeIDNotAssigned));
    EXPECT_EQ(error.failureReason(), "itemID has not been assigned");

    // An unknown class token, then a blob cut short inside the item's fields.
    db_->accessLockedUsing([&] {
        db_->itemStore()->setObject(
            ZELSerializableData::dataWithValue({99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), itemID,
            true);
    });
    EXPECT_EQ(db_->itemForItemID(itemID, &error), nullptr);
    EXPECT_EQ(error.failureReason(), "invalid item class token in data");
    const ZELData original = db_->itemDataForItemID(add("k2", "beta"))->value();
    db_->accessLockedUsing([&] {
        db_->itemStore()->setObject(
            ZELSerializableData::dataWithValue(ZELData(original.begin(), original.begin() + 14)),
            itemID, true);
    });
    EXPECT_EQ(db_->itemForItemID(itemID, &error), nullptr);
    EXPECT_TRUE(error.isError());
    EXPECT_FALSE(error.matchesZELErrorCode(ZELErrorCodeIDNotAssigned));

    // A blob starts with the class token (1, the first class stored) and the existence token.
    const ZELData blob =
        db_->itemDataForItemID(db_->addItem(ZELTestMakeItem("k", "w", "", 0x01020304), nullptr))
            ->value();
    ASSERT_GE(blob.size(), 12u);
    EXPECT_EQ(ZELData(blob.begin(), blob.begin() + 12),
              (ZELData{1, 0, 0, 0, 4, 3, 2, 1, 7, 0, 0, 0}));
}

// ---- Items and their notifications (terms and counts are checked by the model test) ----

// Each change is posted with every ID it names, once per outermost hold of the lock or of a
// change batch; a duplicate with equal terms changes nothing, not even the stored blob.
TEST_F(ZELDatabaseTest, ChangesArePostedWithTheirIDsOncePerOutermostHold) {
    db_ = openDatabase();
    ChangeRecorder recorder(db_.get());
    using Posts = std::vector<std::vector<ZELID>>;
    auto first = ZELTestMakeItem("k1", "Apple APPLE apple pie");
    bool added = false;
    EXPECT_EQ(db_->addItem(first, &added), 1u);
    EXPECT_EQ(idsOf(db_->aspectIDVectorForItemID(1)).size(), 3u);  // apple, pie, k1
    EXPECT_EQ(add("k1", "Apple pie", "", &added), 1u);
    EXPECT_FALSE(added);
    auto stored = std::dynamic_pointer_cast<ZELTestItem>(db_->itemForItemID(1, nullptr));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->words, u"Apple APPLE apple pie");
    EXPECT_EQ(recorder.posts, (Posts{{1}}));

    // Re-indexing keeps the ID and never removes the item.
    first->words = u"banana";
    db_->updateIndexingForChangedItem(first);
    EXPECT_EQ(first->itemID(), 1u);
    EXPECT_EQ(first->removedCalls, 0);

    db_->accessLockedUsing([&] {
        add("k2", "x");
        db_->accessLockedUsing([&] { add("k3", "y"); });
        EXPECT_EQ(recorder.posts.size(), 2u);
    });
    db_->beginItemChanges();
    add("k4", "z");
    db_->beginItemChanges();
    db_->removeItemsWithIDs(*ZELIDVector::vectorWithIDs(std::vector<ZELID>{2, 9}.data(), 2));
    db_->endItemChanges();
    EXPECT_EQ(recorder.posts.size(), 3u);
    db_->endItemChanges();
    EXPECT_EQ(recorder.posts, (Posts{{1}, {1}, {2, 3}, {2, 4, 9}}));
    // The removed item's term is gone from the completions.
    int visited = 0;
    db_->accessLockedUsing([&] {
        db_->aspectWithIdentifier(u"words")->enumerateCompletionsWithNormalizedPrefix(
            u"x", nullptr, [&](const ZELString&, const ZELString&, ZELID, bool&) { ++visited; });
    });
    EXPECT_EQ(visited, 0);
}

TEST_F(ZELDatabaseTest, ItemWithoutTermsGetsAnEmptyEntry) {
    db_ = openDatabase();
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
    reopen();
    EXPECT_TRUE(db_->itemExistsForItemID(itemID));
    EXPECT_NE(db_->itemForItemID(itemID, nullptr), nullptr);
}

TEST_F(ZELDatabaseTest, ObserversMayReenterTheDatabase) {
    db_ = openDatabase();
    ChangeRecorder recorder(db_.get());
    std::vector<std::string> seenWords;
    recorder.onPost = [&] {
        EXPECT_EQ(db_->lockCount(), 0u);
        const auto& ids = recorder.posts.back();
        if (auto item =
                std::dynamic_pointer_cast<ZELTestItem>(db_->itemForItemID(ids.front(), nullptr))) {
            seenWords.push_back(ZELStringToUTF8(item->words));
            // A change made by the observer is posted in turn, not lost.
            if (item->words == u"first") add("k2", "second");
        }
    };
    add("k1", "first");
    EXPECT_EQ(seenWords, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(recorder.posts.size(), 2u);
}

// ---- Aspects file, escaping, synonyms ----

TEST_F(ZELDatabaseTest, AspectsAreRestoredInStoredOrderWithTokenizers) {
    db_ = openDatabase();
    db_->aspectWithIdentifier(u"tags")->setIsShowBitValueLabel(true);
    db_->aspectWithIdentifier(u"tags")->setDefaultAspectBitBooleanOperation(ZELBooleanOperationOR);
    db_->ensureAspectExistsWithIdentifier(u"bare");  // no tokenizer
    add("k1", "hello world", "red");
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();

    db_ = openDatabase("test.db", nullptr, false);
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
    EXPECT_EQ(aspects[3]->aspectValueTokenizer(), nullptr);
    EXPECT_NE(aspects[0]->aspectBitIDForValue(u"Hello", false), 0u);
    // The restored tokenizers index new items.
    add("k2", "again");
    EXPECT_NE(aspects[0]->aspectBitIDForValue(u"again", false), 0u);
}

TEST_F(ZELDatabaseTest, AspectIdentifiersNeverLeaveTheAspectsFolder) {
    const std::pair<ZELString, const char*> names[] = {{u"title", "title"},
                                                       {u"a.b c", "a.b c"},
                                                       {u"..", "%%2E%2E"},
                                                       {u".", "%%2E"},
                                                       {u"../x/y", "%%2E%2E%2Fx%2Fy"},
                                                       {ZELString(u"a\0b", 3), "%a%00b"},
                                                       {u"%41", "%%2541"}};
    for (const auto& [identifier, fileName] : names) {
        EXPECT_EQ(ZELAspect::fileBaseNameForAspectIdentifier(identifier), fileName) << fileName;
    }

    db_ = openDatabase();
    auto evil = db_->ensureAspectExistsWithIdentifier(u"../../escape");
    evil->setAspectValueTokenizer(
        ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>("testWords",
                                                                              nullptr));
    add("k1", "inside");
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_TRUE(std::filesystem::exists(folder_ / "aspects" / "%%2E%2E%2F%2E%2E%2Fescape.sort"));
    EXPECT_FALSE(std::filesystem::exists(folder_.parent_path() / "escape.sort"));
    reopen();
    EXPECT_NE(db_->ensureAspectExistsWithIdentifier(u"../../escape")
                  ->aspectBitIDForValue(u"inside", false),
              0u);
}

TEST_F(ZELDatabaseTest, ClientValuesAndSynonymsSurviveAReopen) {
    db_ = openDatabase();
    db_->setClientPlistValue(ZELValue(int64_t{42}), u"answer");
    auto synonyms = db_->synonymList();
    synonyms->addSynonym(u"fruit", {u"apple", u"pear"});
    synonyms->addAspectBitValues({u"plum", u"apple"}, u"fruit");
    synonyms->addSynonym(u"gone", {u"x"});
    synonyms->setAspectBitValues({}, u"gone");
    EXPECT_FALSE(synonyms->hasSynonym(u"gone"));
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"x"), std::nullopt);
    reopen();
    EXPECT_EQ(db_->clientPlistValueForKey(u"answer").integerValue(), 42);
    synonyms = db_->synonymList();
    EXPECT_EQ(synonyms->aspectBitValuesForSynonym(u"fruit"),
              (std::vector<ZELString>{u"apple", u"pear", u"plum"}));
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"plum"), u"fruit");
    synonyms->removeAspectBitValues({u"pear"}, u"fruit");
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"pear"), std::nullopt);
    EXPECT_EQ(synonyms->allSynonyms(), (std::vector<ZELString>{u"fruit"}));
}

// ---- Existence map and stale items ----

TEST_F(ZELDatabaseTest, StaleItemSearchFindsMissingSourcesAndCanBeCancelled) {
    db_ = openDatabase();
    auto map = ZELItemExistenceMap::mapWithCapacity(10);
    db_->beginItemChanges();
    for (uint32_t i = 1; i <= 2500; ++i) {
        db_->addItem(ZELTestMakeItem("k" + std::to_string(i), "", "", i), nullptr);
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

// ---- Refused IDs ----

TEST_F(ZELDatabaseTest, RefusedItemIDStopsTheAddCleanly) {
    ZELTestRecordingDelegate delegate;
    db_ = openDatabase("test.db", &delegate);
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

#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ZELTestDatabaseCheck.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELItem.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStream.h"
#include "zel/storage/ZELAspectBitValueStorage.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

// Shared by the database tests: a small item class, a database on a fresh folder with three
// aspects ("words": whitespace-separated words, "tags": the same, "key": the whole key, used to
// detect duplicates), and helpers.

// An item with a key (its identity for duplicate detection), free words, tags and an
// existence token. Its blob after the base fields: key, words, tags as stream strings.
class ZELTestItem : public ZELItem {
public:
    ZELTestItem() = default;
    ZELTestItem(std::string key, std::string words, std::string tags = "", uint32_t existence = 0)
        : key(ZELStringFromUTF8(key)),
          words(ZELStringFromUTF8(words)),
          tags(ZELStringFromUTF8(tags)),
          existence(existence) {}

    static bool isExistenceCheckable() { return true; }
    ZELItemExistenceToken getExistenceToken() const override { return {existence, 7}; }

    bool isDuplicateImportedItem(const ZELItem* storedItem) const override {
        const auto* stored = dynamic_cast<const ZELTestItem*>(storedItem);
        return stored && ZELNormalizedCaseInsensitiveComparisonString(stored->key) ==
                             ZELNormalizedCaseInsensitiveComparisonString(key);
    }
    bool wasDiscoveredAsOriginalFor(const ZELItem& incomingItem) override {
        const auto& incoming = static_cast<const ZELTestItem&>(incomingItem);
        if (incoming.tags == tags || !adoptTagsOfDuplicates) return false;
        tags = incoming.tags;
        return true;
    }
    void wasRemovedFromDatabase() override { ++removedCalls; }

    bool serializeDatabaseBlobToStream(ZELStream& stream) const override {
        return ZELItem::serializeDatabaseBlobToStream(stream) && stream.writeZELString(key) &&
               stream.writeZELString(words) && stream.writeZELString(tags);
    }
    bool initByDeserializingDatabaseBlobFromStream(ZELStream& stream, ZELID itemID) override {
        if (!ZELItem::initByDeserializingDatabaseBlobFromStream(stream, itemID)) return false;
        auto readKey = stream.readZELString();
        auto readWords = stream.readZELString();
        auto readTags = stream.readZELString();
        if (!readKey || !readWords || !readTags) return false;
        existence = 0;
        key = *readKey;
        words = *readWords;
        tags = *readTags;
        return true;
    }

    ZELString key;
    ZELString words;
    ZELString tags;
    uint32_t existence = 0;
    bool adoptTagsOfDuplicates = false;
    int removedCalls = 0;
};

inline void ZELTestRegisterItemClass() {
    static const bool registered = [] {
        ZELItemClass::registerItemClass<ZELTestItem>("ZELTestItem");
        auto getter = [](ZELString ZELTestItem::*field) {
            return ZELValueGetter([field](const ZELObject& object) -> ZELValue {
                const auto* item = dynamic_cast<const ZELTestItem*>(&object);
                return item ? ZELValue(item->*field) : ZELValue();
            });
        };
        ZELRegistry<ZELValueGetter>::shared().registerEntry("testKey", getter(&ZELTestItem::key));
        ZELRegistry<ZELValueGetter>::shared().registerEntry("testWords", getter(&ZELTestItem::words));
        ZELRegistry<ZELValueGetter>::shared().registerEntry("testTags", getter(&ZELTestItem::tags));
        return true;
    }();
    (void)registered;
}

inline std::shared_ptr<ZELTestItem> ZELTestMakeItem(std::string key, std::string words,
                                                    std::string tags = "", uint32_t existence = 0) {
    return std::make_shared<ZELTestItem>(std::move(key), std::move(words), std::move(tags),
                                         existence);
}

// A fresh folder per test under /dev/shm (unless TMPDIR is set), removed afterwards.
class ZELDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELTestRegisterItemClass();
        const std::filesystem::path scratch =
            (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0)
                ? std::filesystem::path("/dev/shm")
                : std::filesystem::temp_directory_path();
        folder_ = scratch / ("zel-database-" + std::to_string(::getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
    }
    void TearDown() override {
        if (db_) db_->invalidate();
        db_.reset();
        if (!isDamagedOnPurpose_) ZELTestExpectCleanDatabaseFolders(folder_);
        std::filesystem::remove_all(folder_);
    }

    // A database on the folder, opened, with the three aspects (in the order words, tags, key).
    std::shared_ptr<ZELDatabase> openDatabase(const std::string& identifier = "test.db") {
        auto db = ZELDatabase::databaseWithIdentifier(identifier, nullptr, folder_);
        EXPECT_TRUE(db->bootstrapFromDisk()) << db->lastSerializationError().description();
        addAspects(*db);
        return db;
    }
    static void addAspects(ZELDatabase& db) {
        db.ensureAspectExistsWithIdentifier(u"words")->setAspectValueTokenizer(
            ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>("testWords",
                                                                                  nullptr));
        db.ensureAspectExistsWithIdentifier(u"tags")->setAspectValueTokenizer(
            ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>("testTags",
                                                                                  nullptr));
        auto key = db.ensureAspectExistsWithIdentifier(u"key");
        key->setAspectValueTokenizer(
            ZELTokenizer::tokenizerWithClientObjectGetter<ZELIdentityValueTokenizer>("testKey",
                                                                                     nullptr));
        key->setIsUsedToDetectDuplicates(true);
    }
    // Saves, invalidates and opens the folder again.
    void reopen() {
        ASSERT_TRUE(db_->ensureSerialized()) << db_->lastSerializationError().description();
        db_->invalidate();
        db_ = openDatabase();
    }

    // The aspect bit ID of a term (any written form) in an aspect; 0 when absent.
    ZELID idOf(const char16_t* aspect, const std::string& term) {
        return db_->aspectWithIdentifier(aspect)->aspectBitIDForValue(ZELStringFromUTF8(term), false);
    }
    uint64_t useCountOf(ZELID aspectBitID) {
        auto info = db_->aspectBitValueInfoForID(aspectBitID);
        return info ? info->useCount() : 0;
    }
    std::vector<ZELID> idsOf(const std::shared_ptr<ZELIDVector>& vector) {
        std::vector<ZELID> ids;
        if (vector) vector->enumerateIDs([&](ZELID id, bool&) { ids.push_back(id); });
        return ids;
    }

    std::filesystem::path folder_;
    std::shared_ptr<ZELDatabase> db_;
    // Set by a test that damages its folder on purpose: the teardown then skips the check.
    bool isDamagedOnPurpose_ = false;
};

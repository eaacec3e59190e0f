#pragma once

#include <set>
#include <vector>

#include "support/ZELTestDatabaseCheck.h"
#include "support/ZELTestItem.h"
#include "support/ZELTestScratchFolder.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/storage/ZELAspectBitValueStorage.h"
#include "zel/stream/ZELSerializableData.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

// Shared by the database tests: a database of ZELTestItem on a fresh folder with three aspects
// ("words": whitespace-separated words, "tags": the same, "key": the whole key, used to detect
// duplicates), and helpers.

// Every item (ID, blob, the values of its terms) and, per aspect in list order, every term with
// its use count and items. Term IDs are left out: which free ID a new term gets depends on which
// saves succeeded.
inline std::string ZELTestContentDigest(ZELDatabase& db) {
    std::string digest;
    db.accessLockedUsing([&] {
        const auto ids = db.allExistingItemIDs();
        ids->enumerateIDs([&](ZELID id, bool&) {
            const auto blob = db.itemDataForItemID(id);
            digest += std::to_string(id) + ":" +
                      (blob ? std::string(blob->value().begin(), blob->value().end()) : "?");
            std::set<std::string> values;
            db.aspectIDVectorForItemID(id)->enumerateIDs([&](ZELID term, bool&) {
                values.insert(
                    ZELStringToUTF8(db.aspectBitNormalizedValueForID(term).value_or(u"?")));
            });
            for (const std::string& value : values) digest += " " + value;
            digest += "\n";
        });
        for (const auto& aspect : db.allAspects()) {
            aspect->enumerateCompletionsWithNormalizedPrefix(
                u"", nullptr, [&](const ZELString& value, const ZELString&, ZELID id, bool&) {
                    const auto info = db.aspectBitValueInfoForID(id);
                    digest += ZELStringToUTF8(value) + " uses " +
                              std::to_string(info ? info->useCount() : 0) + " in";
                    db.itemIDVectorForAspectBitID(id)->enumerateIDs(
                        [&](ZELID item, bool&) { digest += " " + std::to_string(item); });
                    digest += "\n";
                });
        }
    });
    return digest;
}

// The IDs of a vector in order; none for null.
inline std::vector<ZELID> idsOf(const std::shared_ptr<ZELIDVector>& vector) {
    std::vector<ZELID> ids;
    if (vector) vector->enumerateIDs([&](ZELID id, bool&) { ids.push_back(id); });
    return ids;
}

// Keeps the errors a database reports to its delegate.
struct ZELTestRecordingDelegate : ZELDatabaseDelegate {
    void databaseEncounteredBackgroundError(ZELDatabase&, const ZELError& error) override {
        errors.push_back(error);
    }
    std::vector<ZELError> errors;
};

// A fresh folder per test under /dev/shm (unless TMPDIR is set), removed afterwards.
class ZELDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELTestRegisterItemClass();
        folder_ = ZELTestScratchFolder("zel-database");
    }
    void TearDown() override {
        if (db_) db_->invalidate();
        db_.reset();
        if (!isDamagedOnPurpose_) ZELTestExpectCleanDatabaseFolders(folder_);
        std::filesystem::remove_all(folder_);
    }

    // A database on the folder, opened, with the three aspects (in the order words, tags, key)
    // unless `defineAspects` is false.
    std::shared_ptr<ZELDatabase> openDatabase(const std::string& identifier = "test.db",
                                              ZELDatabaseDelegate* delegate = nullptr,
                                              bool defineAspects = true) {
        auto db = ZELDatabase::databaseWithIdentifier(identifier, delegate, folder_);
        EXPECT_TRUE(db->bootstrapFromDisk()) << db->lastSerializationError().description();
        if (defineAspects) addAspects(*db);
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

    // Adds a ZELTestItem; answers its ID and, through added, whether it was new.
    ZELID add(const std::string& key, const std::string& words, const std::string& tags = "",
              bool* added = nullptr) {
        bool wasAdded = false;
        const ZELID itemID = db_->addItem(ZELTestMakeItem(key, words, tags), &wasAdded);
        if (added) *added = wasAdded;
        return itemID;
    }

    // The aspect bit ID of a term (any written form) in an aspect; 0 when absent.
    ZELID idOf(const char16_t* aspect, const std::string& term) {
        return db_->aspectWithIdentifier(aspect)->aspectBitIDForValue(ZELStringFromUTF8(term),
                                                                      false);
    }
    uint64_t useCountOf(ZELID aspectBitID) {
        auto info = db_->aspectBitValueInfoForID(aspectBitID);
        return info ? info->useCount() : 0;
    }

    std::filesystem::path folder_;
    std::shared_ptr<ZELDatabase> db_;
    // Set by a test that damages its folder on purpose: the teardown then skips the check.
    bool isDamagedOnPurpose_ = false;
};

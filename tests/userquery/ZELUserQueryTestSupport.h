#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "support/ZELTestScratchFolder.h"
#include "support/ZELTestDatabaseCheck.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/database/ZELJoinedAspectSet.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELString.h"
#include "zel/query/ZELQuery.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

// Shared by the user-query tests: a database of records with five text fields whose aspects
// cover every way a criteria's terms are looked up:
//   "title", "body"  AND-aspects
//   "tag", "label"   OR-aspects
//   "first", "last"  OR-aspects joined in one joined aspect set
// Each field holds whitespace-separated words.

// A fresh scratch folder per test under /dev/shm (unless TMPDIR is set), removed afterwards,
// with the database in its "db" subfolder.
class ZELUserQueryDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELRecordItem::registerItemClass();
        folder_ = ZELTestScratchFolder("zel-userquery");
        std::filesystem::create_directories(folder_);
        db_ = ZELDatabase::databaseWithIdentifier("userquery.test", nullptr, folder_ / "db");
        ASSERT_TRUE(db_->bootstrapFromDisk()) << db_->lastSerializationError().description();
        for (const std::string name : {"title", "body", "tag", "label", "first", "last"}) {
            ZELRecordItem::registerValueGetterForKey(ZELStringFromUTF8(name));
            auto aspect = db_->ensureAspectExistsWithIdentifier(ZELStringFromUTF8(name));
            aspect->setAspectValueTokenizer(
                ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>(name, nullptr));
            if (name != "title" && name != "body") {
                aspect->setDefaultAspectBitBooleanOperation(ZELBooleanOperationOR);
            }
        }
        db_->addJoinedAspectSet(ZELJoinedAspectSet::setWithAspectIdentifiers({u"first", u"last"}));
    }
    void TearDown() override {
        if (db_) db_->invalidate();
        db_.reset();
        ZELTestExpectCleanDatabaseFolders(folder_);
        std::filesystem::remove_all(folder_);
    }

    ZELID addItem(const std::map<std::string, std::string>& values) {
        ZELValue::Dictionary record;
        for (const auto& [key, text] : values) record.emplace(ZELStringFromUTF8(key), ZELValue::fromUTF8(text));
        bool wasAdded = false;
        const ZELID id = db_->addItem(ZELRecordItem::itemWithValues(std::move(record)), &wasAdded);
        EXPECT_TRUE(wasAdded);
        return id;
    }
    std::shared_ptr<ZELAspect> aspect(const std::string& identifier) {
        return db_->aspectWithIdentifier(ZELStringFromUTF8(identifier));
    }
    ZELID idOf(const std::string& aspectIdentifier, const std::string& term) {
        return aspect(aspectIdentifier)->aspectBitIDForValue(ZELStringFromUTF8(term), false);
    }
    // The items the query matches; none for a null query.
    std::set<ZELID> evaluate(const std::shared_ptr<ZELQuery>& query) {
        std::set<ZELID> items;
        if (!query) return items;
        auto vector = db_->accessLockedUsing(
            [&] { return query->calculateMatchingItemIDVector(*db_, nullptr); });
        if (vector) vector->enumerateIDs([&](ZELID id, bool&) { items.insert(id); });
        return items;
    }

    std::filesystem::path folder_;
    std::shared_ptr<ZELDatabase> db_;
};

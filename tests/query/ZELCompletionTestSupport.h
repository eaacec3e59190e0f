#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ZELTestScratchFolder.h"
#include "support/ZELTestDatabaseCheck.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELString.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

// Shared by the completion tests: a database on a fresh folder (under /dev/shm unless TMPDIR
// is set) with two aspects of whitespace-separated terms, "words" and "tags", filled with
// record items whose "words" and "tags" values they read.
class ZELCompletionDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELRecordItem::registerItemClass();
        folder_ = ZELTestScratchFolder("zel-completion");
        db_ = ZELDatabase::databaseWithIdentifier("completion.test", nullptr, folder_);
        ASSERT_TRUE(db_->bootstrapFromDisk()) << db_->lastSerializationError().description();
        for (const char16_t* identifier : {u"words", u"tags"}) {
            ZELRecordItem::registerValueGetterForKey(identifier);
            db_->ensureAspectExistsWithIdentifier(identifier)->setAspectValueTokenizer(
                ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>(
                    ZELStringToUTF8(identifier), nullptr));
        }
    }
    void TearDown() override {
        if (db_) db_->invalidate();
        db_.reset();
        ZELTestExpectCleanDatabaseFolders(folder_);
        std::filesystem::remove_all(folder_);
    }

    ZELID addItem(const std::string& words, const std::string& tags = "") {
        ZELValue::Dictionary values;
        values[u"words"] = ZELValue::fromUTF8(words);
        values[u"tags"] = ZELValue::fromUTF8(tags);
        // A serial number keeps records with equal terms apart.
        values[u"serial"] = ZELValue(static_cast<int64_t>(++serial_));
        bool wasAdded = false;
        const ZELID id = db_->addItem(ZELRecordItem::itemWithValues(std::move(values)), &wasAdded);
        EXPECT_TRUE(wasAdded);
        return id;
    }
    std::shared_ptr<ZELAspect> aspect(const char16_t* identifier) {
        return db_->aspectWithIdentifier(identifier);
    }
    static std::shared_ptr<ZELIDVector> vectorOf(std::vector<ZELID> ids) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        return ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
    }
    static std::vector<std::string> utf8(const std::vector<ZELString>& strings) {
        std::vector<std::string> converted;
        for (const ZELString& text : strings) converted.push_back(ZELStringToUTF8(text));
        return converted;
    }

    std::filesystem::path folder_;
    std::shared_ptr<ZELDatabase> db_;
    int64_t serial_ = 0;
};

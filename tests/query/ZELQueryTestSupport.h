#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ZELTestDatabaseCheck.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTickClock.h"
#include "zel/stream/ZELStream.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

// Shared by the query tests: a small item class and a database on a fresh folder with two
// aspects, "words" and "tags" (whitespace-separated terms), and helpers.

// An item with a key (its sort value), words and tags. Its blob after the base fields: key,
// words, tags as stream strings. `loadHook`, when set, is called with the item ID each time
// an item is built from its blob (the result-set tests use it to drive time and to cancel).
class ZELQueryTestItem : public ZELItem {
public:
    ZELQueryTestItem() = default;
    ZELQueryTestItem(std::string key, std::string words, std::string tags = "")
        : key(ZELStringFromUTF8(key)), words(ZELStringFromUTF8(words)), tags(ZELStringFromUTF8(tags)) {}

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
        key = *readKey;
        words = *readWords;
        tags = *readTags;
        if (auto hook = loadHook()) hook(itemID);
        return true;
    }

    // Set and cleared by the test's thread while no load runs.
    static std::function<void(ZELID)>& loadHook() {
        static std::function<void(ZELID)> hook;
        return hook;
    }

    ZELString key;
    ZELString words;
    ZELString tags;
};

inline void ZELQueryTestRegisterItemClass() {
    static const bool registered = [] {
        ZELItemClass::registerItemClass<ZELQueryTestItem>("ZELQueryTestItem");
        auto getter = [](ZELString ZELQueryTestItem::*field) {
            return ZELValueGetter([field](const ZELObject& object) -> ZELValue {
                const auto* item = dynamic_cast<const ZELQueryTestItem*>(&object);
                return item ? ZELValue(item->*field) : ZELValue();
            });
        };
        auto& getters = ZELRegistry<ZELValueGetter>::shared();
        getters.registerEntry("queryTestKey", getter(&ZELQueryTestItem::key));
        getters.registerEntry("queryTestWords", getter(&ZELQueryTestItem::words));
        getters.registerEntry("queryTestTags", getter(&ZELQueryTestItem::tags));
        return true;
    }();
    (void)registered;
}

// A fresh folder per test under /dev/shm (unless TMPDIR is set), removed afterwards.
class ZELQueryDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELQueryTestRegisterItemClass();
        const std::filesystem::path scratch =
            (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0)
                ? std::filesystem::path("/dev/shm")
                : std::filesystem::temp_directory_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = scratch / ("zel-query-" + std::to_string(::getpid()) + "-" +
                             info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(folder_);
        db_ = ZELDatabase::databaseWithIdentifier("query.test", nullptr, folder_);
        ASSERT_TRUE(db_->bootstrapFromDisk()) << db_->lastSerializationError().description();
        for (auto [identifier, getter] : {std::pair{u"words", "queryTestWords"},
                                          std::pair{u"tags", "queryTestTags"}}) {
            db_->ensureAspectExistsWithIdentifier(identifier)->setAspectValueTokenizer(
                ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>(getter,
                                                                                      nullptr));
        }
    }
    void TearDown() override {
        ZELQueryTestItem::loadHook() = nullptr;
        ZELSetTickSourceForTesting(nullptr);
        ZELMainQueue::drain();
        if (db_) db_->invalidate();
        db_.reset();
        ZELTestExpectCleanDatabaseFolders(folder_);
        std::filesystem::remove_all(folder_);
    }

    ZELID addItem(const std::string& key, const std::string& words, const std::string& tags = "") {
        bool wasAdded = false;
        const ZELID id = db_->addItem(std::make_shared<ZELQueryTestItem>(key, words, tags), &wasAdded);
        EXPECT_TRUE(wasAdded);
        return id;
    }
    std::shared_ptr<ZELAspect> aspect(const char16_t* identifier) {
        return db_->aspectWithIdentifier(identifier);
    }
    // The aspect bit ID of a term in an aspect; 0 when absent.
    ZELID idOf(const char16_t* aspectIdentifier, const std::string& term) {
        return aspect(aspectIdentifier)->aspectBitIDForValue(ZELStringFromUTF8(term), false);
    }
    static std::vector<ZELID> idsOf(const std::shared_ptr<ZELIDVector>& vector) {
        std::vector<ZELID> ids;
        if (vector) vector->enumerateIDs([&](ZELID id, bool&) { ids.push_back(id); });
        return ids;
    }
    static std::shared_ptr<ZELIDVector> vectorOf(std::vector<ZELID> ids) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        return ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
    }

    std::filesystem::path folder_;
    std::shared_ptr<ZELDatabase> db_;
};

#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "support/ZELTestItem.h"
#include "support/ZELTestScratchFolder.h"
#include "support/ZELTestDatabaseCheck.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELTickClock.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

// Shared by the query and completion tests: a database of ZELTestItem on a fresh folder with two
// aspects, "words" and "tags" (whitespace-separated terms), and helpers.

// The IDs of a vector (none for null) in order, and a vector of IDs given in any order.
inline std::vector<ZELID> idsOf(const std::shared_ptr<ZELIDVector>& vector) {
    std::vector<ZELID> ids;
    if (vector) vector->enumerateIDs([&](ZELID id, bool&) { ids.push_back(id); });
    return ids;
}
inline std::shared_ptr<ZELIDVector> vectorOf(std::vector<ZELID> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
}

// A gate that holds every thread waiting at it until it is opened, once.
class ZELTestGate {
public:
    void wait() {
        std::unique_lock<std::mutex> guard(lock_);
        opened_.wait(guard, [&] { return isOpen_; });
    }
    void open() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            isOpen_ = true;
        }
        opened_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable opened_;
    bool isOpen_ = false;
};

// The keys of a list of ZELTestItem in order; "(none)" for no list.
inline std::string keysOf(const ZELItemResultSet::SharedItemList& items) {
    if (!items) return "(none)";
    std::string keys;
    for (const auto& item : *items) keys += ZELStringToUTF8(static_cast<ZELTestItem&>(*item).key);
    return keys;
}

// Whether a query node is of the kind T.
template <typename T>
bool isKind(const std::shared_ptr<ZELQuery>& query) {
    return dynamic_cast<const T*>(query.get()) != nullptr;
}

// A fresh folder per test under /dev/shm (unless TMPDIR is set), removed afterwards.
class ZELQueryDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELTestRegisterItemClass();
        folder_ = ZELTestScratchFolder("zel-query");
        db_ = ZELDatabase::databaseWithIdentifier("query.test", nullptr, folder_);
        ASSERT_TRUE(db_->bootstrapFromDisk()) << db_->lastSerializationError().description();
        for (auto [identifier, getter] : {std::pair{u"words", "testWords"},
                                          std::pair{u"tags", "testTags"}}) {
            db_->ensureAspectExistsWithIdentifier(identifier)->setAspectValueTokenizer(
                ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>(getter,
                                                                                      nullptr));
        }
    }
    void TearDown() override {
        ZELTestItem::loadHook() = nullptr;
        ZELSetTickSourceForTesting(nullptr);
        ZELMainQueue::drain();
        if (db_) db_->invalidate();
        db_.reset();
        ZELTestExpectCleanDatabaseFolders(folder_);
        std::filesystem::remove_all(folder_);
    }

    ZELID addItem(const std::string& key, const std::string& words, const std::string& tags = "") {
        bool wasAdded = false;
        const ZELID id = db_->addItem(std::make_shared<ZELTestItem>(key, words, tags), &wasAdded);
        EXPECT_TRUE(wasAdded);
        return id;
    }
    // An item known by its terms alone (no aspect detects duplicates).
    ZELID addWords(const std::string& words, const std::string& tags = "") { return addItem("", words, tags); }
    std::shared_ptr<ZELAspect> aspect(const char16_t* identifier) {
        return db_->aspectWithIdentifier(identifier);
    }
    std::shared_ptr<ZELItemResultSet> setOf(std::vector<ZELID> ids) {
        return ZELItemResultSet::resultSetWithItemIDs(*vectorOf(std::move(ids)), db_);
    }
    // The aspect bit ID of a term in an aspect; 0 when absent.
    ZELID idOf(const char16_t* aspectIdentifier, const std::string& term) {
        return aspect(aspectIdentifier)->aspectBitIDForValue(ZELStringFromUTF8(term), false);
    }
    static std::vector<std::string> utf8(const std::vector<ZELString>& strings) {
        std::vector<std::string> converted;
        for (const ZELString& text : strings) converted.push_back(ZELStringToUTF8(text));
        return converted;
    }
    // The canonical strings of the completions of `prefix` in `aspects`.
    static std::vector<std::string> complete(const std::string& prefix,
                                             const ZELCompletionCollector::AspectList& aspects,
                                             uint64_t limit = ZELCompletionCollector::noLimit,
                                             bool* outSurpassed = nullptr,
                                             std::shared_ptr<ZELItemResultSet> resultSet = nullptr) {
        const ZELString wide = ZELStringFromUTF8(prefix);
        return utf8(ZELCompletionCollector::completionsForMatchingPrefix(&wide, aspects, resultSet,
                                                                        limit, outSurpassed));
    }

    std::filesystem::path folder_;
    std::shared_ptr<ZELDatabase> db_;
};

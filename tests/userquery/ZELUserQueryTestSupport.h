#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "support/ZELTestScratchFolder.h"
#include "support/ZELTestDatabaseCheck.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELItem.h"
#include "zel/database/ZELJoinedAspectSet.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/platform/ZELString.h"
#include "zel/query/ZELQuery.h"
#include "zel/stream/ZELStream.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

// Shared by the user-query tests: an item with five text fields and a database whose aspects
// cover every way a criteria's terms are looked up:
//   "title", "body"  AND-aspects
//   "tag", "label"   OR-aspects
//   "first", "last"  OR-aspects joined in one joined aspect set
// Each field holds whitespace-separated words.

inline const std::vector<std::string>& ZELUserQueryTestAspectNames() {
    static const std::vector<std::string> names = {"title", "body", "tag", "label", "first", "last"};
    return names;
}

class ZELUserQueryTestItem : public ZELItem {
public:
    ZELUserQueryTestItem() : fields(ZELUserQueryTestAspectNames().size()) {}
    explicit ZELUserQueryTestItem(std::map<std::string, std::string> values)
        : fields(ZELUserQueryTestAspectNames().size()) {
        const auto& names = ZELUserQueryTestAspectNames();
        for (size_t i = 0; i < names.size(); ++i) {
            if (auto found = values.find(names[i]); found != values.end()) {
                fields[i] = ZELStringFromUTF8(found->second);
            }
        }
    }

    bool serializeDatabaseBlobToStream(ZELStream& stream) const override {
        if (!ZELItem::serializeDatabaseBlobToStream(stream)) return false;
        for (const ZELString& field : fields) {
            if (!stream.writeZELString(field)) return false;
        }
        return true;
    }
    bool initByDeserializingDatabaseBlobFromStream(ZELStream& stream, ZELID itemID) override {
        if (!ZELItem::initByDeserializingDatabaseBlobFromStream(stream, itemID)) return false;
        for (ZELString& field : fields) {
            auto read = stream.readZELString();
            if (!read) return false;
            field = *read;
        }
        return true;
    }

    std::vector<ZELString> fields;  // in the order of ZELUserQueryTestAspectNames
};

inline void ZELUserQueryTestRegisterItemClass() {
    static const bool registered = [] {
        ZELItemClass::registerItemClass<ZELUserQueryTestItem>("ZELUserQueryTestItem");
        const auto& names = ZELUserQueryTestAspectNames();
        for (size_t i = 0; i < names.size(); ++i) {
            ZELRegistry<ZELValueGetter>::shared().registerEntry(
                "userQueryTest_" + names[i], ZELValueGetter([i](const ZELObject& object) -> ZELValue {
                    const auto* item = dynamic_cast<const ZELUserQueryTestItem*>(&object);
                    return item ? ZELValue(item->fields[i]) : ZELValue();
                }));
        }
        return true;
    }();
    (void)registered;
}

// A fresh scratch folder per test under /dev/shm (unless TMPDIR is set), removed afterwards,
// with the database in its "db" subfolder.
class ZELUserQueryDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELUserQueryTestRegisterItemClass();
        folder_ = ZELTestScratchFolder("zel-userquery");
        std::filesystem::create_directories(folder_);
        db_ = ZELDatabase::databaseWithIdentifier("userquery.test", nullptr, folder_ / "db");
        ASSERT_TRUE(db_->bootstrapFromDisk()) << db_->lastSerializationError().description();
        for (const std::string& name : ZELUserQueryTestAspectNames()) {
            auto aspect = db_->ensureAspectExistsWithIdentifier(ZELStringFromUTF8(name));
            aspect->setAspectValueTokenizer(
                ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>(
                    "userQueryTest_" + name, nullptr));
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

    ZELID addItem(std::map<std::string, std::string> values) {
        bool wasAdded = false;
        const ZELID id =
            db_->addItem(std::make_shared<ZELUserQueryTestItem>(std::move(values)), &wasAdded);
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

#pragma once

#include <functional>
#include <memory>
#include <string>

#include "zel/database/ZELItem.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStream.h"
#include "zel/tokenizer/ZELStringComparison.h"

// The item of the database and query tests: a key (its identity for duplicate detection and
// its sort value), free words, tags and an existence token. Its blob after the base fields:
// key, words, tags as stream strings. The getters "testKey", "testWords" and "testTags"
// answer the three texts. Each test owns its items; `loadHook` is set and cleared by the
// test's thread while no load runs.
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
        if (auto hook = loadHook()) hook(itemID);
        return true;
    }

    // Called with the item ID each time an item is built from its blob (the result-set tests
    // use it to drive time and to cancel).
    static std::function<void(ZELID)>& loadHook() {
        static std::function<void(ZELID)> hook;
        return hook;
    }

    ZELString key;
    ZELString words;
    ZELString tags;
    uint32_t existence = 0;
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
        auto& getters = ZELRegistry<ZELValueGetter>::shared();
        getters.registerEntry("testKey", getter(&ZELTestItem::key));
        getters.registerEntry("testWords", getter(&ZELTestItem::words));
        getters.registerEntry("testTags", getter(&ZELTestItem::tags));
        return true;
    }();
    (void)registered;
}

inline std::shared_ptr<ZELTestItem> ZELTestMakeItem(std::string key, std::string words,
                                                    std::string tags = "", uint32_t existence = 0) {
    return std::make_shared<ZELTestItem>(std::move(key), std::move(words), std::move(tags),
                                         existence);
}

#include "zel/database/ZELItem.h"

#include <typeindex>

#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStream.h"

namespace {

// Registered item class names by the C++ type they were registered for, so that an item finds
// its stored class name whatever its demangled name is.
struct ZELItemClassNameByType {
    std::string name;
};

std::string typeKey(const std::type_info& type) { return type.name(); }

void ensureBaseItemClassRegistered() {
    static const bool registered = [] {
        ZELItemClass::registerItemClass<ZELItem>("ZELItem");
        // The library's ready item class, so that a folder of records opens as records
        // before the host has made one.
        ZELRecordItem::registerItemClass();
        return true;
    }();
    (void)registered;
}

}  // namespace

uint64_t ZELItem::hash() const { return itemID_; }

bool ZELItem::isEqual(const ZELObject& other) const {
    if (&other == this) return true;
    const auto* otherItem = dynamic_cast<const ZELItem*>(&other);
    return otherItem && itemID_ != 0 && otherItem->itemID_ == itemID_;
}

std::string ZELItem::description() const {
    return ZELStringWithFormat("%s, ZELItemID=%u", descriptionHead().c_str(), itemID_);
}

bool ZELItem::isDuplicateImportedItem(const ZELItem*) const { return false; }

ZELItemExistenceToken ZELItem::getExistenceToken() const { return {}; }

void ZELItem::willBeTokenized() {}
void ZELItem::wasTokenized() {}

void ZELItem::willBeAddedToDatabaseUsingItemID(ZELID itemID) { itemID_ = itemID; }

// The blob after the class token starts with the existence token: first half, second half,
// each a little-endian uint32 (0, 0 for classes that are not existence-checkable).
bool ZELItem::serializeDatabaseBlobToStream(ZELStream& stream) const {
    const ZELItemExistenceToken token = getExistenceToken();
    return stream.writeUInt32Little(token.first) && stream.writeUInt32Little(token.second);
}

void ZELItem::wasAddedToDatabase() {}

bool ZELItem::wasDiscoveredAsOriginalFor(const ZELItem&) { return false; }

void ZELItem::wasRemovedFromDatabase() {}

bool ZELItem::getExistenceToken(ZELItemExistenceToken* outToken, const uint8_t* bytes,
                                uint64_t length) {
    if (length < 8) return false;
    ZELItemExistenceToken token;
    for (int i = 3; i >= 0; --i) token.first = (token.first << 8) | bytes[i];
    for (int i = 7; i >= 4; --i) token.second = (token.second << 8) | bytes[i];
    if (outToken) *outToken = token;
    return true;
}

bool ZELItem::initByDeserializingDatabaseBlobFromStream(ZELStream& stream, ZELID itemID) {
    itemID_ = itemID;
    uint8_t token[8];
    return stream.readBytes(token, sizeof token);
}

void ZELItemClass::registerEntry(const ZELItemClass& itemClass, const std::type_info& type) {
    ZELRegistry<ZELItemClass>::shared().registerEntry(itemClass.name, itemClass);
    ZELRegistry<ZELItemClassNameByType>::shared().registerEntry(typeKey(type),
                                                                {itemClass.name});
}

std::optional<ZELItemClass> ZELItemClass::itemClassNamed(std::string_view name) {
    ensureBaseItemClassRegistered();
    return ZELRegistry<ZELItemClass>::shared().entryNamed(name);
}

std::string ZELItemClass::registeredNameForItem(const ZELItem& item) {
    ensureBaseItemClassRegistered();
    if (auto entry = ZELRegistry<ZELItemClassNameByType>::shared().entryNamed(typeKey(typeid(item)))) {
        return entry->name;
    }
    return item.className();
}

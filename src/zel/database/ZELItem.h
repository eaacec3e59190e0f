#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/platform/ZELTypes.h"
#include "zel/tokenizer/ZELTokenizer.h"

class ZELStream;

// What an item class says identifies the source of an item (a file, a message), so that a host
// can find stored items whose source has gone. Two unsigned 32-bit halves; the database only
// stores, compares and hashes them.
struct ZELItemExistenceToken {
    uint32_t first = 0;
    uint32_t second = 0;
    friend bool operator==(const ZELItemExistenceToken&, const ZELItemExistenceToken&) = default;
};

// The base class of every item a host indexes. The database tokenizes an item through the
// value getters of its aspects, serializes it into a blob kept in the item store and builds it
// back from that blob; host classes override the virtual operations below and register
// themselves with ZELItemClass::registerItemClass<T>(name). Held by std::shared_ptr; an item
// belongs to the thread that handles it (the database reads it while adding it, outside and
// inside its lock, on the caller's thread).
class ZELItem : public ZELObject {
public:
    ZELItem() = default;
    ~ZELItem() override = default;

    // 0 until the item is added; then its item ID in the database.
    ZELID itemID() const { return itemID_; }
    void setItemID(ZELID itemID) { itemID_ = itemID; }

    // The item ID.
    virtual uint64_t hash() const;
    // The same object; otherwise both are items with the same non-zero item ID.
    virtual bool isEqual(const ZELObject& other) const;
    // "ClassName<0x...>, ZELItemID=N".
    std::string description() const override;

    // Duplicate detection: asked of the incoming item with each candidate stored item (null
    // when the candidate could not be read). Base: false.
    virtual bool isDuplicateImportedItem(const ZELItem* storedItem) const;
    // Class-level: whether blobs of this class carry an existence token worth checking.
    // Subclasses hide it with their own static function. Base: false.
    static bool isExistenceCheckable() { return false; }
    // The token written into the blob. Base: all zero.
    virtual ZELItemExistenceToken getExistenceToken() const;
    // Around tokenization. Base: nothing.
    virtual void willBeTokenized();
    virtual void wasTokenized();
    // First add only, before the blob is written. Base: sets itemID.
    virtual void willBeAddedToDatabaseUsingItemID(ZELID itemID);
    // Writes the blob after its class token. The base writes the existence token (8 bytes); a
    // subclass calls the base first, then appends its own fields. False when the stream failed.
    virtual bool serializeDatabaseBlobToStream(ZELStream& stream) const;
    // First add only, after the blob is stored. Base: nothing.
    virtual void wasAddedToDatabase();
    // Asked of a stored item that `incomingItem` duplicates; true means the stored item changed
    // itself and must be stored again. Base: false.
    virtual bool wasDiscoveredAsOriginalFor(const ZELItem& incomingItem);
    // After removal, not when re-indexing. Base: nothing.
    virtual void wasRemovedFromDatabase();
    // Class-level: the token from a blob's bytes after the class token, without building the
    // item. Base: the first 8 bytes when there are at least 8; false otherwise. A subclass that
    // overrides the instance operation hides this one; registration then falls back to the base
    // (a subclass re-exposes it with `using ZELItem::getExistenceToken;`).
    static bool getExistenceToken(ZELItemExistenceToken* outToken, const uint8_t* bytes,
                                  uint64_t length);
    // Reads the blob after its class token. The base sets itemID and skips the 8 token bytes;
    // a subclass calls the base first, then reads its own fields. False when the item cannot be
    // built (a short blob leaves its error in the stream).
    virtual bool initByDeserializingDatabaseBlobFromStream(ZELStream& stream, ZELID itemID);

private:
    ZELID itemID_ = 0;
};

// A registered item class: how the database makes an empty item of it to read a blob into, and
// its class-level operations. Entries live in ZELRegistry<ZELItemClass> under the class name
// that the item class map stores ("ZELItem" is always registered).
struct ZELItemClass {
    std::string name;
    std::function<std::shared_ptr<ZELItem>()> make;
    std::function<bool()> isExistenceCheckable;
    std::function<bool(ZELItemExistenceToken* outToken, const uint8_t* bytes, uint64_t length)>
        getExistenceToken;

    // Registers item class T under `name`, both here and as a tokenizer item class
    // (ZELTokenizerItemClass), and answers the entry. T must be default-constructible.
    template <typename T>
    static ZELItemClass registerItemClass(std::string name);

    // The class registered under `name`; none when there is none.
    static std::optional<ZELItemClass> itemClassNamed(std::string_view name);
    // The registered name of the item's dynamic class; its className() when the class was never
    // registered.
    static std::string registeredNameForItem(const ZELItem& item);

private:
    static void registerEntry(const ZELItemClass& itemClass, const std::type_info& type);
};

template <typename T>
ZELItemClass ZELItemClass::registerItemClass(std::string name) {
    ZELItemClass itemClass{
        name,
        [] { return std::static_pointer_cast<ZELItem>(std::make_shared<T>()); },
        [] { return T::isExistenceCheckable(); },
        [](ZELItemExistenceToken* outToken, const uint8_t* bytes, uint64_t length) {
            if constexpr (requires { T::getExistenceToken(outToken, bytes, length); }) {
                return T::getExistenceToken(outToken, bytes, length);
            } else {
                return ZELItem::getExistenceToken(outToken, bytes, length);
            }
        }};
    registerEntry(itemClass, typeid(T));
    ZELTokenizerItemClass::registerItemClass<T>(name);
    return itemClass;
}

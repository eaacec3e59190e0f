#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zel/database/ZELItem.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"

// A ready item class for hosts that do not write their own: a dictionary of values (a title, a
// date, a list of names...). Every key is answered as the value getter of the same name, so an
// aspect whose tokenizer names the getter "title" indexes the records' "title" values. The
// value under a chosen key (the existence key, say a path or a message ID) gives the record's
// existence token. Which records are duplicates of each other is decided by the duplicate
// keys when a record has some (a changelog entry is the same entry wherever it is found when
// its package and version agree), else by the existence key (see isDuplicateImportedItem).
// Registered as the item class "ZELRecordItem"; what the zel tool and the benchmarks index.
// Held by std::shared_ptr; like every item, a record belongs to the thread that handles it.
//
// Getters: the first record that carries a key registers a getter of that name in
// ZELRegistry<ZELValueGetter> (the key in UTF-8). For an item that is not a record the getter
// asks the getter that was registered under that name before, if any, so host classes keep
// theirs. A getter that a host registers later under the same name replaces the record's.
//
// Blob: after the 12 bytes every item blob starts with (class token, existence token), a
// record writes
//
//     record :=
//         format:        uint8 = 1
//         existence_key: value          # none, or a string (tag 5 or 6)
//         values:        value          # a dictionary (tag 10)
//     value :=
//         tag: uint8, then by tag:
//         0  none            nothing (also written for client objects, which have no stored
//                            form, and for values nested deeper than maximumNestingDepth)
//         1  false, 2  true  nothing
//         3  integer         varint of the zigzag form ((n << 1) ^ (n >> 63))
//         4  real            8 bytes, IEEE-754 binary64
//         5  string          varint N, then N bytes: N code units each below U+0100
//         6  string          varint N, then 2N bytes: N UTF-16LE code units
//         7  date            8 bytes, binary64 seconds since 1970-01-01 00:00:00 UTC
//         8  data            varint N, then the N bytes
//         9  array           varint N, then N values
//         10 dictionary      varint N, then N pairs (key: a string value, tag 5 or 6; value),
//                            keys in ascending order of their UTF-16 code units, each once
//     varint := unsigned LEB128, 7 bits a byte, low group first, high bit set on every byte but
//               the last; at most 10 bytes, no redundant trailing zero group. Counts (N) are
//               at most 0xFFFFFFFF.
//
// A string is written with tag 5 when all its code units are below U+0100 (one byte each),
// else with tag 6; an empty existence key is written as none. The duplicate keys are not
// written: they are a rule of the host that adds records, and a record read back from a blob
// has none until the host sets them again. Readers refuse every departure
// from this form (unknown tag, overlong or oversized varint, a count larger than the bytes
// left, a tag-6 string that would fit tag 5, an empty existence key, keys out of order or
// repeated, a format other than 1, bytes after the record, nesting deeper than
// maximumNestingDepth), so each record has exactly one stored form; the item is then not built. See docs/FORMATS.md, "Record item blob".
class ZELRecordItem : public ZELItem {
public:
    // The class name in item class maps. Stored; never change.
    static constexpr const char* registeredClassName = "ZELRecordItem";
    // The blob's record format. Stored; never renumber.
    static constexpr uint8_t recordFormat = 1;
    // Containers inside a record nest at most this deep (the record's own dictionary is
    // level 1).
    static constexpr int maximumNestingDepth = 64;

    // An empty record with no existence key.
    ZELRecordItem();
    ZELRecordItem(ZELValue::Dictionary values, ZELString existenceKey);
    static std::shared_ptr<ZELRecordItem> itemWithValues(ZELValue::Dictionary values,
                                                         ZELString existenceKey = ZELString(),
                                                         std::vector<ZELString> duplicateKeys = {});

    // Registers the item class "ZELRecordItem" (for the item class map and for tokenizers).
    // Making a record registers it; a host that opens a database holding records before it
    // makes one calls this first. Idempotent; any thread.
    static void registerItemClass();
    // Registers the getter for `key` (see above) unless a record registered it already. Any
    // thread.
    static void registerValueGetterForKey(const ZELString& key);

    const ZELValue::Dictionary& values() const { return values_; }
    // The value under `key`; none when absent.
    ZELValue valueForKey(std::u16string_view key) const;
    void setValues(ZELValue::Dictionary values);
    // Stores `value` under `key`; a none value removes the key.
    void setValue(ZELValue value, const ZELString& key);

    // The key whose value identifies the record's source; empty for none.
    const ZELString& existenceKey() const { return existenceKey_; }
    void setExistenceKey(ZELString existenceKey) { existenceKey_ = std::move(existenceKey); }

    // The keys whose values together identify a record for duplicate detection; empty for
    // none (then the existence key decides). Not stored in the blob.
    const std::vector<ZELString>& duplicateKeys() const { return duplicateKeys_; }
    void setDuplicateKeys(std::vector<ZELString> duplicateKeys) { duplicateKeys_ = std::move(duplicateKeys); }

    // Records carry existence tokens.
    static bool isExistenceCheckable() { return true; }
    using ZELItem::getExistenceToken;
    // existenceTokenForValue of the value under the existence key.
    ZELItemExistenceToken getExistenceToken() const override;
    // The token of a record whose existence value is `value`: the 64-bit FNV-1a hash of the
    // value's stored form (see above), low half first; all zero for none. A host builds its
    // existence map from the values of its sources with this. Stored in blobs; never change.
    static ZELItemExistenceToken existenceTokenForValue(const ZELValue& value);

    // Whether this incoming record duplicates `storedItem`; this record's rule decides. With
    // duplicate keys: the stored item is a record and both carry every duplicate key with
    // equal, non-none values. Without: both have the same non-empty existence key and equal,
    // non-none values under it; records without an existence key are duplicates when all
    // their values are equal.
    bool isDuplicateImportedItem(const ZELItem* storedItem) const override;
    // The stored record takes the incoming record's values; true when they differed.
    bool wasDiscoveredAsOriginalFor(const ZELItem& incomingItem) override;

    bool serializeDatabaseBlobToStream(ZELStream& stream) const override;
    // Reads the rest of the stream as the record. A damaged record keeps an error of code 3
    // in the stream and answers false.
    bool initByDeserializingDatabaseBlobFromStream(ZELStream& stream, ZELID itemID) override;

    // "ZELRecordItem<0x...>, ZELItemID=N, {key, key, ...}".
    std::string description() const override;

private:
    ZELValue::Dictionary values_;
    ZELString existenceKey_;
    std::vector<ZELString> duplicateKeys_;
};

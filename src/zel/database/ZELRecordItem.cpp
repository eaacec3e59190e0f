#include "zel/database/ZELRecordItem.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/stream/ZELData.h"
#include "zel/stream/ZELStream.h"

namespace {

// Value tags of the record form (see the header). Stored; never renumber.
enum RecordTag : uint8_t {
    kTagNone = 0,
    kTagFalse = 1,
    kTagTrue = 2,
    kTagInteger = 3,
    kTagReal = 4,
    kTagString8 = 5,
    kTagString16 = 6,
    kTagDate = 7,
    kTagData = 8,
    kTagArray = 9,
    kTagDictionary = 10,
};

constexpr uint64_t kMaximumCount = 0xFFFFFFFFu;

void appendVarint(ZELData& bytes, uint64_t value) {
    while (value >= 0x80) {
        bytes.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    bytes.push_back(static_cast<uint8_t>(value));
}

void appendBinary64(ZELData& bytes, double value) {
    uint8_t raw[8];
    std::memcpy(raw, &value, sizeof raw);  // little-endian hosts only (see ZELData.h)
    bytes.insert(bytes.end(), raw, raw + sizeof raw);
}

void appendString(ZELData& bytes, std::u16string_view text) {
    bool narrow = true;
    for (char16_t unit : text) {
        if (unit > 0xFF) {
            narrow = false;
            break;
        }
    }
    bytes.push_back(narrow ? kTagString8 : kTagString16);
    appendVarint(bytes, text.size());
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit));
        if (!narrow) bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
}

void appendValue(ZELData& bytes, const ZELValue& value, int depth);

void appendDictionary(ZELData& bytes, const ZELValue::Dictionary& dictionary, int depth) {
    bytes.push_back(kTagDictionary);
    appendVarint(bytes, dictionary.size());
    for (const auto& [key, element] : dictionary) {
        appendString(bytes, key);
        appendValue(bytes, element, depth + 1);
    }
}

// `depth` counts the containers around `value`.
void appendValue(ZELData& bytes, const ZELValue& value, int depth) {
    switch (value.kind()) {
    case ZELValue::Kind::None:
    case ZELValue::Kind::Object:
        bytes.push_back(kTagNone);
        return;
    case ZELValue::Kind::Boolean:
        bytes.push_back(value.booleanValue() ? kTagTrue : kTagFalse);
        return;
    case ZELValue::Kind::Integer: {
        const int64_t n = value.integerValue();
        bytes.push_back(kTagInteger);
        appendVarint(bytes, (static_cast<uint64_t>(n) << 1) ^ static_cast<uint64_t>(n >> 63));
        return;
    }
    case ZELValue::Kind::Real:
        bytes.push_back(kTagReal);
        appendBinary64(bytes, value.realValue());
        return;
    case ZELValue::Kind::String:
        appendString(bytes, value.stringValue());
        return;
    case ZELValue::Kind::Date:
        bytes.push_back(kTagDate);
        appendBinary64(bytes, value.dateValue().timeIntervalSince1970);
        return;
    case ZELValue::Kind::Data:
        bytes.push_back(kTagData);
        appendVarint(bytes, value.dataValue().size());
        bytes.insert(bytes.end(), value.dataValue().begin(), value.dataValue().end());
        return;
    case ZELValue::Kind::Array:
    case ZELValue::Kind::Dictionary:
        break;
    }
    if (depth >= ZELRecordItem::maximumNestingDepth) {
        bytes.push_back(kTagNone);
        return;
    }
    if (value.isArray()) {
        bytes.push_back(kTagArray);
        appendVarint(bytes, value.arrayValue().size());
        for (const ZELValue& element : value.arrayValue()) appendValue(bytes, element, depth + 1);
        return;
    }
    appendDictionary(bytes, value.dictionaryValue(), depth);
}

// Reads the record form from a byte range, refusing anything that the writer would not have
// produced. Every count is checked against the bytes left before anything is allocated for it.
class RecordReader {
public:
    RecordReader(const uint8_t* bytes, size_t length) : next_(bytes), end_(bytes + length) {}

    bool atEnd() const { return next_ == end_; }
    const std::string& failure() const { return failure_; }

    bool readByte(uint8_t* outByte) {
        if (next_ == end_) return fail("record ends early");
        *outByte = *next_++;
        return true;
    }

    std::optional<ZELValue> readValue(int depth) {
        uint8_t tag = 0;
        if (!readByte(&tag)) return std::nullopt;
        switch (tag) {
        case kTagNone:
            return ZELValue();
        case kTagFalse:
            return ZELValue(false);
        case kTagTrue:
            return ZELValue(true);
        case kTagInteger: {
            uint64_t zigzag = 0;
            if (!readVarint(&zigzag)) return std::nullopt;
            return ZELValue(static_cast<int64_t>((zigzag >> 1) ^ (~(zigzag & 1) + 1)));
        }
        case kTagReal: {
            double real = 0;
            if (!readBinary64(&real)) return std::nullopt;
            return ZELValue(real);
        }
        case kTagString8:
        case kTagString16: {
            std::optional<ZELString> text = readStringAfterTag(tag);
            if (!text) return std::nullopt;
            return ZELValue(std::move(*text));
        }
        case kTagDate: {
            double seconds = 0;
            if (!readBinary64(&seconds)) return std::nullopt;
            return ZELValue(ZELDate{seconds});
        }
        case kTagData: {
            uint64_t count = 0;
            if (!readCount(&count, 1)) return std::nullopt;
            ZELValue::Data data(next_, next_ + count);
            next_ += count;
            return ZELValue(std::move(data));
        }
        case kTagArray:
        case kTagDictionary:
            break;
        default:
            fail(ZELStringWithFormat("unknown value tag %u", tag));
            return std::nullopt;
        }
        if (depth >= ZELRecordItem::maximumNestingDepth) {
            fail("values nest too deeply");
            return std::nullopt;
        }
        uint64_t count = 0;
        if (tag == kTagArray) {
            if (!readCount(&count, 1)) return std::nullopt;
            ZELValue::Array array;
            array.reserve(count);
            for (uint64_t i = 0; i < count; ++i) {
                std::optional<ZELValue> element = readValue(depth + 1);
                if (!element) return std::nullopt;
                array.push_back(std::move(*element));
            }
            return ZELValue(std::move(array));
        }
        // A pair takes at least two bytes: an empty key's tag and count.
        if (!readCount(&count, 2)) return std::nullopt;
        ZELValue::Dictionary dictionary;
        for (uint64_t i = 0; i < count; ++i) {
            uint8_t keyTag = 0;
            if (!readByte(&keyTag)) return std::nullopt;
            if (keyTag != kTagString8 && keyTag != kTagString16) {
                fail("dictionary key is not a string");
                return std::nullopt;
            }
            std::optional<ZELString> key = readStringAfterTag(keyTag);
            if (!key) return std::nullopt;
            if (!dictionary.empty() && !(dictionary.rbegin()->first < *key)) {
                fail("dictionary keys out of order");
                return std::nullopt;
            }
            std::optional<ZELValue> element = readValue(depth + 1);
            if (!element) return std::nullopt;
            dictionary.emplace_hint(dictionary.end(), std::move(*key), std::move(*element));
        }
        return ZELValue(std::move(dictionary));
    }

private:
    bool fail(std::string message) {
        if (failure_.empty()) failure_ = std::move(message);
        return false;
    }

    bool readVarint(uint64_t* outValue) {
        uint64_t value = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            uint8_t byte = 0;
            if (!readByte(&byte)) return false;
            if (shift == 63 && byte > 1) return fail("varint too large");
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80)) {
                if (byte == 0 && shift > 0) return fail("varint has a redundant zero group");
                *outValue = value;
                return true;
            }
        }
        return fail("varint too long");
    }

    // A count of items of at least `bytesPerItem` bytes each, which must fit in what is left.
    bool readCount(uint64_t* outCount, uint64_t bytesPerItem) {
        if (!readVarint(outCount)) return false;
        if (*outCount > kMaximumCount) return fail("count too large");
        if (*outCount > static_cast<uint64_t>(end_ - next_) / bytesPerItem) return fail("count exceeds the record");
        return true;
    }

    bool readBinary64(double* outValue) {
        if (end_ - next_ < 8) return fail("record ends early");
        std::memcpy(outValue, next_, 8);
        next_ += 8;
        return true;
    }

    std::optional<ZELString> readStringAfterTag(uint8_t tag) {
        const uint64_t unitWidth = tag == kTagString8 ? 1 : 2;
        uint64_t count = 0;
        if (!readCount(&count, unitWidth)) return std::nullopt;
        ZELString text(count, u'\0');
        bool hasWideUnit = false;
        for (uint64_t i = 0; i < count; ++i) {
            text[i] = unitWidth == 1 ? char16_t{next_[0]} : static_cast<char16_t>(next_[0] | next_[1] << 8);
            hasWideUnit = hasWideUnit || text[i] > 0xFF;
            next_ += unitWidth;
        }
        // The writer picks the narrow form whenever it fits, so each string has one form.
        if (unitWidth == 2 && !hasWideUnit) {
            fail("wide string without wide units");
            return std::nullopt;
        }
        return text;
    }

    const uint8_t* next_;
    const uint8_t* end_;
    std::string failure_;
};

// The getters registered by records, by name; see registerValueGetterForKey.
std::shared_mutex gRegisteredGettersLock;
std::set<std::string, std::less<>> gRegisteredGetters;  // guarded by gRegisteredGettersLock

void registerGettersForKeys(const ZELValue::Dictionary& values) {
    for (const auto& [key, value] : values) ZELRecordItem::registerValueGetterForKey(key);
}

}  // namespace

ZELRecordItem::ZELRecordItem() {
    registerItemClass();
}

ZELRecordItem::ZELRecordItem(ZELValue::Dictionary values, ZELString existenceKey)
    : values_(std::move(values)), existenceKey_(std::move(existenceKey)) {
    registerItemClass();
    registerGettersForKeys(values_);
}

std::shared_ptr<ZELRecordItem> ZELRecordItem::itemWithValues(ZELValue::Dictionary values, ZELString existenceKey,
                                                             std::vector<ZELString> duplicateKeys) {
    auto item = std::make_shared<ZELRecordItem>(std::move(values), std::move(existenceKey));
    item->duplicateKeys_ = std::move(duplicateKeys);
    return item;
}

void ZELRecordItem::registerItemClass() {
    static std::once_flag registered;
    std::call_once(registered, [] { ZELItemClass::registerItemClass<ZELRecordItem>(registeredClassName); });
}

void ZELRecordItem::registerValueGetterForKey(const ZELString& key) {
    std::string name = ZELStringToUTF8(key);
    {
        std::shared_lock<std::shared_mutex> guard(gRegisteredGettersLock);
        if (gRegisteredGetters.find(name) != gRegisteredGetters.end()) return;
    }
    std::unique_lock<std::shared_mutex> guard(gRegisteredGettersLock);
    if (!gRegisteredGetters.insert(name).second) return;
    ZELRegistry<ZELValueGetter>& registry = ZELRegistry<ZELValueGetter>::shared();
    std::optional<ZELValueGetter> previous = registry.entryNamed(name);
    registry.registerEntry(name, [key, previous = std::move(previous)](const ZELObject& item) -> ZELValue {
        if (const auto* record = dynamic_cast<const ZELRecordItem*>(&item)) return record->valueForKey(key);
        if (previous && *previous) return (*previous)(item);
        return ZELValue();
    });
}

ZELValue ZELRecordItem::valueForKey(std::u16string_view key) const {
    const auto found = values_.find(ZELString(key));
    return found == values_.end() ? ZELValue() : found->second;
}

void ZELRecordItem::setValues(ZELValue::Dictionary values) {
    values_ = std::move(values);
    registerGettersForKeys(values_);
}

void ZELRecordItem::setValue(ZELValue value, const ZELString& key) {
    if (value.isNone()) {
        values_.erase(key);
        return;
    }
    registerValueGetterForKey(key);
    values_.insert_or_assign(key, std::move(value));
}

ZELItemExistenceToken ZELRecordItem::getExistenceToken() const {
    if (existenceKey_.empty()) return {};
    return existenceTokenForValue(valueForKey(existenceKey_));
}

ZELItemExistenceToken ZELRecordItem::existenceTokenForValue(const ZELValue& value) {
    if (value.isNone()) return {};
    ZELData bytes;
    appendValue(bytes, value, 0);
    // 64-bit FNV-1a.
    uint64_t hash = 0xcbf29ce484222325u;
    for (uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3u;
    }
    return {static_cast<uint32_t>(hash), static_cast<uint32_t>(hash >> 32)};
}

bool ZELRecordItem::isDuplicateImportedItem(const ZELItem* storedItem) const {
    const auto* stored = dynamic_cast<const ZELRecordItem*>(storedItem);
    if (!stored) return false;
    if (!duplicateKeys_.empty()) {
        for (const ZELString& key : duplicateKeys_) {
            const auto mine = values_.find(key);
            if (mine == values_.end() || mine->second.isNone()) return false;
            const auto theirs = stored->values_.find(key);
            if (theirs == stored->values_.end() || theirs->second != mine->second) return false;
        }
        return true;
    }
    if (stored->existenceKey_ != existenceKey_) return false;
    if (existenceKey_.empty()) return stored->values_ == values_;
    const ZELValue value = valueForKey(existenceKey_);
    return !value.isNone() && value == stored->valueForKey(existenceKey_);
}

bool ZELRecordItem::wasDiscoveredAsOriginalFor(const ZELItem& incomingItem) {
    const auto* incoming = dynamic_cast<const ZELRecordItem*>(&incomingItem);
    if (!incoming || incoming->values_ == values_) return false;
    values_ = incoming->values_;
    return true;
}

// Blob after the class token: the existence token (written by the base), then the record (see
// the header and docs/FORMATS.md, "Record item blob").
bool ZELRecordItem::serializeDatabaseBlobToStream(ZELStream& stream) const {
    if (!ZELItem::serializeDatabaseBlobToStream(stream)) return false;
    ZELData bytes;
    bytes.push_back(recordFormat);
    if (existenceKey_.empty()) {
        bytes.push_back(kTagNone);
    } else {
        appendString(bytes, existenceKey_);
    }
    appendDictionary(bytes, values_, 0);
    return stream.writeData(bytes);
}

bool ZELRecordItem::initByDeserializingDatabaseBlobFromStream(ZELStream& stream, ZELID itemID) {
    if (!ZELItem::initByDeserializingDatabaseBlobFromStream(stream, itemID)) return false;
    std::optional<ZELData> bytes = stream.readRemainingData();
    if (!bytes) return false;
    RecordReader reader(bytes->data(), bytes->size());
    uint8_t format = 0;
    std::string failure;
    std::optional<ZELValue> existenceKey;
    std::optional<ZELValue> values;
    if (!reader.readByte(&format)) {
        failure = reader.failure();
    } else if (format != recordFormat) {
        failure = ZELStringWithFormat("unsupported record format %u", format);
    } else if (!(existenceKey = reader.readValue(1)) || !(values = reader.readValue(0))) {
        failure = reader.failure();
    } else if (!(existenceKey->isNone() || (existenceKey->isString() && !existenceKey->stringValue().empty())) ||
               !values->isDictionary()) {
        failure = "record has the wrong kinds of values";
    } else if (!reader.atEnd()) {
        failure = "bytes follow the record";
    }
    if (!failure.empty()) {
        stream.reportError(ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, "damaged record item blob: " + failure));
        return false;
    }
    existenceKey_ = existenceKey->stringValue();
    setValues(std::move(*values->mutableDictionary()));
    return true;
}

std::string ZELRecordItem::description() const {
    std::string text = ZELItem::description() + ", {";
    bool first = true;
    for (const auto& [key, value] : values_) {
        if (!first) text += ", ";
        text += ZELStringToUTF8(key);
        first = false;
    }
    return text + "}";
}

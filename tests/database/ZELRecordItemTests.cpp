#include "zel/database/ZELRecordItem.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>

#include "ZELDatabaseTestSupport.h"
#include "support/ZELTestFileBytes.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

namespace {

ZELString u(const char* utf8) { return ZELStringFromUTF8(utf8); }

// The blob bytes a record writes after its class token: existence token, then the record.
ZELData blobOf(const ZELRecordItem& item) {
    auto stream = ZELDataWriteStream::stream();
    EXPECT_TRUE(item.serializeDatabaseBlobToStream(*stream));
    return *stream->mutableData();
}

// The record alone, without the 8 token bytes.
ZELData recordOf(const ZELRecordItem& item) {
    ZELData blob = blobOf(item);
    return ZELData(blob.begin() + 8, blob.end());
}

// The record read back from blob bytes, or null; the stream's error in `*outError`.
std::shared_ptr<ZELRecordItem> readBlob(const ZELData& blob, ZELError* outError = nullptr) {
    auto stream = ZELDataStream::streamWithBytes(blob);
    auto item = std::make_shared<ZELRecordItem>();
    const bool built = item->initByDeserializingDatabaseBlobFromStream(*stream, 7);
    if (outError) *outError = stream->streamError();
    return built ? item : nullptr;
}

// A blob with a zero token and the given record bytes.
ZELData blobWithRecord(std::initializer_list<uint8_t> record) {
    ZELData blob(8 + record.size(), 0);
    std::copy(record.begin(), record.end(), blob.begin() + 8);
    return blob;
}

// A plain item class with a getter of its own, to check that record getters pass other items on.
class PlainItem : public ZELItem {};

}  // namespace

TEST(ZELRecordItem, SmallRecordHasExactBytes) {
    auto item = ZELRecordItem::itemWithValues({{u"a", ZELValue(1)}, {u"b", ZELValue(u("hé"))}}, u"a");

    // The existence token of 1, format 1, existence key "a", a dictionary of 2: "a": 1 and
    // "b": "hé" (narrow).
    EXPECT_EQ(blobOf(*item), ZELTestHex("B04FEEB407EC3508 01 050161 0A02 0501610302 050162050268E9"));
    EXPECT_EQ(item->getExistenceToken(), (ZELItemExistenceToken{0xB4EE4FB0u, 0x0835EC07u}));
}

TEST(ZELRecordItem, EachValueKindHasExactBytesAndRoundTrips) {
    // Each value's bytes inside a one-entry dictionary under key "k".
    const std::pair<ZELValue, const char*> cases[] = {
        {ZELValue(), "00"},
        {ZELValue(false), "01"},
        {ZELValue(true), "02"},
        {ZELValue(0), "03 00"},
        {ZELValue(-2), "03 03"},
        {ZELValue(300), "03 D804"},
        {ZELValue(std::numeric_limits<int64_t>::min()), "03 FFFFFFFFFFFFFFFFFF01"},
        {ZELValue(1.5), "04 000000000000F83F"},
        {ZELValue(u("")), "05 00"},
        {ZELValue(u("€x")), "06 02 AC207800"},
        {ZELValue(ZELDate{1.5}), "07 000000000000F83F"},
        {ZELValue(ZELValue::Data{1, 2}), "08 02 0102"},
        {ZELValue(ZELValue::Array{ZELValue(true), ZELValue()}), "09 02 02 00"},
        {ZELValue(ZELValue::Dictionary{{u"", ZELValue(1)}}), "0A 01 0500 0302"},
    };
    for (const auto& [value, encoded] : cases) {
        ZELRecordItem item({{u"k", value}}, ZELString());
        EXPECT_EQ(recordOf(item), ZELTestHex(std::string("01 00 0A01 05016B ") + encoded)) << encoded;
        auto read = readBlob(blobOf(item));
        ASSERT_TRUE(read) << encoded;
        EXPECT_EQ(read->values(), item.values());
        EXPECT_EQ(read->itemID(), 7u);
    }

    // The extremes of the kinds in one record.
    ZELValue::Dictionary nested{{u"deep", ZELValue(ZELValue::Array{ZELValue(-1), ZELValue(u("ü"))})}};
    const ZELValue::Dictionary values{
        {u"max", ZELValue(std::numeric_limits<int64_t>::max())}, {u"negativeZero", ZELValue(-0.0)},
        {u"real", ZELValue(6.02214076e23)}, {u"narrow", ZELValue(u("café ÿ"))},
        {u"wide", ZELValue(u("日本語 😀"))}, {u"unpaired", ZELValue(ZELString(u"a\xD800z"))},
        {u"nul", ZELValue(ZELString(u"a\0b", 3))}, {u"date", ZELValue(ZELDate{-86400.25})},
        {u"emptyData", ZELValue(ZELValue::Data{})}, {u"emptyArray", ZELValue(ZELValue::Array{})},
        {u"dictionary", ZELValue(nested)}, {u"키", ZELValue(u("wide key"))},
    };
    ZELRecordItem item(values, u"wide");
    auto read = readBlob(blobOf(item));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->values(), values);
    EXPECT_EQ(read->existenceKey(), u"wide");
    EXPECT_TRUE(std::signbit(read->valueForKey(u"negativeZero").realValue()));
    EXPECT_EQ(read->getExistenceToken(), item.getExistenceToken());
    EXPECT_EQ(recordOf(*read), recordOf(item));
}

TEST(ZELRecordItem, ClientObjectsAndTooDeepValuesAreStoredAsNone) {
    ZELValue deep(1);
    for (int level = 0; level < ZELRecordItem::maximumNestingDepth + 3; ++level) deep = ZELValue(ZELValue::Array{deep});
    ZELRecordItem item({{u"object", ZELValue(std::make_shared<PlainItem>())}, {u"deep", deep}}, ZELString());

    auto read = readBlob(blobOf(item));

    ASSERT_TRUE(read);
    EXPECT_TRUE(read->valueForKey(u"object").isNone());
    // The record's dictionary is level 1: 63 arrays fit inside it, the 64th is cut to none.
    const ZELValue* level = &read->values().at(u"deep");
    int arrays = 0;
    while (level->isArray()) {
        ++arrays;
        level = &level->arrayValue().front();
    }
    EXPECT_EQ(arrays, ZELRecordItem::maximumNestingDepth - 1);
    EXPECT_TRUE(level->isNone());
}

TEST(ZELRecordItem, MalformedRecordsAreRefused) {
    const struct {
        const char* what;
        ZELData blob;
    } cases[] = {
        {"no record", blobWithRecord({})},
        {"short token", ZELData{1, 2, 3}},
        {"unknown format", blobWithRecord({0x02, 0x00, 0x0A, 0x00})},
        {"unknown tag", blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x05, 0x01, 0x6B, 0x0B})},
        {"values not a dictionary", blobWithRecord({0x01, 0x00, 0x09, 0x00})},
        {"existence key not a string", blobWithRecord({0x01, 0x03, 0x02, 0x0A, 0x00})},
        {"key not a string", blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x03, 0x02, 0x00})},
        {"keys out of order", blobWithRecord({0x01, 0x00, 0x0A, 0x02, 0x05, 0x01, 0x62, 0x00, 0x05, 0x01, 0x61, 0x00})},
        {"repeated key", blobWithRecord({0x01, 0x00, 0x0A, 0x02, 0x05, 0x01, 0x61, 0x00, 0x05, 0x01, 0x61, 0x00})},
        {"redundant varint group", blobWithRecord({0x01, 0x00, 0x0A, 0x81, 0x00})},
        {"varint too long", blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x05, 0x01, 0x6B, 0x03, 0xFF, 0xFF, 0xFF, 0xFF,
                                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02})},
        {"huge string count", blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})},
        {"count beyond 32 bits", blobWithRecord({0x01, 0x00, 0x08, 0x80, 0x80, 0x80, 0x80, 0x10})},
        {"wide string of odd bytes", blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x06, 0x01, 0x6B})},
        {"huge array count", blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x05, 0x01, 0x6B, 0x09, 0xFF, 0xFF, 0x03})},
        {"real cut short", blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x05, 0x01, 0x6B, 0x04, 0x00, 0x00})},
        {"bytes after the record", blobWithRecord({0x01, 0x00, 0x0A, 0x00, 0x00})},
    };
    for (const auto& c : cases) {
        ZELError error;
        EXPECT_FALSE(readBlob(c.blob, &error)) << c.what;
        EXPECT_TRUE(error.isError()) << c.what;
    }
    ZELError error;
    readBlob(cases[7].blob, &error);  // keys out of order
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(), "damaged record item blob: dictionary keys out of order");

    // Nesting beyond the limit is refused without exhausting the stack.
    ZELData deep = blobWithRecord({0x01, 0x00, 0x0A, 0x01, 0x05, 0x01, 0x6B});
    for (int level = 0; level < 100000; ++level) {
        deep.push_back(0x09);
        deep.push_back(0x01);
    }
    deep.push_back(0x00);
    EXPECT_FALSE(readBlob(deep));
}

TEST(ZELRecordItem, TruncatedAndFlippedBlobsNeverCrash) {
    ZELRecordItem item({{u"title", ZELValue(u("Fête 😀"))},
                        {u"n", ZELValue(-123456789)},
                        {u"list", ZELValue(ZELValue::Array{ZELValue(ZELDate{3.0}), ZELValue(ZELValue::Data{9})})},
                        {u"sub", ZELValue(ZELValue::Dictionary{{u"x", ZELValue(2.5)}})}},
                       u"title");
    const ZELData blob = blobOf(item);
    for (size_t length = 0; length < blob.size(); ++length) {
        EXPECT_FALSE(readBlob(ZELData(blob.begin(), blob.begin() + length))) << length;
    }
    std::mt19937 random(20240301);
    for (size_t position = 8; position < blob.size(); ++position) {
        for (int trial = 0; trial < 8; ++trial) {
            ZELData damaged = blob;
            damaged[position] ^= static_cast<uint8_t>(1u << (random() % 8));
            auto read = readBlob(damaged);
            // A flip may still give a well-formed record; it then writes back the same bytes.
            if (read) {
                EXPECT_EQ(recordOf(*read), ZELData(damaged.begin() + 8, damaged.end())) << position;
            }
        }
    }
}

TEST(ZELRecordItem, ExistenceTokenComesFromTheChosenKey) {
    auto a = ZELRecordItem::itemWithValues({{u"path", ZELValue(u("/a"))}, {u"size", ZELValue(1)}}, u"path");
    auto b = ZELRecordItem::itemWithValues({{u"path", ZELValue(u("/a"))}, {u"size", ZELValue(2)}}, u"path");
    auto c = ZELRecordItem::itemWithValues({{u"path", ZELValue(u("/c"))}}, u"path");

    EXPECT_EQ(a->getExistenceToken(), b->getExistenceToken());
    EXPECT_NE(a->getExistenceToken(), c->getExistenceToken());
    EXPECT_EQ(a->getExistenceToken(), ZELRecordItem::existenceTokenForValue(ZELValue(u("/a"))));
    EXPECT_EQ(ZELRecordItem::itemWithValues({{u"path", ZELValue(u("/a"))}})->getExistenceToken(), ZELItemExistenceToken{});
    EXPECT_EQ(ZELRecordItem::itemWithValues({}, u"path")->getExistenceToken(), ZELItemExistenceToken{});

    // The class-level reader finds the same token in the blob.
    const ZELData blob = blobOf(*a);
    ZELItemExistenceToken fromBlob;
    ASSERT_TRUE(ZELRecordItem::getExistenceToken(&fromBlob, blob.data(), blob.size()));
    EXPECT_EQ(fromBlob, a->getExistenceToken());
}

TEST(ZELRecordItem, KeysAnswerAsValueGetters) {
    // A host getter registered before any record used the name keeps serving other items.
    ZELRegistry<ZELValueGetter>::shared().registerEntry(
        "recordTestShared", [](const ZELObject& item) -> ZELValue {
            return dynamic_cast<const PlainItem*>(&item) ? ZELValue(u("from plain")) : ZELValue();
        });
    auto record = ZELRecordItem::itemWithValues(
        {{u"recordTestTitle", ZELValue(u("Hello"))}, {u"recordTestShared", ZELValue(u("from record"))}});
    auto titles = ZELTokenizer::tokenizerWithClientObjectGetter<ZELIdentityValueTokenizer>("recordTestTitle", nullptr);
    auto shared = ZELTokenizer::tokenizerWithClientObjectGetter<ZELIdentityValueTokenizer>("recordTestShared", nullptr);

    EXPECT_EQ(titles->tokensForClientObject(*record), (ZELTokenSet{u"Hello"}));
    EXPECT_EQ(shared->tokensForClientObject(*record), (ZELTokenSet{u"from record"}));
    PlainItem plain;
    EXPECT_EQ(shared->tokensForClientObject(plain), (ZELTokenSet{u"from plain"}));
    EXPECT_EQ(titles->tokensForClientObject(plain), std::nullopt);

    // A record without the key has no value; one read from a blob answers its keys too.
    EXPECT_EQ(titles->tokensForClientObject(*ZELRecordItem::itemWithValues({})), std::nullopt);
    ZELRecordItem written({{u"recordTestFromBlob", ZELValue(u("Stored"))}}, ZELString());
    auto read = readBlob(blobOf(written));
    ASSERT_TRUE(read);
    auto fromBlob = ZELTokenizer::tokenizerWithClientObjectGetter<ZELIdentityValueTokenizer>("recordTestFromBlob", nullptr);
    EXPECT_EQ(fromBlob->tokensForClientObject(*read), (ZELTokenSet{u"Stored"}));
}

// Duplicates share the existence value, or with duplicate keys (which decide instead of the
// existence key, by the incoming record's rule) equal values under every key.
TEST(ZELRecordItem, DuplicatesShareTheExistenceValueOrEveryDuplicateKeysValue) {
    using Values = ZELValue::Dictionary;
    const std::vector<ZELString> keys{u"package", u"version"};
    const auto byID = [](int id, const char* title) {
        return ZELRecordItem::itemWithValues({{u"id", ZELValue(id)}, {u"title", ZELValue(u(title))}}, u"id");
    };
    const auto entry = [&](const char* package, const char* version, const char* body, bool withKeys) {
        Values values{{u"package", ZELValue(u(package))}, {u"body", ZELValue(u(body))}};
        if (*version) values.emplace(u"version", ZELValue(u(version)));
        return ZELRecordItem::itemWithValues(std::move(values), u"body", withKeys ? keys : std::vector<ZELString>{});
    };
    const auto keyed = [&](Values values) { return ZELRecordItem::itemWithValues(std::move(values), ZELString(), keys); };
    const auto noID = ZELRecordItem::itemWithValues({{u"title", ZELValue(u("new"))}}, u"id");
    const auto unversioned = entry("bash", "", "old text", true);
    const auto noneVersion = keyed({{u"package", ZELValue(u("bash"))}, {u"version", ZELValue()}});
    const auto plain = std::make_shared<PlainItem>();
    const struct {
        const char* what;
        std::shared_ptr<ZELRecordItem> incoming;
        std::shared_ptr<ZELItem> stored;
        bool isDuplicate;
    } rows[] = {
        {"equal existence values", byID(5, "new"), byID(5, "old"), true},
        {"other existence value", byID(6, "new"), byID(5, "old"), false},
        {"no existence value, not even the record itself", noID, noID, false},
        {"nothing stored", byID(5, "new"), nullptr, false},
        {"another class", byID(5, "new"), plain, false},
        {"no existence key: equal records", ZELRecordItem::itemWithValues({{u"title", ZELValue(u("new"))}}),
         ZELRecordItem::itemWithValues({{u"title", ZELValue(u("new"))}}), true},
        {"no existence key: other records", ZELRecordItem::itemWithValues({{u"title", ZELValue(u("new"))}}),
         ZELRecordItem::itemWithValues({{u"title", ZELValue(u("x"))}}), false},
        {"equal key values", entry("bash", "5.2-1", "new text", true), entry("bash", "5.2-1", "old text", false), true},
        {"incoming without keys", entry("bash", "5.2-1", "new text", false), entry("bash", "5.2-1", "old text", false), false},
        {"other version", entry("bash", "5.2-2", "old text", true), entry("bash", "5.2-1", "old text", false), false},
        {"other package", entry("dash", "5.2-1", "old text", true), entry("bash", "5.2-1", "old text", false), false},
        {"a key missing, not even the record itself", unversioned, unversioned, false},
        {"a key missing on the stored side", entry("bash", "5.2-1", "x", true), unversioned, false},
        {"a key of no value", noneVersion, noneVersion, false},
        {"the integer 1 is not the text \"1\"", keyed({{u"package", ZELValue(u("p"))}, {u"version", ZELValue(1)}}),
         keyed({{u"package", ZELValue(u("p"))}, {u"version", ZELValue(u("1"))}}), false},
        {"keys, another class", entry("bash", "5.2-1", "x", true), plain, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.incoming->isDuplicateImportedItem(row.stored.get()), row.isDuplicate) << row.what;
    }

    // The stored record takes the newer values, once.
    auto stored = byID(5, "old");
    EXPECT_TRUE(stored->wasDiscoveredAsOriginalFor(*byID(5, "new")));
    EXPECT_EQ(stored->valueForKey(u"title"), ZELValue(u("new")));
    EXPECT_FALSE(stored->wasDiscoveredAsOriginalFor(*byID(5, "new")));

    // The keys are a rule of the adding host, not part of the record: the blob is the same
    // with or without them, and a record read back has none.
    const auto unruled = entry("bash", "5.2-1", "old text", false);
    EXPECT_EQ(blobOf(*entry("bash", "5.2-1", "old text", true)), blobOf(*unruled));
    auto read = readBlob(blobOf(*entry("bash", "5.2-1", "old text", true)));
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->duplicateKeys().empty());
    read->setDuplicateKeys(keys);
    EXPECT_TRUE(read->isDuplicateImportedItem(unruled.get()));
}

namespace {

// A database of changelog-like records: package and version detect duplicates, the body is
// split into words; records are added with the duplicate keys package and version.
class ZELRecordItemDatabaseTest : public ZELDatabaseTest {
protected:
    void open() {
        if (db_) {
            ASSERT_TRUE(db_->ensureSerialized()) << db_->lastSerializationError().description();
            db_->invalidate();
        }
        ZELRecordItem::registerItemClass();
        db_ = ZELDatabase::databaseWithIdentifier("test.records", nullptr, folder_);
        ASSERT_TRUE(db_->bootstrapFromDisk()) << db_->lastSerializationError().description();
        for (const char16_t* key : {u"package", u"version"}) {
            auto aspect = db_->ensureAspectExistsWithIdentifier(key);
            aspect->setAspectValueTokenizer(ZELTokenizer::tokenizerWithClientObjectGetter<ZELIdentityValueTokenizer>(
                ZELStringToUTF8(key), nullptr));
            aspect->setIsUsedToDetectDuplicates(true);
        }
        db_->ensureAspectExistsWithIdentifier(u"body")->setAspectValueTokenizer(
            ZELTokenizer::tokenizerWithClientObjectGetter<ZELWordTokenizer>("body", nullptr));
    }

    // Adds one entry; answers its item ID and whether it was new.
    std::pair<ZELID, bool> add(const std::string& package, const std::string& version, const std::string& body) {
        bool wasAdded = false;
        const ZELID itemID = db_->addItem(
            ZELRecordItem::itemWithValues({{u"package", ZELValue::fromUTF8(package)},
                                           {u"version", ZELValue::fromUTF8(version)},
                                           {u"body", ZELValue::fromUTF8(body)}},
                                          ZELString(), {u"package", u"version"}),
            &wasAdded);
        return {itemID, wasAdded};
    }

    ZELValue::Dictionary valuesOf(ZELID itemID) {
        auto record = std::dynamic_pointer_cast<ZELRecordItem>(db_->itemForItemID(itemID, nullptr));
        return record ? record->values() : ZELValue::Dictionary();
    }
};

}  // namespace

// Repeats merge into the stored item, before and after a save and reopen (stored records carry
// no duplicate keys, the incoming ones decide).
TEST_F(ZELRecordItemDatabaseTest, RandomEntriesMatchAMapOfTheLastBodies) {
    open();
    std::mt19937 random(20240611);
    std::map<std::pair<std::string, std::string>, std::string> model;  // (package, version) -> body
    std::map<std::pair<std::string, std::string>, ZELID> itemIDs;
    const char* packages[] = {"bash", "dash", "zsh", "fish"};
    for (int step = 0; step < 400; ++step) {
        const std::string package = packages[random() % 4];
        const std::string version = "1." + std::to_string(random() % 5);
        const std::string body = "change " + std::to_string(random() % 3);
        const auto key = std::make_pair(package, version);
        const bool isNew = !model.count(key);
        const auto [itemID, wasAdded] = add(package, version, body);
        ASSERT_NE(itemID, 0u);
        EXPECT_EQ(wasAdded, isNew) << step;
        if (!isNew) {
            EXPECT_EQ(itemID, itemIDs[key]) << step;
        }
        model[key] = body;
        itemIDs[key] = itemID;
        if (step == 200) open();
    }
    EXPECT_EQ(db_->itemCount(), model.size());
    // The merged items' terms are the last body's.
    const auto bodyIDs = [&](const char* word) {
        return idsOf(db_->itemIDVectorForAspectBitID(idOf(u"body", word))).size();
    };
    EXPECT_EQ(bodyIDs("0") + bodyIDs("1") + bodyIDs("2"), model.size());
    for (const auto& [key, body] : model) {
        const ZELValue::Dictionary values = valuesOf(itemIDs[key]);
        EXPECT_EQ(values.at(u"package"), ZELValue::fromUTF8(key.first));
        EXPECT_EQ(values.at(u"version"), ZELValue::fromUTF8(key.second));
        EXPECT_EQ(values.at(u"body"), ZELValue::fromUTF8(body));
    }
}

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"
#include "support/ZELTestScratchFolder.h"

namespace {

class ZELDatabaseMetaInfoTest : public ZELTestFolderTest {
protected:
    std::string path(const char* name) const { return (folder_ / name).string(); }

    // A valid file's dictionary for database "db" at client schema 2, with one key changed.
    static ZELValue::Dictionary validDictionary() {
        return ZELDatabaseMetaInfo::infoWithDatabase("db", 2, nullptr)->propertyDictionary();
    }

    static ZELError validationError(const ZELValue::Dictionary& dictionary,
                                    int64_t clientSchemaVersion = 2) {
        ZELError error;
        EXPECT_FALSE(ZELDatabaseMetaInfo::infoWithPropertyDictionary(dictionary)
                         ->validForLoadIntoDatabase("db", clientSchemaVersion, &error));
        return error;
    }
};

}  // namespace

TEST_F(ZELDatabaseMetaInfoTest, FreshInfoWritesTheSixKeysAndReadsBackEqual) {
    auto prior = ZELDatabaseMetaInfo::info();
    prior->setClientPlistValue(ZELValue::fromUTF8("v"), u"Color");
    const auto info = ZELDatabaseMetaInfo::infoWithDatabase("db", 3, prior.get());

    const ZELValue::Dictionary expected{
        {u"BitsPerID", ZELValue(32)},
        {u"ClientIdentifier", ZELValue(u"db")},
        {u"ClientInfoDict", ZELValue(ZELValue::Dictionary{{u"Color", ZELValue(u"v")}})},
        {u"ClientVersion", ZELValue(3)},
        {u"Endianess", ZELValue(u"little")},
        {u"Version", ZELValue(7)},
    };
    EXPECT_EQ(info->propertyDictionary(), expected);

    ZELError error;
    ASSERT_TRUE(info->writeToURL(path("ZELDatabaseInfo.plist"), &error)) << error.description();
    ZELValue onDisk;
    ASSERT_TRUE(ZELPropertyList::readFile(path("ZELDatabaseInfo.plist"), &onDisk, nullptr));
    EXPECT_EQ(onDisk, ZELValue(expected));

    const auto reread = ZELDatabaseMetaInfo::infoWithURL(path("ZELDatabaseInfo.plist"));
    ASSERT_TRUE(reread);
    EXPECT_TRUE(reread->isEqualToInfo(*info));
    EXPECT_TRUE(reread->isEqual(*info));
    EXPECT_TRUE(reread->validForLoadIntoDatabase("db", 3, &error));
    EXPECT_EQ(reread->clientPlistValueForKey(u"Color"), ZELValue(u"v"));
    EXPECT_TRUE(reread->clientPlistValueForKey(u"Missing").isNone());
}

// A client schema version other than the database's, older or newer, is "too old".
TEST_F(ZELDatabaseMetaInfoTest, EachValidationFailureHasItsMessageInCheckOrder) {
    const std::string in = " in database meta-info file for 'db'";
    const std::string version = "unsupported version number" + in;
    const std::string bits = "unsupported ID bit length" + in;
    const struct {
        const char16_t* key;
        std::vector<ZELValue> values;  // none: the key is left out
        int code;
        std::string message;
    } cases[] = {
        {u"Version", {ZELValue(6), ZELValue(u"7"), ZELValue()}, 1, version},
        {u"BitsPerID", {ZELValue(64), ZELValue(ZELValue::Array{ZELValue(32)}), ZELValue()}, 1, bits},
        {u"Endianess", {ZELValue(u"LITTLE"), ZELValue(true), ZELValue()}, 1,
         "unsupported endianess" + in},
        {u"ClientIdentifier", {ZELValue(u"other"), ZELValue()}, 1, "mismatched db identifier" + in},
        {u"ClientVersion", {ZELValue(1), ZELValue(3), ZELValue(u"2")}, 2, "Database is too old."},
    };
    for (const auto& testCase : cases) {
        for (const ZELValue& value : testCase.values) {
            ZELValue::Dictionary dictionary = validDictionary();
            dictionary[testCase.key] = value;
            if (value.isNone()) dictionary.erase(testCase.key);
            const ZELError error = validationError(dictionary);
            EXPECT_TRUE(error.matchesZELErrorCode(testCase.code)) << testCase.message;
            EXPECT_EQ(error.failureReason(), testCase.message);
        }
    }
    EXPECT_EQ(validationError({}).failureReason(), version);

    // Several faults: the first check in order wins.
    ZELValue::Dictionary dictionary = validDictionary();
    dictionary[u"BitsPerID"] = ZELValue(16);
    dictionary[u"ClientIdentifier"] = ZELValue(u"other");
    dictionary[u"ClientVersion"] = ZELValue(9);
    EXPECT_EQ(validationError(dictionary).failureReason(), bits);

    // A client dictionary of the wrong kind is ignored; the info stays valid.
    dictionary = validDictionary();
    dictionary[u"ClientInfoDict"] = ZELValue(u"not a dictionary");
    const auto info = ZELDatabaseMetaInfo::infoWithPropertyDictionary(dictionary);
    EXPECT_TRUE(info->clientInfoDictionary().empty());
    EXPECT_TRUE(info->validForLoadIntoDatabase("db", 2, nullptr));
}

TEST_F(ZELDatabaseMetaInfoTest, FilesThatCannotBeReadOrWrittenSayWhy) {
    ZELError error;
    EXPECT_FALSE(ZELDatabaseMetaInfo::infoWithURL(path("missing.plist"), &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeFileAccess)) << error.description();

    std::ofstream(path("garbage.plist")) << "<plist version=\"1.0\"><dict><key>Version";
    EXPECT_FALSE(ZELDatabaseMetaInfo::infoWithURL(path("garbage.plist"), &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData)) << error.description();

    ASSERT_TRUE(ZELPropertyList::writeFile(path("array.plist"),
                                           ZELValue(ZELValue::Array{ZELValue(7)}), nullptr));
    EXPECT_FALSE(ZELDatabaseMetaInfo::infoWithURL(path("array.plist"), &error));
    EXPECT_EQ(error.failureReason(), "meta-info file does not contain a dictionary");
    EXPECT_FALSE(ZELDatabaseMetaInfo::infoWithURL(path("array.plist")));

    const std::string target = path("no-such-folder/ZELDatabaseInfo.plist");
    EXPECT_FALSE(ZELDatabaseMetaInfo::infoWithDatabase("db", 1, nullptr)->writeToURL(target, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeWriteFailed));
    EXPECT_EQ(error.failureReason(), "could not write meta-info to " + target);
}

TEST_F(ZELDatabaseMetaInfoTest, EqualityComparesClientValuesAndEveryField) {
    auto info = ZELDatabaseMetaInfo::infoWithDatabase("db", 1, nullptr);
    auto other = ZELDatabaseMetaInfo::infoWithDatabase("db", 1, nullptr);
    EXPECT_TRUE(info->isEqualToInfo(*other));
    info->setClientPlistValue(ZELValue(5), u"Count");
    EXPECT_FALSE(info->isEqualToInfo(*other));
    info->setClientPlistValue(ZELValue(), u"Count");  // none removes
    EXPECT_TRUE(info->isEqualToInfo(*other));
    other->setIsLittleEndian(false);
    EXPECT_FALSE(info->isEqualToInfo(*other));
    EXPECT_FALSE(info->isEqual(ZELObject()));
}

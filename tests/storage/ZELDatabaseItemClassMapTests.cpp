#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/storage/ZELDatabaseItemClassMap.h"
#include "support/ZELTestScratchFolder.h"

namespace {

// Knows the classes it was given; substitutes by a table.
class TestResolver : public ZELDatabaseItemClassResolver {
public:
    std::set<std::string> known{"ZELItem", "MailItem", "NoteItem"};
    std::map<std::string, std::string> substitutes;

    bool isKnownItemClassName(const std::string& className) const override {
        return known.count(className) != 0;
    }
    std::optional<std::string> substituteForUnknownItemClassName(
        const std::string& className) const override {
        const auto found = substitutes.find(className);
        if (found == substitutes.end()) return std::nullopt;
        return found->second;
    }
};

class ZELDatabaseItemClassMapTest : public ZELTestFolderTest {
protected:

    void writeFile(const ZELValue& value) {
        ASSERT_TRUE(ZELPropertyList::writeFile(url_, value, nullptr));
    }
    static ZELValue fileWithClassMap(ZELValue classMap) {
        return ZELValue(ZELValue::Dictionary{{u"Version", ZELValue(1)},
                                             {u"ClassMap", std::move(classMap)}});
    }

    const std::string url_ = (folder_ / "itemClasses.plist").string();
    TestResolver resolver_;
};

}  // namespace

TEST_F(ZELDatabaseItemClassMapTest, TokensStartAtOneAndSurviveARoundTrip) {
    auto map = ZELDatabaseItemClassMap::mapWithFileAtURL(url_);
    ASSERT_TRUE(map->loadWithDatabase(resolver_, nullptr));
    EXPECT_TRUE(map->hadChanges()) << "a missing file must be created by the first save";

    EXPECT_EQ(map->tokenForItemClass("MailItem"), 1u);
    EXPECT_EQ(map->tokenForItemClass("NoteItem"), 2u);
    EXPECT_EQ(map->tokenForItemClass("MailItem"), 1u);
    EXPECT_EQ(map->itemClassForToken(2), "NoteItem");
    EXPECT_FALSE(map->itemClassForToken(3));

    ZELError error;
    ASSERT_TRUE(map->ensureSerializedAndGetError(&error)) << error.description();
    EXPECT_FALSE(map->hadChanges());
    ZELValue onDisk;
    ASSERT_TRUE(ZELPropertyList::readFile(url_, &onDisk, nullptr));
    EXPECT_EQ(onDisk, fileWithClassMap(ZELValue(ZELValue::Dictionary{
                          {u"1", ZELValue(u"MailItem")}, {u"2", ZELValue(u"NoteItem")}})));

    auto reloaded = ZELDatabaseItemClassMap::mapWithFileAtURL(url_);
    ASSERT_TRUE(reloaded->loadWithDatabase(resolver_, &error)) << error.description();
    EXPECT_FALSE(reloaded->hadChanges());
    EXPECT_EQ(reloaded->tokenForItemClass("NoteItem"), 2u);
    EXPECT_EQ(reloaded->itemClassForToken(1), "MailItem");
    EXPECT_EQ(reloaded->tokenForItemClass("ZELItem"), 3u);
    EXPECT_TRUE(reloaded->hadChanges());
}

// Unknown classes resolve to a substitute or the base class and keep their names and tokens;
// no stored token is given again, not even after a gap.
TEST_F(ZELDatabaseItemClassMapTest, UnknownClassesKeepTheirNamesAndNoTokenIsReused) {
    writeFile(fileWithClassMap(ZELValue(ZELValue::Dictionary{
        {u"1", ZELValue(u"MailItem")}, {u"2", ZELValue(u"GoneItem")},
        {u"3", ZELValue(u"RenamedItem")}})));
    resolver_.substitutes["RenamedItem"] = "NoteItem";

    auto map = ZELDatabaseItemClassMap::mapWithFileAtURL(url_);
    ASSERT_TRUE(map->loadWithDatabase(resolver_, nullptr));
    EXPECT_EQ(map->itemClassForToken(1), "MailItem");
    EXPECT_EQ(map->itemClassForToken(2), "ZELItem");
    EXPECT_EQ(map->itemClassForToken(3), "NoteItem");

    // New items of a stand-in class get tokens of their own: were they to share the unknown
    // class's token, they would be read as that class once it is known again.
    EXPECT_EQ(map->tokenForItemClass("ZELItem"), 4u);
    EXPECT_EQ(map->tokenForItemClass("NoteItem"), 5u);

    ASSERT_TRUE(map->ensureSerializedAndGetError(nullptr));
    ZELValue onDisk;
    ASSERT_TRUE(ZELPropertyList::readFile(url_, &onDisk, nullptr));
    const ZELValue* classMap = onDisk.valueForKey("ClassMap");
    ASSERT_TRUE(classMap);
    EXPECT_EQ(*classMap->valueForKey("2"), ZELValue(u"GoneItem"));
    EXPECT_EQ(*classMap->valueForKey("3"), ZELValue(u"RenamedItem"));
    EXPECT_EQ(*classMap->valueForKey("4"), ZELValue(u"ZELItem"));

    // A token after a gap is never reused.
    writeFile(fileWithClassMap(ZELValue(ZELValue::Dictionary{
        {u"1", ZELValue(u"MailItem")}, {u"3", ZELValue(u"NoteItem")}})));
    auto gapped = ZELDatabaseItemClassMap::mapWithFileAtURL(url_);
    ASSERT_TRUE(gapped->loadWithDatabase(resolver_, nullptr));
    EXPECT_EQ(gapped->tokenForItemClass("ZELItem"), 4u);
}

TEST_F(ZELDatabaseItemClassMapTest, DamagedFilesFailWithTheirErrorsAndKeepTheMap) {
    using Dictionary = ZELValue::Dictionary;
    const auto entry = [](const char16_t* token, ZELValue name) {
        return fileWithClassMap(ZELValue(Dictionary{{token, std::move(name)}}));
    };
    const ZELValue emptyMap(Dictionary{});
    const char* failed = "database class map file failed to load";
    const char* version = "unsupported database class map file version";
    const char* noDictionary = "database class map file does not contain dictionary";
    const char* malformed = "database class map file has a malformed entry";
    const struct {
        ZELValue file;  // none: bytes that are no property list
        int code;
        const char* message;
    } cases[] = {
        {ZELValue(), 0, failed},
        {ZELValue(ZELValue::Array{}), 0, failed},
        {ZELValue(Dictionary{}), 0, failed},
        {ZELValue(Dictionary{{u"Version", ZELValue(2)}, {u"ClassMap", emptyMap}}), 1, version},
        {ZELValue(Dictionary{{u"ClassMap", emptyMap}}), 1, version},
        {ZELValue(Dictionary{{u"Version", ZELValue(u"1")}, {u"ClassMap", emptyMap}}), 1, version},
        {ZELValue(Dictionary{{u"Version", ZELValue(1)}}), 3, noDictionary},
        {fileWithClassMap(ZELValue(ZELValue::Array{})), 3, noDictionary},
        {entry(u"x", ZELValue(u"MailItem")), 3, malformed},
        {entry(u"0", ZELValue(u"MailItem")), 3, malformed},
        {entry(u"01", ZELValue(u"MailItem")), 3, malformed},
        {entry(u"4294967296", ZELValue(u"MailItem")), 3, malformed},
        {entry(u"1", ZELValue(7)), 3, malformed},
    };

    auto map = ZELDatabaseItemClassMap::mapWithFileAtURL(url_);
    ASSERT_TRUE(map->loadWithDatabase(resolver_, nullptr));
    EXPECT_EQ(map->tokenForItemClass("MailItem"), 1u);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(&testCase - cases);
        std::filesystem::remove(url_);
        if (testCase.file.isNone()) {
            std::ofstream(url_) << "garbage";
        } else {
            writeFile(testCase.file);
        }
        ZELError error;
        EXPECT_FALSE(map->loadWithDatabase(resolver_, &error));
        EXPECT_TRUE(error.matchesZELErrorCode(testCase.code)) << error.description();
        EXPECT_EQ(error.failureReason(), testCase.message);
        EXPECT_EQ(map->itemClassForToken(1), "MailItem");
        EXPECT_TRUE(map->hadChanges());
    }
}

TEST_F(ZELDatabaseItemClassMapTest, WriteFailureReportsCode4AndKeepsTheChange) {
    auto map = ZELDatabaseItemClassMap::mapWithFileAtURL((folder_ / "missing/itemClasses.plist").string());
    ASSERT_TRUE(map->loadWithDatabase(resolver_, nullptr));
    map->tokenForItemClass("MailItem");
    ZELError error;
    EXPECT_FALSE(map->ensureSerializedAndGetError(&error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeWriteFailed));
    EXPECT_EQ(error.failureReason(), "could not write database class map");
    EXPECT_TRUE(map->hadChanges());
}

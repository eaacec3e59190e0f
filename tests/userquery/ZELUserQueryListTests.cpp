#include <chrono>
#include <fstream>
#include <thread>

#include "ZELUserQueryTestSupport.h"
#include "support/ZELTestLogCapture.h"
#include "zel/platform/TarvoFileWatcher.h"
#include "zel/platform/TarvoSecureURL.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/userquery/ZELUserQuery.h"
#include "zel/userquery/ZELUserQueryList.h"
#include "zel/userquery/ZELUserQueryList_FromFolder.h"

namespace {

// Polls `condition` every few milliseconds for up to five seconds.
template <typename Condition>
bool waitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::set<std::string> titlesOf(const ZELUserQueryList::EntryList& entries) {
    std::set<std::string> titles;
    for (const auto& entry : entries) titles.insert(entry->title() ? ZELStringToUTF8(*entry->title()) : "(none)");
    return titles;
}

class UserQueryListTest : public ZELUserQueryDatabaseTest {
protected:
    void SetUp() override {
        ZELUserQueryDatabaseTest::SetUp();
        queries_ = folder_ / "queries";
        std::filesystem::create_directories(queries_);
    }

    ZELValue savedQuery(const char* term, const char* aspectIdentifier) {
        ZELUserQuery query;
        query.addMatchValue(ZELStringFromUTF8(term), aspect(aspectIdentifier));
        return query.plistSerialization();
    }
    void writeQueryFile(const std::filesystem::path& path, const char* title, const char* term) {
        ZELValue::Dictionary file;
        file[u"title"] = ZELStringFromUTF8(title);
        file[u"query"] = savedQuery(term, "title");
        ZELError error;
        ASSERT_TRUE(ZELPropertyList::writeFile(path.string(), ZELValue(file), &error)) << error.description();
    }
    std::shared_ptr<TarvoSecureURL> secure(const std::filesystem::path& path) {
        ZELError error;
        auto url = TarvoSecureURL::secureURLCapturingBookmarkForURL(path, true, &error);
        EXPECT_TRUE(url) << error.description();
        return url;
    }
    std::shared_ptr<ZELUserQueryList_FromFolder> load(uint64_t flags) {
        ZELError error;
        auto list = ZELUserQueryList::listWithContentsOfFolder(secure(queries_), flags, &error);
        EXPECT_TRUE(list) << error.description();
        return std::dynamic_pointer_cast<ZELUserQueryList_FromFolder>(list);
    }

    std::filesystem::path queries_;
};

// ---- Entries ----

TEST_F(UserQueryListTest, EntriesReadTheirQueryOnFirstSuccessfulRequest) {
    ZELValue::Dictionary dictionary;
    dictionary[u"title"] = ZELValue(u"Oak");
    dictionary[u"query"] = savedQuery("oak", "title");
    auto entry = ZELUserQueryListEntry::entryWithPlistSerialization(ZELValue(dictionary));
    EXPECT_EQ(entry->title(), std::optional<ZELString>(u"Oak"));
    EXPECT_FALSE(entry->userQueryRaw());
    ZELError error;
    auto query = entry->userQueryWithDatabase(*db_, &error);
    ASSERT_TRUE(query) << error.description();
    EXPECT_EQ(entry->userQueryRaw(), query);
    EXPECT_EQ(query->stringRepresentation(), u"oak");
    EXPECT_EQ(entry->plistSerialization(), ZELValue(dictionary));

    // An unreadable query fails each request with the reader's error.
    dictionary[u"query"] = ZELValue(u"junk");
    dictionary[u"title"] = ZELValue(int64_t{5});
    auto broken = ZELUserQueryListEntry::entryWithPlistSerialization(ZELValue(dictionary));
    EXPECT_FALSE(broken->title());
    EXPECT_FALSE(broken->userQueryWithDatabase(*db_, &error));
    EXPECT_EQ(error.failureReason(), "ZELUserQuery plist should be dictionary.");
    EXPECT_FALSE(broken->userQueryWithDatabase(*db_, nullptr));

    // An entry made from a query: its property list comes from the query, then is kept.
    auto made = ZELUserQueryListEntry::entryWithTitle(u"Made", query);
    EXPECT_EQ(*made->plistSerialization().valueForKey("query"), savedQuery("oak", "title"));
    // Both hold queries: titles play no part. Otherwise the property lists, titles included.
    EXPECT_TRUE(made->isEqual(*entry));
    auto fromPlist = ZELUserQueryListEntry::entryWithPlistSerialization(entry->plistSerialization());
    EXPECT_FALSE(made->isEqual(*fromPlist));
    fromPlist->setTitle(u"Made");
    EXPECT_TRUE(made->isEqual(*fromPlist));
}

// ---- Lists in memory ----

TEST_F(UserQueryListTest, AddingRemovingAndMovingCountChanges) {
    auto list = ZELUserQueryList::list();
    auto entry = [&](const char* title, const char* term) {
        return ZELUserQueryListEntry::entryWithTitle(ZELStringFromUTF8(title), [&] {
            auto query = ZELUserQuery::query();
            query->addMatchValue(ZELStringFromUTF8(term), aspect("title"));
            return query;
        }());
    };
    auto a = entry("a", "oak"), b = entry("b", "ash"), c = entry("c", "elm");
    list->mutateEntriesUsing([&](auto& entries) {
        entries = {a, b, c};
        return true;
    });
    EXPECT_EQ(list->changeCount(), 1u);

    // Not sorted by use: addEntry leaves the entries alone but counts a change.
    list->addEntry(entry("d", "fir"));
    EXPECT_EQ(list->entries(), (ZELUserQueryList::EntryList{a, b, c}));
    EXPECT_EQ(list->changeCount(), 2u);

    // Sorted by use: an entry equal to the third moves it to the front; a new one goes first.
    list->setIsSortByMostRecentlyUsed(true);
    list->addEntry(entry("other title", "elm"));
    EXPECT_EQ(list->entries(), (ZELUserQueryList::EntryList{c, a, b}));
    auto d = entry("d", "fir");
    list->addEntry(d);
    EXPECT_EQ(list->entries(), (ZELUserQueryList::EntryList{d, c, a, b}));
    EXPECT_EQ(list->changeCount(), 4u);

    // removeEntry goes by identity.
    list->removeEntry(entry("a", "oak"));
    EXPECT_EQ(list->entries().size(), 4u);
    EXPECT_EQ(list->changeCount(), 4u);
    list->removeEntry(a);
    EXPECT_EQ(list->entries(), (ZELUserQueryList::EntryList{d, c, b}));
    EXPECT_EQ(list->changeCount(), 5u);

    list->moveEntryAtIndex(0, 2);
    EXPECT_EQ(list->entries(), (ZELUserQueryList::EntryList{c, b, d}));
    list->removeEntriesInRange(1, 5);
    EXPECT_EQ(list->entries(), (ZELUserQueryList::EntryList{c}));
    EXPECT_EQ(list->changeCount(), 7u);
    list->removeAllEntries();
    list->removeAllEntries();
    EXPECT_EQ(list->changeCount(), 8u);

    // The count wraps to 1 before the value that means "never".
    list->setChangeCount(ZELUserQueryList::changeCountNever - 1);
    list->markDidChange();
    EXPECT_EQ(list->changeCount(), 1u);
}

TEST_F(UserQueryListTest, ListPropertyListsRoundTrip) {
    auto list = ZELUserQueryList::list();
    auto query = ZELUserQuery::query();
    query->addMatchValue(u"oak", aspect("title"));
    list->addEntry(ZELUserQueryListEntry::entryWithTitle(u"Oak", query));  // not sorted: ignored
    list->mutateEntriesUsing([&](auto& entries) {
        entries.push_back(ZELUserQueryListEntry::entryWithTitle(u"Oak", query));
        return true;
    });
    ZELValue plist = list->plistSerialization();
    EXPECT_EQ(*plist.valueForKey("title"), ZELValue(u"{none}"));

    ZELValue::Dictionary outer;
    outer[u"title"] = ZELValue(u"Saved");
    outer[u"entries"] = ZELValue::Array{*plist.valueForKey("entries")->arrayValue().begin(), ZELValue(u"junk")};
    outer[u"sublists"] = ZELValue::Array{plist, ZELValue(ZELValue::Dictionary{})};
    ZELError error;
    auto read = ZELUserQueryList::listWithPlistSerialization(ZELValue(outer), &error);
    ASSERT_TRUE(read) << error.description();
    EXPECT_EQ(read->title(), std::optional<ZELString>(u"Saved"));
    ASSERT_EQ(read->entries().size(), 1u);
    ASSERT_EQ(read->sublists().size(), 1u);
    // A list written without title reads back with the text "{none}".
    EXPECT_EQ(read->sublists()[0]->title(), std::optional<ZELString>(u"{none}"));
    EXPECT_EQ(read->sublists()[0]->plistSerialization(), plist);
    ASSERT_TRUE(read->entries()[0]->userQueryWithDatabase(*db_, &error));
    EXPECT_TRUE(read->entries()[0]->userQueryWithDatabase(*db_, &error)->isEqual(*query));

    EXPECT_FALSE(ZELUserQueryList::listWithPlistSerialization(ZELValue(ZELValue::Dictionary{}), &error));
    EXPECT_NE(error.failureReason().find("entries"), std::string::npos);
}

// ---- Folders ----

TEST_F(UserQueryListTest, FolderFilesBecomeEntriesAndSubfoldersSublists) {
    writeQueryFile(queries_ / "a.query", "Another title", "oak");
    writeQueryFile(queries_ / ".hidden.query", "hidden", "ash");
    std::ofstream(queries_ / "b.txt") << "text";
    std::filesystem::create_directories(queries_ / "S");
    writeQueryFile(queries_ / "S" / "inner.query", "inner", "elm");

    auto flat = load(0);
    ASSERT_TRUE(flat);
    // The file name, not the stored title, is shown.
    EXPECT_EQ(titlesOf(flat->entries()), (std::set<std::string>{"a", ".hidden"}));
    EXPECT_TRUE(flat->sublists().empty());
    EXPECT_EQ(flat->folderWatchToken(), 0u);

    auto nested = load(ZELUserQueryList::LoadFlagLoadSubfolders);
    ASSERT_TRUE(nested);
    EXPECT_EQ(titlesOf(nested->entries()), (std::set<std::string>{"a", ".hidden"}));
    ASSERT_EQ(nested->sublists().size(), 1u);
    auto sublist = std::dynamic_pointer_cast<ZELUserQueryList_FromFolder>(nested->sublists()[0]);
    ASSERT_TRUE(sublist);
    EXPECT_EQ(sublist->title(), std::optional<ZELString>(u"S"));
    EXPECT_EQ(sublist->loadFlags(), uint64_t{ZELUserQueryList::LoadFlagLoadSubfolders});
    // A sublist loads when first asked.
    EXPECT_TRUE(sublist->entries().empty());
    sublist->ensureLoaded();
    EXPECT_EQ(titlesOf(sublist->entries()), (std::set<std::string>{"inner"}));

    auto watched = load(ZELUserQueryList::LoadFlagLoadSubfolders | ZELUserQueryList::LoadFlagWatchSubfolders);
    ASSERT_TRUE(watched);
    auto watchedSublist = std::dynamic_pointer_cast<ZELUserQueryList_FromFolder>(watched->sublists().at(0));
    EXPECT_EQ(watchedSublist->loadFlags(), 7u);

    ZELError error;
    auto query = flat->entries()[0]->userQueryWithDatabase(*db_, &error);
    ASSERT_TRUE(query) << error.description();
}

TEST_F(UserQueryListTest, DamagedFilesAreLoggedAndLeftOut) {
    writeQueryFile(queries_ / "good.query", "good", "oak");
    std::ofstream(queries_ / "damaged.query") << "<plist><dict><key>title";
    ZELValue::Array notADictionary;
    ASSERT_TRUE(ZELPropertyList::writeFile((queries_ / "array.query").string(), ZELValue(notADictionary), nullptr));
    ZELTestLogCapture log;
    auto list = load(0);
    ASSERT_TRUE(list);
    EXPECT_EQ(titlesOf(list->entries()), (std::set<std::string>{"good"}));
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(UserQueryListTest, EnsureLoadedReloadsOnlyWhenTheFolderChanged) {
    writeQueryFile(queries_ / "a.query", "a", "oak");
    auto list = std::make_shared<ZELUserQueryList_FromFolder>(secure(queries_), 0);
    EXPECT_EQ(list->changeCount(), 0u);
    list->ensureLoaded();
    EXPECT_EQ(list->changeCount(), 1u);
    auto entries = list->entries();
    list->ensureLoaded();
    list->ensureLoaded();
    EXPECT_EQ(list->changeCount(), 1u);
    EXPECT_EQ(list->entries(), entries);
    EXPECT_EQ(list->lastLoadedFolderURL(), std::optional<std::filesystem::path>(secure(queries_)->url()));

    // Adding a file changes the folder's date. Coarse file-system clocks may give the same
    // date to changes close in time, so the folder's date is moved on explicitly.
    writeQueryFile(queries_ / "b.query", "b", "ash");
    std::filesystem::last_write_time(queries_, std::filesystem::last_write_time(queries_) + std::chrono::seconds(1));
    list->ensureLoaded();
    EXPECT_EQ(list->changeCount(), 2u);
    EXPECT_EQ(titlesOf(list->entries()), (std::set<std::string>{"a", "b"}));
}

TEST_F(UserQueryListTest, AnUnreadableFolderAnswersTheAccessError) {
    // Tests may run as root, who reads everything: a file and a missing folder stand in.
    std::ofstream(folder_ / "plain") << "not a folder";
    ZELError error;
    auto notAFolder = std::make_shared<TarvoSecureURL>(folder_ / "plain", true);
    EXPECT_FALSE(ZELUserQueryList::listWithContentsOfFolder(notAFolder, 0, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeFileAccess));
    EXPECT_EQ(error.failureReason(),
              "The folder \"" + (folder_ / "plain").string() + "\" cannot be read: it is not a folder.");
    EXPECT_FALSE(ZELUserQueryList::listWithContentsOfFolder(nullptr, 0, &error));

    // Capturing a missing location fails; a folder that goes away fails the reload, which keeps
    // the contents.
    EXPECT_FALSE(TarvoSecureURL::secureURLCapturingBookmarkForURL(folder_ / "missing", true, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeFileAccess));
    writeQueryFile(queries_ / "a.query", "a", "oak");
    auto list = load(0);
    ASSERT_TRUE(list);
    std::filesystem::remove_all(queries_);
    error = ZELError();
    EXPECT_FALSE(list->reloadFromDiskAndGetError(&error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeFileAccess));
    EXPECT_NE(error.failureReason().find("cannot be read: No such file or directory"), std::string::npos)
        << error.failureReason();
    EXPECT_EQ(titlesOf(list->entries()), (std::set<std::string>{"a"}));
    ZELTestLogCapture log;
    EXPECT_FALSE(list->reloadFromDisk());
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(UserQueryListTest, AWatchedFolderReloadsWhenItChanges) {
    writeQueryFile(queries_ / "a.query", "a", "oak");
    auto list = load(ZELUserQueryList::LoadFlagWatchFolder);
    ASSERT_TRUE(list);
    ASSERT_NE(list->folderWatchToken(), 0u);
    const size_t registrations = TarvoFileWatcher::instance().registrationCount();
    auto titlesAre = [&](std::set<std::string> expected) {
        return waitFor([&] { return titlesOf(list->entries()) == expected; });
    };

    writeQueryFile(queries_ / "b.query", "b", "ash");  // added
    EXPECT_TRUE(titlesAre({"a", "b"}));
    std::filesystem::rename(queries_ / "a.query", queries_ / "c.query");  // renamed
    EXPECT_TRUE(titlesAre({"b", "c"}));
    std::filesystem::remove(queries_ / "b.query");  // removed
    EXPECT_TRUE(titlesAre({"c"}));
    // Reloads register the folder again under the same token.
    EXPECT_EQ(TarvoFileWatcher::instance().registrationCount(), registrations);

    // A destroyed list leaves the watcher.
    list.reset();
    EXPECT_EQ(TarvoFileWatcher::instance().registrationCount(), registrations - 1);
}

}  // namespace


#include <algorithm>
#include <random>

#include "ZELDatabaseTestSupport.h"
#include "support/ZELTestFileBytes.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/storage/ZELDatabaseJournal.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

bool anyMentions(const std::vector<std::string>& findings, const std::string& text) {
    return std::any_of(findings.begin(), findings.end(), [&](const std::string& finding) {
        return finding.find(text) != std::string::npos;
    });
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// A small saved database (three items; a fourth added and removed, so that the stores have
// free blocks), damaged in one way per case and checked.
class ZELDatabaseCheckerTest : public ZELDatabaseTest {
protected:
    void SetUp() override {
        ZELDatabaseTest::SetUp();
        db_ = openDatabase();
        add("a", "apple banana", "red");
        add("b", "banana cherry", "red green");
        add("c", "cherry", "blue");
        ASSERT_TRUE(db_->ensureSerialized());
        const ZELID removed = add("d", "date", "purple");
        ASSERT_TRUE(db_->ensureSerialized());
        db_->removeItemsWithIDs(*ZELIDVector::vectorWithID(removed));
        ASSERT_TRUE(db_->ensureSerialized());
        db_->invalidate();
        db_.reset();
    }

    std::vector<std::string> check() { return ZELDatabaseChecker(folder_).check(); }
    fs::path store(const char* name) const { return folder_ / "storage" / name; }

    // Changes the object bytes of `objectID` in a store in place; they may shrink, and the
    // block's length prefix and the index entry follow.
    void rewriteObject(const char* storeName, ZELID objectID,
                       const std::function<void(Bytes&)>& change) {
        const fs::path indexURL = store(storeName).string() + ".index";
        Bytes index = ZELTestReadFile(indexURL);
        const size_t entry = 20 + 12 * (objectID - 1);
        const uint32_t fileNumber = ZELTestRead32(index, entry);
        const uint32_t offset = ZELTestRead32(index, entry + 4);
        const uint32_t length = ZELTestRead32(index, entry + 8);
        const fs::path dataURL = store(storeName) / "0" / (std::to_string(fileNumber) + ".data");
        Bytes data = ZELTestReadFile(dataURL);
        Bytes object(data.begin() + offset + 4, data.begin() + offset + length);
        change(object);
        ZELTestPut32(data, offset, static_cast<uint32_t>(object.size() + 4));
        std::copy(object.begin(), object.end(), data.begin() + offset + 4);
        ZELTestPut32(index, entry + 8, static_cast<uint32_t>(object.size() + 4));
        ZELTestWriteFile(dataURL, data);
        ZELTestWriteFile(indexURL, index);
    }
    void changeFile(const fs::path& url, const std::function<void(Bytes&)>& change) {
        Bytes bytes = ZELTestReadFile(url);
        change(bytes);
        ZELTestWriteFile(url, bytes);
    }
    std::vector<fs::path> filesWithExtension(const char* extension) const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
            if (entry.is_regular_file() && entry.path().extension() == extension)
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // Every item's fields as text.
    std::string items() {
        std::string text;
        withDatabase([&](ZELDatabase& db) {
            db.allExistingItemIDs()->enumerateIDs([&](ZELID itemID, bool&) {
                const auto item =
                    std::dynamic_pointer_cast<ZELTestItem>(db.itemForItemID(itemID, nullptr));
                text += std::to_string(itemID) + " " +
                        (item ? ZELStringToUTF8(item->key + u"|" + item->words + u"|" + item->tags)
                              : "?") +
                        "\n";
            });
        });
        return text;
    }
    // The content digest of the database on the folder.
    std::string digest() {
        std::string text;
        withDatabase([&](ZELDatabase& db) { text = ZELTestContentDigest(db); });
        return text;
    }
    void withDatabase(const std::function<void(ZELDatabase&)>& visitor) {
        auto db = openDatabase();
        visitor(*db);
        db->invalidate();
    }
};

TEST_F(ZELDatabaseCheckerTest, EachDamageGivesItsFinding) {
    isDamagedOnPurpose_ = true;
    const fs::path pristine = folder_.string() + "-pristine";
    fs::remove_all(pristine);
    fs::copy(folder_, pristine, fs::copy_options::recursive);
    const auto indexOf = [&](const char* name) { return store(name).string() + ".index"; };
    const struct {
        const char* name;
        std::function<void()> damage;
        const char* finding;
    } cases[] = {
        {"flipped index entry byte",
         [&] { changeFile(indexOf("items"), [](Bytes& b) { b[24] ^= 0x04; }); },
         "items.index: object 1 at offset 12 is off the block grid"},
        {"truncated data file",
         [&] {
             // Item 3's data file, cut just after its block's length prefix.
             const Bytes index = ZELTestReadFile(indexOf("items"));
             const uint32_t offset = ZELTestRead32(index, 20 + 12 * 2 + 4);
             changeFile(store("items") / "0" /
                            (std::to_string(ZELTestRead32(index, 20 + 12 * 2)) + ".data"),
                        [&](Bytes& b) { b.resize(offset + 4); });
         },
         "runs past the end of the file"},
        {"two entries naming one block",
         [&] {
             changeFile(indexOf("itemIDVectors"), [](Bytes& b) {
                 std::copy(b.begin() + 20, b.begin() + 32, b.begin() + 32);
             });
         },
         "objects 1 and 2 name overlapping blocks"},
        {"item vector missing an ID its inverse holds",
         [&] {
             rewriteObject("aspectBitIDVectors", 1, [](Bytes& b) {
                 ZELTestPut32(b, 0, ZELTestRead32(b, 0) - 1);
                 b.resize(b.size() - 4);
             });
         },
         "storage/aspectBitIDVectors: item 1 lacks aspect bit"},
        {"use count off by one",
         [&] {
             rewriteObject("aspectValues", 1, [](Bytes& b) {
                 const uint32_t length = ZELTestRead32(b, 0);
                 ZELTestPut32(b, 4 + length + (4 - length % 4) % 4, 3);
             });
         },
         "use count of aspect bit 1 (\"banana\") is 3, but 2 items carry it"},
        {"sort file out of order",
         [&] {
             changeFile(folder_ / "aspects" / "words.sort", [](Bytes& b) {
                 std::swap_ranges(b.begin() + 8, b.begin() + 12, b.begin() + 12);
             });
         },
         "aspects/words.sort: not in sort order at 1 places, first \"banana\" before \"apple\""},
        {"sort file missing a term",
         [&] {
             changeFile(folder_ / "aspects" / "tags.sort", [](Bytes& b) {
                 ZELTestPut32(b, 4, ZELTestRead32(b, 4) - 1);
                 b.erase(b.end() - 8, b.end() - 4);
             });
         },
         "is in no sort file"},
        {"unknown class token",
         [&] { rewriteObject("items", 2, [](Bytes& b) { ZELTestPut32(b, 0, 99); }); },
         "storage/items: item 2 has class token 99, which the class map lacks"},
        {"damaged free table",
         [&] { changeFile(filesWithExtension(".free").at(0), [](Bytes& b) { b[0] = 7; }); },
         "could not be read: free space table version number is invalid"},
        {"journal left by an interrupted save",
         [&] { ZELTestWriteFile(folder_ / ZELDatabaseJournal::fileName, {1}); },
         "ZELDatabase.journal: interrupted save: journal present; opening the database rolls it "
         "back"},
    };
    for (const auto& damageCase : cases) {
        fs::remove_all(folder_);
        fs::copy(pristine, folder_, fs::copy_options::recursive);
        damageCase.damage();
        const std::vector<std::string> findings = check();
        EXPECT_TRUE(anyMentions(findings, damageCase.finding)) << damageCase.name << ":\n"
                                                               << joined(findings);
    }
    fs::remove_all(pristine);
}

// The disk breakdown accounts for every byte of each store, and finds the block the removed
// item left in the item store's free space table (read on demand since opening skips it).
TEST_F(ZELDatabaseCheckerTest, DiskUsageAccountsForTheFreeBlocks) {
    const ZELDatabaseChecker::DiskUsage usage = ZELDatabaseChecker(folder_).diskUsage();
    ASSERT_EQ(usage.stores.size(), 4u);
    uint64_t storeBytes = 0;
    for (const ZELDatabaseChecker::StoreDiskUsage& store : usage.stores) {
        SCOPED_TRACE(store.name);
        EXPECT_EQ(store.objectBytes + store.blockSlack + store.freeBytes + store.indexBytes +
                      store.otherBytes,
                  store.totalBytes);
        storeBytes += store.totalBytes;
    }
    EXPECT_EQ(usage.stores[0].objectCount, 3u);
    EXPECT_GT(usage.stores[0].freeBytes, 0u);
    EXPECT_EQ(storeBytes + usage.otherFileBytes, usage.totalBytes);
}

// Repair rebuilds the derived files; a second check is clean, and the content is unchanged.
TEST_F(ZELDatabaseCheckerTest, RepairRebuildsFreeTablesAndSortFiles) {
    const std::string before = digest();
    changeFile(filesWithExtension(".free").at(0), [](Bytes& b) { b.resize(10); });
    changeFile(folder_ / "aspects" / "words.sort",
               [](Bytes& b) { std::swap_ranges(b.begin() + 8, b.begin() + 12, b.begin() + 12); });
    // An unreadable list is the one that lost the values no other list holds.
    changeFile(folder_ / "aspects" / "key.sort", [](Bytes& b) { b.resize(b.size() - 1); });
    ASSERT_EQ(check().size(), 3u) << joined(check());

    std::vector<std::string> rebuilt;
    ASSERT_TRUE(ZELDatabaseChecker(folder_).repair(&rebuilt, nullptr));
    EXPECT_EQ(rebuilt.size(), 3u) << joined(rebuilt);
    EXPECT_TRUE(anyMentions(rebuilt, ".free could not be read"));
    EXPECT_TRUE(anyMentions(rebuilt, "aspects/words.sort: rebuilt from the value store, 3 keys"));
    EXPECT_TRUE(anyMentions(rebuilt, "aspects/key.sort: rebuilt from the value store, 3 keys"));
    EXPECT_EQ(joined(check()), "");
    EXPECT_EQ(digest(), before);

    // A journal means the files hold part of a save: repair waits for the rollback.
    ZELTestWriteFile(folder_ / ZELDatabaseJournal::fileName, {1});
    ZELError error;
    EXPECT_FALSE(ZELDatabaseChecker(folder_).repair(&rebuilt, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeUnsupportedOperation));
    fs::remove(folder_ / ZELDatabaseJournal::fileName);
}

// A damaged free table is repaired when the database opens: the delegate is warned, and the
// database saves and reopens correctly.
// The tables are compared when a store first writes, not when the database opens.
TEST_F(ZELDatabaseCheckerTest, DamagedFreeTableIsRebuiltWithAWarningBeforeTheFirstWrite) {
    const std::string before = items();
    for (const fs::path& table : filesWithExtension(".free")) {
        changeFile(table, [](Bytes& b) { b.resize(b.size() / 2); });
    }
    ZELTestRecordingDelegate delegate;
    db_ = openDatabase("test.db", &delegate);
    ZELMainQueue::drain();
    EXPECT_TRUE(delegate.errors.empty());
    bool added = false;
    const ZELID addedID = db_->addItem(ZELTestMakeItem("e", "elder", "red"), &added);
    ASSERT_TRUE(added);
    ASSERT_TRUE(db_->ensureSerialized());
    ZELMainQueue::drain();
    ASSERT_FALSE(delegate.errors.empty());
    EXPECT_NE(delegate.errors[0].failureReason().find("rebuilt from the index"), std::string::npos);
    reopen();
    db_->invalidate();
    db_.reset();
    EXPECT_EQ(joined(check()), "");
    EXPECT_EQ(items(), before + std::to_string(addedID) + " e|elder|red\n");
}

// Truncating any file of the folder at a few lengths gives findings; random byte flips may go
// unseen (a flip inside a key's text), but never crash the checker.
TEST_F(ZELDatabaseCheckerTest, TruncatedFilesGiveFindingsAndFlipsNeverCrash) {
    isDamagedOnPurpose_ = true;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    ASSERT_GT(files.size(), 20u);
    for (const fs::path& file : files) {
        const Bytes original = ZELTestReadFile(file);
        for (const size_t length :
             {size_t{0}, size_t{3}, original.size() / 2, original.size() - 2}) {
            ZELTestWriteFile(file, Bytes(original.begin(),
                                         original.begin() + std::min(length, original.size())));
            EXPECT_FALSE(check().empty()) << file << " cut to " << length;
        }
        std::mt19937 random(static_cast<uint32_t>(original.size()));
        for (int round = 0; round < 4; ++round) {
            Bytes flipped = original;
            flipped[random() % flipped.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            ZELTestWriteFile(file, flipped);
            check();
        }
        ZELTestWriteFile(file, original);
    }
    EXPECT_EQ(joined(check()), "");
}

}  // namespace

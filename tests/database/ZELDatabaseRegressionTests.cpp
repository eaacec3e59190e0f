#include <cstring>

#include "ZELDatabaseTestSupport.h"
#include "support/ZELTestFileBytes.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/platform/ZELPropertyList.h"

// Faults of opening and saving that once lost terms, synonyms or every later save.

namespace {

// A sort file: magic number, count, the IDs, magic number, all little-endian.
std::string sortFileBytes(const std::vector<ZELID>& ids) {
    std::string bytes;
    const auto put = [&](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(value >> shift);
    };
    put(0x1D1D0001);
    put(static_cast<uint32_t>(ids.size()));
    for (ZELID id : ids) put(id);
    put(0x1D1D0001);
    return bytes;
}

}  // namespace

// A folder of an earlier writer keeps its lists in the plain code point order ("eb" before
// "e\u0301a") and notes no order in its meta info: each list is re-sorted when loaded, and
// saved once in the present order.
TEST_F(ZELDatabaseTest, SortFileInThePlainOrderIsResortedOnce) {
    const std::string accented = "e\xCC\x81" "a";
    db_ = openDatabase();
    db_->addItem(ZELTestMakeItem("k1", "eb"), nullptr);
    db_->addItem(ZELTestMakeItem("k2", accented), nullptr);
    const ZELID eb = idOf(u"words", "eb");
    const ZELID ea = idOf(u"words", accented);
    db_->setClientPlistValue(ZELValue(), ZELDatabase::sortFileKeyOrderClientKey);
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();
    const auto wordsFile = folder_ / "aspects" / "words.sort";
    ZELTestWriteFile(wordsFile, sortFileBytes({eb, ea}));

    db_ = openDatabase();
    EXPECT_EQ(idOf(u"words", "eb"), eb);
    EXPECT_EQ(idOf(u"words", accented), ea);
    // The accented word is found again, not added a second time.
    db_->addItem(ZELTestMakeItem("k3", accented), nullptr);
    EXPECT_EQ(useCountOf(ea), 2u);
    EXPECT_EQ(db_->aspectWithIdentifier(u"words")->aspectBitCount(), 2u);
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_EQ(ZELTestReadFile<std::string>(wordsFile), sortFileBytes({ea, eb}));
    const auto info = ZELDatabaseMetaInfo::infoWithURL((folder_ / "ZELDatabaseInfo.plist").string());
    EXPECT_EQ(info->clientPlistValueForKey(ZELDatabase::sortFileKeyOrderClientKey).integerValue(),
              ZELDatabase::sortFileKeyOrder);
}

// An identifier beginning with "%" was once stored under its raw name: that file is read when
// the escaped one is missing, and the next save writes the escaped one.
TEST_F(ZELDatabaseTest, SortFileUnderTheRawNameOfAnEscapedIdentifierIsRead) {
    const auto addRawAspect = [](ZELDatabase& db) {
        db.ensureAspectExistsWithIdentifier(u"%raw")->setAspectValueTokenizer(
            ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>("testTags", nullptr));
    };
    db_ = openDatabase();
    addRawAspect(*db_);
    db_->addItem(ZELTestMakeItem("k1", "a", "old"), nullptr);
    const ZELID old = idOf(u"%raw", "old");
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();
    std::filesystem::rename(folder_ / "aspects" / "%%25raw.sort", folder_ / "aspects" / "%raw.sort");

    db_ = openDatabase();
    addRawAspect(*db_);
    EXPECT_EQ(idOf(u"%raw", "old"), old);
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / "aspects" / "%%25raw.sort"),
              sortFileBytes({old}));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "aspects" / "%raw.sort"));
    // "%%25x" is the escaped name of "%x": never read as the raw name of "%%25x".
    EXPECT_EQ(ZELAspect::sortFileBaseNamesForAspectIdentifier(u"%%25x"),
              std::vector<std::string>{"%%25%2525x"});
}

TEST(ZELSynonymList, RemovingASynonymLeavesTextsALaterOneTookOver) {
    auto synonyms = ZELSynonymList::listWithFolderURL("/nonexistent");
    synonyms->addSynonym(u"A", {u"t", u"u"});
    synonyms->addSynonym(u"B", {u"t"});
    synonyms->removeSynonym(u"A");
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"t"), ZELString(u"B"));
    EXPECT_EQ(synonyms->synonymForAspectBitValue(u"u"), std::nullopt);
}

// A damaged synonyms file is reported, the database opens without synonyms and saves; the file
// stays until the synonyms change, and is then kept aside. An "aspects.plist" that failed to
// restore is kept aside in the same way when a save replaces it.
TEST_F(ZELDatabaseTest, DamagedSynonymsAndAspectsFilesStopNothingAndAreKeptAside) {
    db_ = openDatabase();
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();
    const auto synonymsFile = folder_ / "storage" / "synonyms" / "synonyms.plist";
    std::filesystem::create_directories(synonymsFile.parent_path());
    ZELTestWriteFile(synonymsFile, "<plist>broken");
    ZELTestWriteFile(folder_ / "aspects.plist", "<plist>also broken");

    ZELTestRecordingDelegate delegate;
    db_ = openDatabase("test.db", &delegate, false);
    ZELMainQueue::drain();
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_EQ(delegate.errors[0].failureReason(), "could not load in " + synonymsFile.string());
    EXPECT_TRUE(db_->synonymList()->allSynonyms().empty());
    ZELError error;
    EXPECT_FALSE(db_->restoreAspectsFromInfoFile(&error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(), "could not load in " + (folder_ / "aspects.plist").string());
    EXPECT_TRUE(db_->allAspects().empty());
    ASSERT_TRUE(db_->ensureSerialized());
    EXPECT_EQ(ZELTestReadFile<std::string>(synonymsFile), "<plist>broken");
    EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / "aspects.plist"), "<plist>also broken");

    addAspects(*db_);
    db_->synonymList()->addSynonym(u"fruit", {u"apple"});
    ASSERT_TRUE(db_->ensureSerialized()) << db_->lastSerializationError().description();
    EXPECT_EQ(ZELTestReadFile<std::string>(synonymsFile.parent_path() / "synonyms-damaged.plist"),
              "<plist>broken");
    EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / "aspects-damaged.plist"),
              "<plist>also broken");
    db_->invalidate();
    db_ = openDatabase("test.db", nullptr, false);
    EXPECT_TRUE(db_->restoreAspectsFromInfoFile(nullptr));
    EXPECT_EQ(db_->allAspects().size(), 3u);
    EXPECT_EQ(db_->synonymList()->synonymForAspectBitValue(u"apple"), ZELString(u"fruit"));
}

// An aspect without tokenizer is saved with an empty tokenizer dictionary: a strict reader
// takes that for a tokenizer that is not available, where a missing one fails the whole file.
TEST_F(ZELDatabaseTest, AspectWithoutTokenizerIsSavedInAFormEveryReaderAccepts) {
    db_ = openDatabase();
    db_->ensureAspectExistsWithIdentifier(u"bare");
    ASSERT_TRUE(db_->ensureSerialized());
    ZELValue plist;
    ASSERT_TRUE(ZELPropertyList::readFile(folder_ / "aspects.plist", &plist, nullptr));
    const ZELValue* tokenizer =
        plist.valueForKey("AspectDefs")->arrayValue().back().valueForKey("aspectTokenizer");
    ASSERT_TRUE(tokenizer);
    ZELError error;
    EXPECT_FALSE(ZELTokenizer::tokenizerForSerializedRepresentation(*tokenizer, &error));
    EXPECT_FALSE(error.isError());

    db_->invalidate();
    db_ = openDatabase("test.db", nullptr, false);
    ASSERT_TRUE(db_->restoreAspectsFromInfoFile(nullptr));
    EXPECT_FALSE(db_->aspectWithIdentifier(u"bare")->aspectValueTokenizer());
    EXPECT_FALSE(db_->isReadOnly());
}

// The item -> terms vectors are read on first use: a database with one damaged vector opens,
// the lookups that need that vector report the error and find no terms (the item can still be
// removed), and every other item answers as before.
TEST_F(ZELDatabaseTest, DamagedItemTermsVectorGivesItsErrorOnFirstUse) {
    db_ = openDatabase();
    const ZELID damaged = add("k1", "apple banana");
    const ZELID whole = add("k2", "cherry");
    ASSERT_TRUE(db_->ensureSerialized());
    db_->invalidate();
    // The block's length prefix claims more bytes than the block holds.
    const auto store = folder_ / "storage" / "aspectBitIDVectors";
    std::string index = ZELTestReadFile<std::string>(store.string() + ".index");
    uint32_t entry[2];
    std::memcpy(entry, index.data() + 20 + 12 * (damaged - 1), sizeof(entry));
    const auto dataFile = store / "0" / (std::to_string(entry[0]) + ".data");
    std::string data = ZELTestReadFile<std::string>(dataFile);
    data[entry[1] + 3] = '\x7f';
    ZELTestWriteFile(dataFile, data);
    isDamagedOnPurpose_ = true;

    ZELTestRecordingDelegate delegate;
    db_ = openDatabase("test.db", &delegate);
    EXPECT_EQ(db_->aspectIDVectorForItemID(whole)->count(), 2u);  // "cherry" and "k2"
    EXPECT_TRUE(db_->aspectIDVectorForItemID(damaged)->isEmpty());
    db_->removeItemsWithIDs(*ZELIDVector::vectorWithID(damaged));
    EXPECT_EQ(db_->itemForItemID(damaged, nullptr), nullptr);
    ZELMainQueue::drain();
    ASSERT_FALSE(delegate.errors.empty());
    EXPECT_TRUE(delegate.errors[0].matchesZELErrorCode(ZELErrorCodeInvalidData))
        << delegate.errors[0].description();
}

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "support/ZELTestFileBytes.h"
#include "support/ZELTestLogCapture.h"
#include "support/ZELTestScratchFolder.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELString.h"
#include "zel/storage/ZELSortedList.h"
#include "zel/storage/ZELSortedListIDCache.h"

namespace {

// The keys of a sorted list under test, kept as an owner's store would keep them: every key
// the owner knows, and the subset it holds "in memory". The loader answers keys in memory
// without loading, fetches others only when asked to load, and counts those fetches.
struct ZELTestKeyStore {
    std::map<ZELID, ZELString> keys;
    std::set<ZELID> inMemory;
    std::vector<ZELID> fetched;  // IDs loaded, in order

    ZELSortedListKeyLoader loader() {
        return [this](ZELID keyID, bool load) -> ZELSortedListKey {
            const auto found = keys.find(keyID);
            if (found == keys.end()) return nullptr;
            if (inMemory.count(keyID) == 0) {
                if (!load) return nullptr;
                inMemory.insert(keyID);
                fetched.push_back(keyID);
            }
            // The store outlives the list: lend the key without sharing ownership.
            return ZELSortedListKey(std::shared_ptr<void>(), &found->second);
        };
    }

    // Keys in memory, in place; null for others.
    ZELSortedListKeyPeeker peeker() {
        return [this](ZELID keyID) -> const ZELString* {
            const auto found = keys.find(keyID);
            return found != keys.end() && inMemory.count(keyID) ? &found->second : nullptr;
        };
    }

    // Forgets what is in memory and what was fetched.
    void evictAll() {
        inMemory.clear();
        fetched.clear();
    }
};

// A case-insensitive order (ASCII letters folded), so that the tests see the list use the
// comparison it was given rather than the strings' own order: "abc" and "ABC" are one key.
ZELString folded(ZELString text) {
    for (char16_t& unit : text) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
    return text;
}

int ZELTestFoldedCompare(const ZELString& key, const ZELString& other) {
    const int order = folded(key).compare(folded(other));
    return (order > 0) - (order < 0);
}

bool ZELTestFoldedHasPrefix(const ZELString& key, const ZELString& prefix) {
    return folded(key).starts_with(folded(prefix));
}

struct ZELTestFoldedLess {
    bool operator()(const ZELString& a, const ZELString& b) const {
        return ZELTestFoldedCompare(a, b) < 0;
    }
};

ZELString key(const char* utf8) {
    return ZELStringFromUTF8(utf8);
}

// "k0000", "k0001", ...: keys whose order is their number's.
ZELString numberedKey(uint64_t number) {
    return ZELStringFromUTF8(ZELStringWithFormat("k%04lu", static_cast<unsigned long>(number)));
}

class ZELSortedListTest : public ZELTestFolderTest {
protected:
    void SetUp() override {
        ZELTestFolderTest::SetUp();
        list_ = makeList();
    }

    std::shared_ptr<ZELSortedList> makeList() {
        auto list = ZELSortedList::listWithBaseURL(baseURL_, store_.loader());
        list->setKeyCompareSelector(ZELTestFoldedCompare, ZELTestFoldedHasPrefix);
        if (keyHash_) list->setKeyHash(keyHash_);
        if (peeksKeys_) list->setKeyPeeker(store_.peeker());
        return list;
    }

    void checkModelBasedInsertRemoveSaveReload();

    // Gives the store a key and the list its ID.
    void add(ZELID keyID, const ZELString& text) {
        store_.keys[keyID] = text;
        list_->assignID(keyID, text);
    }

    // Adds the keys with IDs 1, 2, ... in turn.
    void addTexts(std::initializer_list<const char*> texts) {
        ZELID keyID = 1;
        for (const char* text : texts) add(keyID++, key(text));
    }

    // Adds keys k0000 ... with IDs 1 ... in ascending order.
    void addNumberedKeys(uint64_t count) {
        for (uint64_t number = 0; number < count; ++number) {
            add(static_cast<ZELID>(number + 1), numberedKey(number));
        }
    }

    static std::vector<ZELID> allIDs(const ZELSortedList& list) {
        std::vector<ZELID> ids;
        list.enumerateIDBlocks([&](const ZELID* block, uint64_t count, bool&) {
            ids.insert(ids.end(), block, block + count);
        });
        return ids;
    }

    static std::vector<uint64_t> sliceCounts(const ZELSortedList& list) {
        std::vector<uint64_t> counts;
        for (uint64_t index = 0; index < list.sliceCount(); ++index) {
            counts.push_back(list.sliceAtIndex(index).count());
        }
        return counts;
    }

    static std::vector<ZELID> prefixIDs(const ZELSortedList& list, const ZELString& prefix,
                                        const ZELIDVector* allowed = nullptr) {
        std::vector<ZELID> ids;
        list.enumerateWithKeyPrefix(
            prefix, allowed, [&](ZELID keyID, const ZELString&, bool&) { ids.push_back(keyID); });
        return ids;
    }

    std::string sortFile() const { return baseURL_ + ".sort"; }

    const std::string baseURL_ = (folder_ / "aspects" / "title").string();
    ZELTestKeyStore store_;
    std::shared_ptr<ZELSortedList> list_;
    ZELSortedListKeyHash keyHash_;  // set before makeList to use the ID cache
    bool peeksKeys_ = false;        // set before makeList to give the list the store's peeker
};

// The reference: key -> ID under the same folded order.
using Model = std::map<ZELString, ZELID, ZELTestFoldedLess>;

std::vector<ZELID> modelIDs(const Model& model) {
    std::vector<ZELID> ids;
    for (const auto& [text, keyID] : model) ids.push_back(keyID);
    return ids;
}

std::vector<ZELID> modelPrefixIDs(const Model& model, const ZELString& prefix,
                                  const std::set<ZELID>* allowed) {
    std::vector<ZELID> ids;
    for (const auto& [text, keyID] : model) {
        if (ZELTestFoldedHasPrefix(text, prefix) && (!allowed || allowed->count(keyID))) {
            ids.push_back(keyID);
        }
    }
    return ids;
}

}  // namespace

// Random inserts and removals against a std::map under the same order, checked after every
// step (and in full every 20 steps), through slice splits and removals of whole slices, with
// saves and reloads on the way. Half the inserts go through the find-or-assign lookup.
void ZELSortedListTest::checkModelBasedInsertRemoveSaveReload() {
    std::mt19937 random(20240611);
    const auto randomText = [&] {
        static const char16_t alphabet[] = u"abcdeE";
        ZELString text(1 + random() % 7, u'a');
        for (char16_t& unit : text) unit = alphabet[random() % 6];
        return text;
    };

    Model model;
    ZELID nextID = 1;
    uint64_t largestSliceCount = 0;
    bool removedWholeSlice = false;
    const auto checkSlices = [&] {
        uint64_t total = 0;
        for (const uint64_t count : sliceCounts(*list_)) {
            ASSERT_GT(count, 0u);
            ASSERT_LT(count, ZELSortedList::maximumSliceCount);
            total += count;
        }
        ASSERT_EQ(total, model.size());
    };
    // After every step: the count, the slices' bounds, the key touched and its neighbours.
    const auto checkStep = [&](const ZELString& touched) {
        ASSERT_EQ(list_->count(), model.size());
        const auto at = model.lower_bound(touched);
        if (at != model.end()) {
            ASSERT_EQ(list_->assignedIDForKey(at->first), at->second);
        }
        if (at != model.begin()) {
            ASSERT_EQ(list_->assignedIDForKey(std::prev(at)->first), std::prev(at)->second);
        }
        checkSlices();
    };
    // Every few steps: every ID in order, without building copies.
    const auto checkAgainstModel = [&] {
        ASSERT_EQ(list_->count(), model.size());
        auto expected = model.begin();
        bool sameIDs = true;
        list_->enumerateIDBlocks([&](const ZELID* block, uint64_t count, bool& stop) {
            for (uint64_t index = 0; index < count && sameIDs; ++index, ++expected) {
                sameIDs = expected != model.end() && expected->second == block[index];
            }
            stop = !sameIDs;
        });
        ASSERT_TRUE(sameIDs && expected == model.end());
    };
    const auto checkPrefixes = [&] {
        std::vector<ZELID> allowedIDs;
        for (const auto& [text, keyID] : model) {
            if (random() % 2) allowedIDs.push_back(keyID);
        }
        std::sort(allowedIDs.begin(), allowedIDs.end());
        const std::set<ZELID> allowedSet(allowedIDs.begin(), allowedIDs.end());
        const auto allowed =
            ZELIDVector::vectorWithIDs(allowedIDs.data(), static_cast<uint32_t>(allowedIDs.size()));
        for (int probe = 0; probe < 6; ++probe) {
            const ZELString prefix = randomText().substr(0, 1 + probe % 3);
            ASSERT_EQ(prefixIDs(*list_, prefix), modelPrefixIDs(model, prefix, nullptr));
            ASSERT_EQ(prefixIDs(*list_, prefix, allowed.get()),
                      modelPrefixIDs(model, prefix, &allowedSet));
        }
        ASSERT_EQ(prefixIDs(*list_, u""), modelIDs(model));
    };
    const auto saveAndReload = [&] {
        ZELError error;
        ASSERT_TRUE(list_->ensureSerializedAndGetError(&error)) << error.description();
        EXPECT_FALSE(list_->hasUnsavedChanges());
        auto reloaded = makeList();
        ASSERT_TRUE(reloaded->loadAndGetError(&error)) << error.description();
        ASSERT_EQ(allIDs(*reloaded), modelIDs(model));
        ASSERT_EQ(reloaded->sliceCount(), (model.size() + 999) / 1000);
        ASSERT_TRUE(reloaded->isEqual(*list_));
        // The walk goes on with a list whose slices are read as the steps reach them.
        list_ = makeList();
        ASSERT_TRUE(list_->loadAndGetError(&error)) << error.description();
    };

    // Grow to a few thousand keys, shrink, empty the list; then once more on a smaller scale.
    for (int round = 0; round < 2; ++round) {
        const int stepCount = round == 0 ? 10000 : 2000;
        for (int step = 0; step < stepCount; ++step) {
            const bool growing = step < stepCount * 7 / 10;
            const ZELString text = randomText();
            ZELString touched = text;
            if (random() % 100 < (growing ? 90u : 10u)) {
                if (step % 2) {
                    const ZELID keyID = nextID++;
                    add(keyID, text);
                    model.emplace(text, keyID);  // an equal key keeps its ID
                } else {
                    const bool present = model.count(text) != 0;
                    bool wasAssigned = !present;
                    const ZELID keyID = list_->assignedIDForKey(
                        text,
                        [&] {
                            store_.keys[nextID] = text;
                            return nextID++;
                        },
                        &wasAssigned);
                    ASSERT_EQ(wasAssigned, !present);
                    model.emplace(text, keyID);
                    ASSERT_EQ(keyID, model.at(text));
                }
                ASSERT_EQ(list_->assignedIDForKey(text), model.at(text));
            } else {
                // Remove a stored key most of the time, an absent one otherwise.
                ZELString victim = text;
                if (!model.empty() && random() % 4 != 0) {
                    victim =
                        std::next(model.begin(), static_cast<long>(random() % model.size()))->first;
                }
                const uint64_t slicesBefore = list_->sliceCount();
                list_->removeAssignedIDForKey(victim);
                model.erase(victim);
                removedWholeSlice = removedWholeSlice || list_->sliceCount() < slicesBefore;
                ASSERT_EQ(list_->assignedIDForKey(victim), ZELNoID);
                touched = victim;
            }
            largestSliceCount = std::max(largestSliceCount, list_->sliceCount());
            ASSERT_NO_FATAL_FAILURE(checkStep(touched)) << "round " << round << " step " << step;
            if (step % 20 == 0) {
                ASSERT_NO_FATAL_FAILURE(checkAgainstModel())
                    << "round " << round << " step " << step;
            }
            if (step % 1500 == 0) {
                ASSERT_NO_FATAL_FAILURE(checkPrefixes());
            }
            if (step % 3000 == 2999) {
                ASSERT_NO_FATAL_FAILURE(saveAndReload());
            }
        }
        while (!model.empty()) {
            const ZELString victim = model.begin()->first;
            list_->removeAssignedIDForKey(victim);
            model.erase(victim);
        }
        ASSERT_NO_FATAL_FAILURE(checkAgainstModel());
        EXPECT_EQ(list_->sliceCount(), 0u);
        ASSERT_NO_FATAL_FAILURE(saveAndReload());
    }
    EXPECT_GE(largestSliceCount, 3u) << "the test must reach slice splits";
    EXPECT_TRUE(removedWholeSlice) << "the test must remove whole slices";
}

TEST_F(ZELSortedListTest, ModelBasedInsertRemoveSaveReload) {
    checkModelBasedInsertRemoveSaveReload();
}

// The same walk with the ID cache on, under a hash that lets many keys collide (the length
// agrees with the folded order), so that lookups must tell cached IDs apart by their keys and
// removals must leave every probe run whole.
TEST_F(ZELSortedListTest, ModelBasedWithTheIDCacheAndCollidingHashes) {
    keyHash_ = [](const ZELString& key) { return static_cast<uint32_t>(key.size() % 3); };
    list_ = makeList();
    checkModelBasedInsertRemoveSaveReload();
}

// Again with the keys in memory lent in place (the cache's checks and the searches read them
// through the peeker, the others through the loader); case variants ("abE", "abe") are one
// key whose code units differ.
TEST_F(ZELSortedListTest, ModelBasedWithTheIDCacheAndAKeyPeeker) {
    keyHash_ = [](const ZELString& key) { return static_cast<uint32_t>(key.size() % 3); };
    peeksKeys_ = true;
    list_ = makeList();
    checkModelBasedInsertRemoveSaveReload();
}

TEST_F(ZELSortedListTest, SliceOf1999SplitsIntoTwoOf1000WhenItReaches2000) {
    addNumberedKeys(1999);
    EXPECT_EQ(sliceCounts(*list_), std::vector<uint64_t>{1999});
    add(5000, numberedKey(1999));
    EXPECT_EQ(sliceCounts(*list_), (std::vector<uint64_t>{1000, 1000}));
    EXPECT_EQ(list_->sliceAtIndex(1).keyIDAtIndex(0), 1001u);
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(1999)), 5000u);
}

TEST_F(ZELSortedListTest, PrefixEnumeration) {
    addTexts({"car", "Card", "care", "cart", "cat", "dog", "ca"});

    // Stopping ends the enumeration.
    std::vector<ZELID> visited;
    list_->enumerateWithKeyPrefix(key("car"), [&](ZELID id, const ZELString& text, bool& stop) {
        visited.push_back(id);
        EXPECT_EQ(text, store_.keys.at(id));
        stop = visited.size() == 2;
    });
    EXPECT_EQ(visited, (std::vector<ZELID>{1, 2}));

    // Disallowed IDs are skipped without loading their keys: with no prefix nothing but the
    // allowed keys is loaded; with one, only what the search for the start place loads besides.
    const ZELID allowedIDs[] = {2, 4, 6};
    const auto allowed = ZELIDVector::vectorWithIDs(allowedIDs, 3);
    store_.evictAll();
    EXPECT_EQ(prefixIDs(*list_, u"", allowed.get()), (std::vector<ZELID>{2, 4, 6}));
    EXPECT_EQ(store_.fetched, (std::vector<ZELID>{2, 4, 6}));

    // Allowing no ID leaves only the search for the start place to load keys.
    store_.evictAll();
    EXPECT_TRUE(prefixIDs(*list_, key("car"), ZELIDVector::vector().get()).empty());
    std::set<ZELID> expectedLoads(store_.fetched.begin(), store_.fetched.end());
    expectedLoads.insert({2, 4, 6});
    store_.evictAll();
    EXPECT_EQ(prefixIDs(*list_, key("car"), allowed.get()), (std::vector<ZELID>{2, 4}));
    EXPECT_EQ(std::set<ZELID>(store_.fetched.begin(), store_.fetched.end()), expectedLoads);
}

// With a prefix test looser than the order, keys with the prefix may sort before the prefix
// itself; the list starts at the lower bound its owner gives. Here lower case sorts before
// upper case among keys equal when folded, so "a" lies before the prefix "A".
TEST_F(ZELSortedListTest, PrefixEnumerationStartsAtTheOwnersLowerBound) {
    const auto compare = [](const ZELString& a, const ZELString& b) {
        if (const int folded = ZELTestFoldedCompare(a, b)) return folded;
        return a == b ? 0 : (a > b ? -1 : 1);
    };
    list_->setKeyCompareSelector(compare, ZELTestFoldedHasPrefix);
    addTexts({"A", "a", "ab", "b"});
    EXPECT_EQ(prefixIDs(*list_, key("A")), (std::vector<ZELID>{1, 3}));

    list_->setKeyCompareSelector(compare, ZELTestFoldedHasPrefix,
                                 [](const ZELString& prefix) { return folded(prefix); });
    EXPECT_EQ(prefixIDs(*list_, key("A")), (std::vector<ZELID>{2, 1, 3}));
}

// The search probes keys the loader already holds near each midpoint rather than loading the
// midpoint itself, so that lookups next to keys just probed load nothing new.
TEST_F(ZELSortedListTest, LookupsLoadKeysLazily) {
    addNumberedKeys(1000);
    ASSERT_EQ(list_->sliceCount(), 1u);

    // A cold lookup of the middle key loads the first, the last and the middle key only.
    store_.evictAll();
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(500)), 501u);
    EXPECT_EQ(store_.fetched, (std::vector<ZELID>{1, 1000, 501}));

    // A key within four places of the midpoint that is in memory is probed instead of it.
    store_.evictAll();
    store_.inMemory = {1, 1000, 504};
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(503)), 504u);
    EXPECT_TRUE(store_.fetched.empty());

    // After a cold lookup, the keys next to the one found load nothing new.
    store_.evictAll();
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(501)), 502u);
    EXPECT_GT(store_.fetched.size(), 3u);
    store_.fetched.clear();
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(502)), 503u);
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(500)), 501u);
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(501)), 502u);
    EXPECT_TRUE(store_.fetched.empty());

    // Over a whole slice, a lookup right after its neighbour's never loads more than the
    // search's depth, and lookups in order load every key once at most.
    store_.evictAll();
    for (uint64_t number = 0; number < 1000; ++number) {
        const size_t before = store_.fetched.size();
        ASSERT_EQ(list_->assignedIDForKey(numberedKey(number)), number + 1);
        ASSERT_LE(store_.fetched.size() - before, 12u);
    }
}

TEST_F(ZELSortedListTest, KeysThatFailToLoadChangeNothing) {
    ZELTestLogCapture log;
    addNumberedKeys(10);
    store_.keys.erase(1);  // the first key of the slice is lost to its owner
    store_.evictAll();
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(5)), ZELNoID);
    add(20, key("k0003x"));
    list_->removeAssignedIDForKey(numberedKey(5));
    EXPECT_EQ(list_->count(), 10u);
    std::vector<ZELID> visited;
    list_->enumerateUsingBlock([&](ZELID id, const ZELString&, bool&) { visited.push_back(id); });
    EXPECT_EQ(visited, (std::vector<ZELID>{2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                          "ZELSortedList could not place key ID 20: a stored key failed to load"});
}

TEST_F(ZELSortedListTest, SortFileBytesAndChunkedLoad) {
    add(9, key("b"));
    add(3, key("a"));
    add(0x01020304, key("c"));
    ZELError error;
    ASSERT_TRUE(list_->ensureSerializedAndGetError(&error)) << error.description();
    // Magic number, key count, the IDs of "a", "b" and "c", magic number.
    EXPECT_EQ(ZELTestReadFile(sortFile()),
              ZELTestHex("01001D1D 03000000 03000000 09000000 04030201 01001D1D"));
    // Nothing in the folder but the sort file: the temporary went away.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_ / "aspects"),
                            std::filesystem::directory_iterator()),
              1);

    // A list of 2500 keys loads as slices of 1000, 1000 and 500.
    list_ = makeList();
    store_.keys.clear();
    addNumberedKeys(2500);
    ASSERT_TRUE(list_->ensureSerializedAndGetError(&error)) << error.description();
    EXPECT_EQ(ZELTestReadFile(sortFile()).size(), 8u + 4 * 2500 + 4);
    auto loaded = makeList();
    ASSERT_TRUE(loaded->loadAndGetError(&error)) << error.description();
    EXPECT_EQ(sliceCounts(*loaded), (std::vector<uint64_t>{1000, 1000, 500}));
    EXPECT_EQ(loaded->assignedIDForKey(numberedKey(2048)), 2049u);
}

// A loaded list reads a slice's IDs when a search lands in it, from the file it loaded, even
// after that file was replaced. When the file was cut short in place, the slices it lost
// answer nothing, take no insertion and fail the save rather than write a list without them.
TEST_F(ZELSortedListTest, SlicesAreReadOnDemandFromTheLoadedFile) {
    ZELTestLogCapture log;
    addNumberedKeys(3500);
    ZELError error;
    ASSERT_TRUE(list_->ensureSerializedAndGetError(&error)) << error.description();
    const auto loadedList = [&] {
        auto loaded = makeList();
        EXPECT_TRUE(loaded->loadAndGetError(&error)) << error.description();
        return loaded;
    };
    const auto readSlices = [](const ZELSortedList& list) {
        std::vector<bool> read;
        for (uint64_t index = 0; index < list.sliceCount(); ++index) {
            read.push_back(list.sliceAtIndex(index).isRead());
        }
        return read;
    };

    auto loaded = loadedList();
    EXPECT_EQ(readSlices(*loaded), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(loaded->assignedIDForKey(numberedKey(2048)), 2049u);
    EXPECT_EQ(readSlices(*loaded), (std::vector<bool>{false, false, true, false}));
    const std::string replacement = sortFile() + ".new";
    ZELTestWriteFile(replacement, ZELTestHex("01001D1D 01000000 07000000 01001D1D"));
    std::filesystem::rename(replacement, sortFile());
    EXPECT_EQ(loaded->assignedIDForKey(numberedKey(10)), 11u);
    EXPECT_EQ(loaded->assignedIDForKey(numberedKey(3499)), 3500u);

    list_ = makeList();  // the whole list back in the file
    addNumberedKeys(3500);
    ASSERT_TRUE(list_->ensureSerializedAndGetError(&error));
    loaded = loadedList();
    std::filesystem::resize_file(sortFile(), 8 + 4 * 1500);
    EXPECT_EQ(loaded->assignedIDForKey(numberedKey(10)), 11u);
    EXPECT_EQ(loaded->assignedIDForKey(numberedKey(2500)), ZELNoID);
    store_.keys[5000] = key("k3000x");
    loaded->assignID(5000, key("k3000x"));
    EXPECT_EQ(loaded->count(), 3500u);
    store_.keys[5001] = key("k0010x");
    loaded->assignID(5001, key("k0010x"));
    EXPECT_EQ(loaded->count(), 3501u);
    EXPECT_FALSE(loaded->ensureSerializedAndGetError(&error));
    EXPECT_TRUE(error.isError());
    EXPECT_TRUE(loaded->hasUnsavedChanges());
    EXPECT_EQ(std::filesystem::file_size(sortFile()), 8u + 4 * 1500);
    EXPECT_FALSE(log.lines().empty());
}

TEST_F(ZELSortedListTest, SavingOnlyWhenChangedAndKeepingTheMarkOnFailure) {
    ZELError error;
    ASSERT_TRUE(list_->loadAndGetError(&error));  // a missing file is an empty list
    ASSERT_TRUE(list_->ensureSerializedAndGetError(&error));
    EXPECT_FALSE(std::filesystem::exists(sortFile()));

    ZELTestWriteFile((folder_ / "aspects").string(), {1});  // a file where the folder should be
    add(1, key("x"));
    EXPECT_FALSE(list_->ensureSerializedAndGetError(&error));
    EXPECT_TRUE(error.isError());
    EXPECT_TRUE(list_->hasUnsavedChanges());
    std::filesystem::remove(folder_ / "aspects");
    ASSERT_TRUE(list_->ensureSerializedAndGetError(&error));
    EXPECT_TRUE(std::filesystem::exists(sortFile()));
    EXPECT_FALSE(list_->hasUnsavedChanges());
}

TEST_F(ZELSortedListTest, DamagedSortFilesFailAndKeepThePreviousContent) {
    addNumberedKeys(3);
    ZELError error;
    ASSERT_TRUE(list_->ensureSerializedAndGetError(&error));
    const std::vector<uint8_t> good = ZELTestReadFile(sortFile());
    ASSERT_EQ(good.size(), 24u);

    const auto damaged = [&](size_t position, uint8_t byte, size_t length = 24) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(length));
        if (position < length) bytes[position] = byte;
        return bytes;
    };
    const char* magic1 = "bad version in ZELSortedList magic number(1)";
    const char* magic2 = "bad version in ZELSortedList magic number(2)";
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        int code;
        const char* message;  // null: a stream error
    } cases[] = {
        {"leading magic", damaged(0, good[0] ^ 0xFF), 1, magic1},
        {"trailing magic", damaged(23, good[23] ^ 0x01), 1, magic2},
        {"empty file", {}, 1, magic1},
        {"truncated ID list", damaged(24, 0, 14), 6, nullptr},
        {"no trailing magic", damaged(24, 0, 20), 6, nullptr},
        {"count larger than the file", damaged(6, 0xFF), 6, nullptr},
        {"count one too large", damaged(4, 4), 6, nullptr},
        {"count one too small", damaged(4, 2), 1, magic2},
    };
    auto previous = makeList();
    store_.keys[100] = key("previous");
    previous->assignID(100, key("previous"));
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        ZELTestWriteFile(sortFile(), testCase.bytes);
        error = ZELError();
        EXPECT_FALSE(previous->loadAndGetError(&error));
        EXPECT_TRUE(error.matchesZELErrorCode(testCase.code)) << error.description();
        if (testCase.message) {
            EXPECT_EQ(error.failureReason(), testCase.message);
        }
        EXPECT_TRUE(previous->hasUnsavedChanges());  // the content itself is the fuzz target's
    }
}

TEST_F(ZELSortedListTest, EqualityComparesEveryEntry) {
    addNumberedKeys(20);
    auto other = makeList();
    for (uint64_t number = 0; number < 19; ++number)
        other->assignID(number + 1, numberedKey(number));
    // A list holding a subset of the entries is not equal, in either direction.
    EXPECT_FALSE(other->isEqual(*list_));
    EXPECT_FALSE(list_->isEqual(*other));
    other->assignID(20, numberedKey(19));
    EXPECT_TRUE(other->isEqual(*list_));
    EXPECT_TRUE(list_->isEqual(*other));
    EXPECT_FALSE(list_->isEqual(ZELObject()));
    store_.keys[200] = numberedKey(5);  // same key, other ID
    auto different = makeList();
    for (uint64_t number = 0; number < 20; ++number) {
        different->assignID(number == 5 ? 200 : number + 1, numberedKey(number));
    }
    EXPECT_FALSE(different->isEqual(*list_));
}

TEST_F(ZELSortedListTest, InvalidateDropsEverything) {
    addNumberedKeys(5);
    list_->invalidate();
    EXPECT_EQ(list_->count(), 0u);
    EXPECT_EQ(list_->sliceCount(), 0u);
    EXPECT_FALSE(list_->keyLoader());
    EXPECT_EQ(list_->assignedIDForKey(numberedKey(1)), ZELNoID);
    EXPECT_FALSE(list_->keyForAssignedID(1));
}

// Random adds and removals of (hash, ID) pairs against a std::set of pairs, with few distinct
// hashes so that probe runs grow long and wrap around the table's end; every pair is looked
// up after each step of a sample.
TEST(ZELSortedListIDCache, ModelBasedAddRemoveFind) {
    std::mt19937 random(7);
    ZELSortedListIDCache cache;
    std::set<std::pair<uint32_t, ZELID>> model;
    const auto findAll = [&] {
        for (const auto& [hash, keyID] : model) {
            const ZELID wanted = keyID;
            ASSERT_EQ(cache.findID(hash, [&](ZELID candidate) { return candidate == wanted; }), wanted);
        }
    };
    for (int step = 0; step < 20000; ++step) {
        // Each ID has one hash, as each key has; hashes spread over the 32-bit range, so that
        // only their low bits decide the slot.
        const ZELID keyID = 1 + static_cast<ZELID>(random() % 3000);
        const uint32_t hash = (keyID % 40) * 0x9E3779B1u;
        if (random() % 3 != 0) {
            cache.addID(hash, keyID);
            model.emplace(hash, keyID);
        } else {
            cache.removeID(hash, keyID);
            model.erase({hash, keyID});
            ASSERT_EQ(cache.findID(hash, [&](ZELID candidate) { return candidate == keyID; }), ZELNoID);
        }
        ASSERT_EQ(cache.count(), model.size());
        if (step % 500 == 0) {
            ASSERT_NO_FATAL_FAILURE(findAll()) << "step " << step;
        }
    }
    ASSERT_NO_FATAL_FAILURE(findAll());
    cache.clear();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.byteCount(), 0u);
    EXPECT_EQ(cache.findID(0, [](ZELID) { return true; }), ZELNoID);
}

TEST(ZELSortedListIDCache, FindAsksOnlyTheIDsOfTheHash) {
    ZELSortedListIDCache cache;
    cache.addID(5, 10);
    cache.addID(5, 11);
    cache.addID(6, 12);
    cache.addID(5, 10);  // present: not added twice
    EXPECT_EQ(cache.count(), 3u);
    std::set<ZELID> asked;
    EXPECT_EQ(cache.findID(5, [&](ZELID keyID) {
        asked.insert(keyID);
        return false;
    }), ZELNoID);
    EXPECT_EQ(asked, (std::set<ZELID>{10, 11}));
    EXPECT_EQ(cache.findID(6, [](ZELID keyID) { return keyID == 12; }), 12u);
    cache.addID(7, ZELNoID);  // the empty mark is never stored
    EXPECT_EQ(cache.count(), 3u);
}

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/storage/ZELSortedListIDCache.h"
#include "zel/storage/ZELSortedListKey.h"
#include "zel/storage/ZELSortedListSlice.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

class ZELError;
class ZELStream;
class ZELIDVector;

// A set of string keys in sorted order, each standing for a 32-bit key ID, with exact and
// prefix lookup. Only the IDs are kept (four bytes a key, in memory and in the sort file); the
// key text of an ID comes from the owner's key loader, and searches prefer keys the loader
// already holds. IDs live in slices of fewer than 2000 so that an insertion shifts little.
// Loading reads the sort file once to check it and to note each slice's first ID; unless the
// file holds one slice only, a slice's IDs are read again, from the file kept open for it, when
// a search lands in it (every slice is read before the list is saved or reordered), so that
// opening a database costs little memory and time.
// Each aspect owns one list over the normalized values of its aspect bits. Not thread-safe:
// every call runs under the owner's lock (for an aspect, the database lock).
class ZELSortedList : public ZELObject, public ZELMemoryMetricsProvider {
public:
    // A slice splits when it reaches this many IDs; the upper half moves to a new slice.
    static constexpr uint64_t maximumSliceCount = 2000;
    // Room given to a new slice, and to each slice made while loading.
    static constexpr uint64_t newSliceCapacity = 1250;
    // IDs read per chunk (and per loaded slice) from the sort file.
    static constexpr uint64_t loadChunkCount = 1000;
    // The sort file's leading and trailing magic number. Stored; never change.
    static constexpr uint32_t sortFileMagicNumber = 0x1D1D0001;

    // An empty list whose file is `baseURL` with the extension "sort". Nothing is read; call
    // loadAndGetError. The comparison and prefix test must be set (setKeyCompareSelector)
    // before the first search.
    static std::shared_ptr<ZELSortedList> listWithBaseURL(std::string baseURL,
                                                          ZELSortedListKeyLoader keyLoader);
    ~ZELSortedList() override;

    // The key order, the prefix test and, when the prefix test is looser than the order, where
    // the keys with a prefix start (for an aspect: compareZELSort, hasZELSortPrefix and
    // ZELSortPrefixLowerBound).
    void setKeyCompareSelector(ZELSortedListKeyCompare compare,
                               ZELSortedListKeyPrefixTest prefixTest,
                               ZELSortedListKeyPrefixLowerBound prefixLowerBound = nullptr);
    // The key hash that agrees with the comparison. Without one (the default) every lookup is
    // a binary search; with one, keys found before are found again through the ID cache.
    void setKeyHash(ZELSortedListKeyHash keyHash);
    const ZELSortedListKeyCompare& keyCompareSelector() const { return keyCompare_; }
    const ZELSortedListKeyPrefixTest& keyPrefixTestSelector() const { return keyPrefixTest_; }
    const ZELSortedListKeyPrefixLowerBound& keyPrefixLowerBound() const {
        return keyPrefixLowerBound_;
    }
    const ZELSortedListKeyLoader& keyLoader() const { return keyLoader_; }
    void setKeyLoader(ZELSortedListKeyLoader keyLoader) { keyLoader_ = std::move(keyLoader); }
    // Lookups read keys through the peeker first (the ID cache's checks, the binary searches'
    // probes), through the loader when it has none.
    void setKeyPeeker(ZELSortedListKeyPeeker keyPeeker) { keyPeeker_ = std::move(keyPeeker); }

    // For a run of lookups: the key's hash (0 without a key hash), a hint that starts bringing
    // the ID cache's entries for it into the processor's cache, and the first ID the cache
    // holds with that hash, unverified (0 when none), whose key the owner may prefetch.
    uint32_t hashForKey(const ZELString& key) const { return keyHash_ ? keyHash_(key) : 0; }
    void prefetchCachedIDForHash(uint32_t hash) const { idCache_.prefetch(hash); }
    ZELID likelyCachedIDForHash(uint32_t hash) const { return idCache_.firstIDWithHash(hash); }
    const ZELSortedListKeyBatchLoader& keyBatchLoader() const { return keyBatchLoader_; }
    void setKeyBatchLoader(ZELSortedListKeyBatchLoader loader) {
        keyBatchLoader_ = std::move(loader);
    }

    // Drops both loaders and every slice; the list is empty afterwards.
    void invalidate();

    const std::string& baseURL() const { return baseURL_; }
    // The base URL with the extension "sort".
    std::string sortIndexFileURL() const;
    bool hasUnsavedChanges() const { return hasUnsavedChanges_; }

    // Checks the sort file and notes where each slice lies in it; a missing file is an empty
    // list. On failure the list keeps what it held. Success clears the unsaved mark.
    bool loadAndGetError(ZELError* outError);
    // Reads the sort file of another base URL (a name the file had before) as loadAndGetError
    // does; the list keeps its own URL and is left with unsaved changes, so that the next save
    // writes it there.
    bool loadFromFileOfBaseURLAndGetError(const std::string& baseURL, ZELError* outError);
    // Writes the sort file when there are unsaved changes, through a temporary file that then
    // replaces the old one (a slice that cannot be read first fails the save). Failure keeps
    // the unsaved mark.
    bool ensureSerializedAndGetError(ZELError* outError);

    // Puts the IDs in the order of the key comparison when they are not in it (a sort file
    // written under another order); true when it did, leaving the list with unsaved changes.
    // Every slice is read and every key loaded. A slice that cannot be read or a key that
    // cannot be loaded leaves the list as it is (false).
    bool sortIntoKeyOrder();

    uint64_t count() const { return keyCount_; }

    // The ID stored for the key equal to `key`; 0 when there is none.
    ZELID assignedIDForKey(const ZELString& key) const;
    // keyLoader(keyID, load true).
    ZELSortedListKey keyForAssignedID(ZELID keyID) const;
    // Inserts `keyID` at the key's sorted place unless an equal key is present (its ID is not
    // replaced). Nothing happens when the place cannot be found (a key failed to load) or the
    // slice cannot grow.
    void assignID(ZELID keyID, const ZELString& key);
    // The ID stored for the key equal to `key`; when there is none, the ID `newKeyID` answers
    // is inserted at the key's place (one search for both) and `outWasAssigned` set. 0 when
    // the key is absent and newKeyID answers 0, or when the place cannot be found or the slice
    // cannot grow.
    ZELID assignedIDForKey(const ZELString& key, ZELFunctionRef<ZELID()> newKeyID,
                           bool* outWasAssigned);
    // Removes the entry of the key equal to `key`, if any.
    void removeAssignedIDForKey(const ZELString& key);

    // Every entry in key order. An entry whose key cannot be loaded, or that lies in a slice
    // that cannot be read, is skipped.
    // Requires: the visitor does not change the list.
    void enumerateUsingBlock(ZELSortedListKeyVisitor visitor) const;
    // The entries whose key begins with `prefix`, in key order, starting at the place of the
    // prefix's lower bound (or of the prefix itself); an empty prefix gives every entry. With `allowedKeyIDs`, only IDs it contains are visited, and the keys of the others
    // are never loaded.
    // Requires: the visitor does not change the list.
    void enumerateWithKeyPrefix(const ZELString& prefix, ZELSortedListKeyVisitor visitor) const;
    void enumerateWithKeyPrefix(const ZELString& prefix, const ZELIDVector* allowedKeyIDs,
                                ZELSortedListKeyVisitor visitor) const;
    // Each slice's ID array, in order (a slice that cannot be read is skipped).
    void enumerateIDBlocks(ZELSortedListIDBlockVisitor visitor) const;

    uint64_t sliceCount() const { return slices_.size(); }
    // The slice may be unread. Requires: index < sliceCount().
    const ZELSortedListSlice& sliceAtIndex(uint64_t index) const { return *slices_[index]; }

    // Forgets the ID cache and the slices' guides.
    void compactMemory(int level);
    // The list, its slices and its ID cache as RAM; the sort file's size as disk bytes.
    void gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const override;

    uint64_t hash() const { return count(); }
    // Same number of keys, and every (id, key) of this list is found in `other` with that id.
    bool isEqual(const ZELSortedList& other) const;
    bool isEqual(const ZELObject& other) const;

    // "ZELSortedList<0x...>, N keys \n\t stored at URL \n\t KEYS: k1, k2, ..." listing the first
    // 11 keys, followed by "..." when there are more.
    std::string description() const override;

private:
    ZELSortedList(std::string baseURL, ZELSortedListKeyLoader keyLoader);

    // Where `key` is or would go: a slice index and an index within it (see the .cpp). Unless
    // keyUnavailable, the slice it names is read.
    struct Position {
        uint64_t sliceIndex = 0;
        uint64_t index = 0;
        bool found = false;
        bool keyUnavailable = false;
    };
    // `guided`: the slices search through their guides (for prefix walks, which come between
    // few changes; the add path's searches would remake guides all the time).
    Position positionForKey(const ZELString& key, bool guided = false) const;
    // The cached ID of the key equal to `key` (checked by loading its key), or 0.
    ZELID cachedIDForKey(const ZELString& key, uint32_t hash) const;
    // What a lookup of a key found: its ID (0 when absent or a stored key failed to load),
    // the key's hash (0 without a key hash), and, unless the ID came from the cache, the place
    // the search found for the key. A key found by the search enters the cache.
    struct Lookup {
        ZELID keyID = ZELNoID;
        uint32_t hash = 0;
        Position position;
    };
    Lookup lookUp(const ZELString& key) const;
    // Inserts `keyID` at `position`, the place positionForKey found for its key, whose hash
    // (with a key hash) is `hash`; false when the slice cannot grow.
    bool insertID(ZELID keyID, uint32_t hash, const Position& position);

    void enumerateFrom(uint64_t sliceIndex, uint64_t index, const ZELString* prefix,
                       const ZELIDVector* allowedKeyIDs, ZELSortedListKeyVisitor visitor) const;
    bool readSortIndexFromURL(const std::string& url, ZELError* outError);
    // Reads the slice's IDs when it is unread; false when they cannot be read.
    bool readSlice(uint64_t sliceIndex) const;
    // Reads every unread slice; on failure sets `outError` and answers false.
    bool readAllSlices(ZELError* outError) const;
    // Forgets the sort file the unread slices came from.
    void closeSortFile() const;

    std::string baseURL_;
    bool hasUnsavedChanges_ = false;
    ZELSortedListKeyCompare keyCompare_;
    ZELSortedListKeyPrefixTest keyPrefixTest_;
    ZELSortedListKeyPrefixLowerBound keyPrefixLowerBound_;
    ZELSortedListKeyHash keyHash_;
    // Holds only (hash, ID) pairs of entries present in the slices: filled by successful
    // lookups and insertions, emptied of a key when it is removed, cleared whenever the
    // slices are replaced. Lookups fill it, hence mutable.
    mutable ZELSortedListIDCache idCache_;
    ZELSortedListKeyLoader keyLoader_;
    ZELSortedListKeyPeeker keyPeeker_;
    ZELSortedListKeyBatchLoader keyBatchLoader_;
    uint64_t keyCount_ = 0;
    std::vector<std::unique_ptr<ZELSortedListSlice>> slices_;  // non-empty, in key order
    // The loaded sort file, open for reading as long as some slice is unread, and the number
    // of unread slices. Reading slices under const calls changes them, hence mutable.
    mutable std::shared_ptr<ZELStream> sortFile_;
    mutable uint64_t unreadSliceCount_ = 0;
};

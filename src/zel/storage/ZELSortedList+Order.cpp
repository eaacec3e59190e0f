#include <algorithm>
#include <vector>

#include "zel/storage/ZELSortedList.h"

// A sort file holds IDs only, so nothing in it says under which order they were sorted. A file
// written under another order (the plain code point order of the keys, for one) loads without
// complaint, but a binary search then misses keys and an insertion lands at a wrong place,
// adding a duplicate. The owner asks for this check once for every list whose order it cannot
// vouch for.
bool ZELSortedList::sortIntoKeyOrder() {
    if (!readAllSlices(nullptr)) return false;
    struct Entry {
        ZELSortedListKey key;
        ZELID keyID;
    };
    std::vector<Entry> entries;
    entries.reserve(keyCount_);
    bool inOrder = true;
    for (const auto& slice : slices_) {
        for (uint64_t index = 0; index < slice->count(); ++index) {
            ZELSortedListKey key = slice->keyAtIndex(index, keyLoader_);
            // Without every key the order cannot be judged; the list stays as it is.
            if (!key) return false;
            if (!entries.empty() && keyCompare_(*entries.back().key, *key) >= 0) inOrder = false;
            entries.push_back(Entry{std::move(key), slice->keyIDAtIndex(index)});
        }
    }
    if (inOrder) return false;
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        return keyCompare_(*a.key, *b.key) < 0;
    });

    // Sliced as a load slices the file.
    std::vector<ZELID> ids;
    ids.reserve(entries.size());
    for (const Entry& entry : entries) ids.push_back(entry.keyID);
    std::vector<std::unique_ptr<ZELSortedListSlice>> slices;
    for (uint64_t start = 0; start < ids.size(); start += loadChunkCount) {
        const uint64_t count = std::min<uint64_t>(ids.size() - start, loadChunkCount);
        auto slice = ZELSortedListSlice::sliceWithCapacity(newSliceCapacity, ids.data() + start, count);
        if (!slice) return false;
        slices.push_back(std::move(slice));
    }
    slices_ = std::move(slices);
    idCache_.clear();
    hasUnsavedChanges_ = true;
    return true;
}

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"

// The callables through which a sorted list reaches its keys. The list stores key IDs only;
// the key text of an ID belongs to the list's owner (for an aspect, the aspect bit value
// store) and is lent to the list for the length of one comparison.

// A key lent by the owner. Owners that keep their keys in shared objects answer an aliasing
// pointer into them (no copy, the key stays alive while lent); owners whose keys outlive the
// list may answer a non-owning aliasing pointer.
using ZELSortedListKey = std::shared_ptr<const ZELString>;

// The key of `keyID`. With `load` false the loader answers only a key it already holds in
// memory (null otherwise) and must not do any work to fetch it; with `load` true it fetches
// the key, answering null only when the key cannot be had at all (a damaged store).
using ZELSortedListKeyLoader = std::function<ZELSortedListKey(ZELID keyID, bool load)>;

// The key of `keyID` in place when the owner holds it in memory, else null: a cheaper look
// than the loader (no share is taken), valid until the owner next changes or lets go of it.
using ZELSortedListKeyPeeker = std::function<const ZELString*(ZELID keyID)>;

// Loads the keys of `count` IDs at once. Held for the owner; the list never calls it.
using ZELSortedListKeyBatchLoader =
    std::function<std::vector<ZELSortedListKey>(const ZELID* keyIDs, uint64_t count)>;

// Compares the search key with another key: negative, 0 or positive as the search key sorts
// before, equal to or after the other key. Must be a strict weak order consistent over time.
using ZELSortedListKeyCompare =
    std::function<int(const ZELString& searchKey, const ZELString& otherKey)>;

// A hash of a key under the list's comparison: keys the comparison finds equal must hash alike.
// With one, the list remembers the IDs of the keys it has found (ZELSortedListIDCache).
using ZELSortedListKeyHash = std::function<uint32_t(const ZELString& key)>;

// Whether `key` begins with `prefix` under the list's comparison. Keys that begin with a prefix
// must sort together, right at or after the prefix itself.
using ZELSortedListKeyPrefixTest =
    std::function<bool(const ZELString& key, const ZELString& prefix)>;

// The smallest key that passes the prefix test for `prefix`, where a prefix enumeration
// starts. Needed when the prefix test is looser than the comparison (one that ignores
// diacritics lets "e" match the prefix "é" though "e" sorts before "é"); without it the
// enumeration starts at the prefix itself.
using ZELSortedListKeyPrefixLowerBound = std::function<ZELString(const ZELString& prefix)>;

// Enumeration visitors; setting `stop` ends the enumeration.
using ZELSortedListKeyVisitor = ZELFunctionRef<void(ZELID keyID, const ZELString& key, bool& stop)>;
using ZELSortedListIDBlockVisitor =
    ZELFunctionRef<void(const ZELID* keyIDs, uint64_t count, bool& stop)>;

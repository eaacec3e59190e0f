#pragma once

#include <cstddef>
#include <cstdint>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELTypes.h"

// Plain functions on normalized ID arrays: contiguous arrays of ZELID in strictly ascending
// order. Callers guarantee that every array passed in is normalized; nothing here sorts or
// checks its input. Output arrays never overlap input arrays unless a function says so.
// These loops are the inner loops of query evaluation.

// True for fewer than two IDs, else true exactly when each ID is greater than the one before.
bool ZELIDArray_IsNormalized(const ZELID* ids, uint32_t count);

// Kept for call sites that document an expectation; checks nothing.
inline void ZELIDArray_AssertNormalized(const ZELID*, uint32_t) {}

// Index of the first ID >= key (count when there is none). `found` (nullable) tells whether
// the ID at that index equals key.
uint32_t ZELIDArray_BinarySearch(const ZELID* ids, uint32_t count, ZELID key, bool* found);

// start plus the search over the `count` IDs from ids[start].
uint32_t ZELIDArray_BinarySearchInRange(const ZELID* ids, uint32_t start, uint32_t count, ZELID key,
                                        bool* found);

// Writes the union of a and b to `out`, at most `outCapacity` IDs (the smallest ones);
// answers the number written.
uint32_t ZELIDArray_Union(const ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount,
                          ZELID* out, uint32_t outCapacity);

// Merges `add` into the growable heap array *ids (allocated with malloc/realloc, *capacity
// slots of which *count are used). Grows the array by reallocation when needed, to
// max(need + need/8, 16 when need <= 16 else 128) slots. When reallocation fails the array,
// count and capacity stay untouched. Answers and stores the new count.
// Requires: `add` does not point into *ids.
uint32_t ZELIDArray_UnionInPlace(ZELID** ids, uint32_t* count, uint32_t* capacity, const ZELID* add,
                                 uint32_t addCount);

// Writes the IDs common to a and b to `out`, at most `outCapacity` of them (an output
// capacity of 1 makes it an intersection test); answers the number written.
uint32_t ZELIDArray_Intersection(const ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount,
                                 ZELID* out, uint32_t outCapacity);

// Keeps in `a` the IDs also in `b`; answers the new count. `b` may equal `a`.
uint32_t ZELIDArray_IntersectionInPlace(ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount);

// Removes from `a` the IDs in `b`; answers the new count.
// Requires: `b` does not point into `a`.
uint32_t ZELIDArray_DifferenceInPlace(ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount);

// Three-way comparison of a search key with an element: negative when the key sorts before
// the element, 0 when equal, positive after.
using ZELBinarySearchComparator = ZELFunctionRef<int(const void* key, const void* element)>;

// Generic lower-bound search over `count` elements of `width` bytes from `base`. Answers the
// index of the first element with compare(key, element) <= 0, or `count` when there is none.
// `found` (nullable) is set when compare(key, that element) is 0 and cleared otherwise.
size_t ZELBinarySearch(const void* key, bool* found, const void* base, size_t count, size_t width,
                       ZELBinarySearchComparator compare);

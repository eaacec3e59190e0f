#pragma once

#include <cstddef>
#include <cstdint>

// Growable heap blocks of fixed-size elements, kept by their user as a pointer and a capacity
// in elements (the item existence map, the storage's slot array, free-space entries,
// sorted-list slices). A block starts as a null pointer with capacity 0 and is released with
// `free`. Not thread-safe: the caller guards its block.

// Resizes the block whose pointer is at `block` and whose capacity is at `capacity` to
// `newCapacity` elements of `elementSize` bytes, keeping the old contents up to the smaller
// capacity; a new capacity of 0 frees the block and leaves a null pointer. Answers false, with
// pointer, capacity and block unchanged, when the memory cannot be had, when the byte size
// overflows (or exceeds PTRDIFF_MAX), or when `elementSize` is 0.
bool TarvoMemBlock_ReallocImp(void** block, uint64_t* capacity, size_t elementSize,
                              uint64_t newCapacity);

// As TarvoMemBlock_ReallocImp; elements added by growing are filled with zero bytes.
bool TarvoMemBlock_ReallocZeroedImp(void** block, uint64_t* capacity, size_t elementSize,
                                    uint64_t newCapacity);

// Typed forms: the element size is sizeof(T). Requires: T is trivially copyable.
template <typename T>
bool TarvoMemBlock_Realloc(T** block, uint64_t* capacity, uint64_t newCapacity) {
    void* untyped = *block;
    if (!TarvoMemBlock_ReallocImp(&untyped, capacity, sizeof(T), newCapacity)) return false;
    *block = static_cast<T*>(untyped);
    return true;
}

template <typename T>
bool TarvoMemBlock_ReallocZeroed(T** block, uint64_t* capacity, uint64_t newCapacity) {
    void* untyped = *block;
    if (!TarvoMemBlock_ReallocZeroedImp(&untyped, capacity, sizeof(T), newCapacity)) return false;
    *block = static_cast<T*>(untyped);
    return true;
}

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStreamSerializable.h"

class ZELStream;

// One written form of an aspect bit value and the number of times it was seen.
struct ZELAspectBitValueInfoCanon {
    ZELString string;
    uint64_t votes = 0;
};

// The block of written forms ("canonical strings") of an aspect bit value, with the operations
// of the ZELAspectBitValueInfoCanonGuts_ functions below. Capacity is one entry for the first
// form, kept inside the block (most values are only ever written one way, and a vocabulary
// holds a block per value), then grows on the heap by 4 entries at a time when voting; it equals
// the count after reading and never exceeds 65535. The entry order is not meaningful (a dropped
// entry is replaced by the last one). Owned by its record.
struct ZELAspectBitValueInfoCanonGuts {
    uint16_t canonCount = 0;
    uint16_t canonCapacity = 0;
    ZELAspectBitValueInfoCanon single;  // the entry while canonCapacity is 1; empty otherwise
    std::unique_ptr<ZELAspectBitValueInfoCanon[]> heapCanons;  // the entries when capacity > 1

    // The canonCapacity entries; null when the capacity is 0.
    ZELAspectBitValueInfoCanon* canons() {
        return canonCapacity == 1 ? &single : heapCanons.get();
    }
    const ZELAspectBitValueInfoCanon* canons() const {
        return canonCapacity == 1 ? &single : heapCanons.get();
    }
};

// A written form with more votes than this stops new written forms from being taken in, and
// lets the voted form push out a neighbour with a tenth of its votes.
inline constexpr uint64_t ZELAspectBitValueInfoClosedVoteCount = 1000;
// A leader needs this many votes before forms with less than a tenth of its votes fall away.
inline constexpr uint64_t ZELAspectBitValueInfoCompactionVoteCount = 31;
inline constexpr uint16_t ZELAspectBitValueInfoMaxCanonCount = 65535;

// An empty block.
void ZELAspectBitValueInfoCanonGuts_Init(ZELAspectBitValueInfoCanonGuts* guts);
// One vote for `string` (compared code unit by code unit): counts for an existing entry (which
// may then push out a weak neighbour, or be pushed out by a strong one), or appends a new entry
// unless some entry has more than 1000 votes, the block is full, or it cannot grow.
void ZELAspectBitValueInfoCanonGuts_VoteForCanonicalString(ZELAspectBitValueInfoCanonGuts* guts,
                                                           std::u16string_view string);
// Compacts, then answers the entry with the most votes (the later one among equals); null when
// there are no entries. The pointer is valid until the block next changes.
const ZELString* ZELAspectBitValueInfoCanonGuts_BestCanonicalString(
    ZELAspectBitValueInfoCanonGuts* guts);
// Compacts, then answers the size of the stored form: 4 + per entry 4 + the string's form.
uint64_t ZELAspectBitValueInfoCanonGuts_ByteCountSerialized(ZELAspectBitValueInfoCanonGuts* guts);
// Writes the stored form as the entries stand (see ZELAspectBitValueInfo.cpp for the layout);
// false when the stream failed.
bool ZELAspectBitValueInfoCanonGuts_SerializeToStream(const ZELAspectBitValueInfoCanonGuts* guts,
                                                      ZELStream& stream);
// Replaces the block with one read from `stream`, exactly as large as the stored count. False,
// with the block left empty and the error kept by the stream, when the read fails or the count
// is impossible.
bool ZELAspectBitValueInfoCanonGuts_InitWithStream(ZELAspectBitValueInfoCanonGuts* guts,
                                                   ZELStream& stream);
// The entries allocated on the heap plus 2 bytes per code unit of the strings.
uint64_t ZELAspectBitValueInfoCanonGuts_ByteCountInRAM(const ZELAspectBitValueInfoCanonGuts* guts);
// Releases the entries; the block is empty afterwards.
void ZELAspectBitValueInfoCanonGuts_Free(ZELAspectBitValueInfoCanonGuts* guts);

// The record the database keeps per aspect bit ID in the "aspectValues" store: the normalized
// value, how many stored items carry it, and the written forms seen for it, from which its
// display form (canonical string) is voted. Stored as "ZELAspectBitValueInfo" (registered in
// ZELRegistry<ZELStreamDeserializer>). Owned by the store's cache and handed out shared; read
// and changed under the database lock only (voting and lookups of the canonical string change
// the entries).
class ZELAspectBitValueInfo final : public ZELStreamSerializable {
public:
    static std::shared_ptr<ZELAspectBitValueInfo> infoWithNormalizedValue(
        ZELString normalizedValue);
    static ZELStreamDeserializer deserializer();

    // Use count 0, no written forms.
    explicit ZELAspectBitValueInfo(ZELString normalizedValue);
    ~ZELAspectBitValueInfo() override;

    const ZELString& normalizedValue() const { return normValue_; }
    uint64_t useCount() const { return useCount_; }
    // Adds `delta` and answers the new count. The count stays within 0 ... UINT64_MAX: a
    // decrement below 0 leaves 0 rather than wrapping to a huge count.
    uint64_t adjustUseCount(int64_t delta);
    void voteForCanonicalString(std::u16string_view string);
    // Compacts the written forms, then answers the one with the most votes (the later-added
    // one among equals); none when no form was seen.
    std::optional<ZELString> canonicalStringVotedMost();
    // The same without a copy: null when no form was seen; valid until the forms next change.
    const ZELString* canonicalStringVotedMostInPlace();
    const ZELAspectBitValueInfoCanonGuts& canonGuts() const { return canons_; }
    // Starts bringing the value's characters and the written forms into the processor's cache.
    void prefetchContents() const {
        __builtin_prefetch(normValue_.data());
        __builtin_prefetch(canons_.canons());
    }

    // Object size + the normalized value's estimate + the written forms' block.
    uint64_t byteCountInActiveRAM() const;

    // Compacts the written forms first (the answer and the written bytes then agree).
    uint64_t serializedByteCount() const override;
    // Compacts as well, so that the bytes always match serializedByteCount.
    bool serializeToStream(ZELStream& stream) const override;
    // Null when the stream fails or the stored form is impossible (the stream keeps the error);
    // `length` is not consulted.
    static std::shared_ptr<ZELAspectBitValueInfo> newDeserializedFromStream(ZELStream& stream,
                                                                            uint64_t length);

    // "ZELAspectBitValueInfo<0x...> \"value\" useCount=N, K canonical strings".
    std::string description() const override;

private:
    ZELString normValue_;
    uint64_t useCount_ = 0;
    // Compaction may run from the const size and write operations; it never changes which
    // written form is the canonical one.
    mutable ZELAspectBitValueInfoCanonGuts canons_;
};

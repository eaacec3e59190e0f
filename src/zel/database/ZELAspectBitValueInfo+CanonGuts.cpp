// The written forms of an aspect bit value and their votes, as plain functions over the entry
// block, shared by ZELAspectBitValueInfo and anyone who keeps such a block elsewhere.

#include <algorithm>
#include <new>

#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/platform/ZELError.h"
#include "zel/stream/ZELStream.h"

namespace {

// The smallest stored entry: its votes and the length of an empty string.
constexpr uint64_t kMinimumSerializedEntryByteCount = 8;

// Releases entry `index`'s string and moves the last entry into its slot.
void dropEntry(ZELAspectBitValueInfoCanonGuts* guts, uint32_t index) {
    const uint32_t last = guts->canonCount - 1u;
    ZELAspectBitValueInfoCanon* canons = guts->canons();
    if (index != last) canons[index] = std::move(canons[last]);
    canons[last] = ZELAspectBitValueInfoCanon{};
    guts->canonCount = static_cast<uint16_t>(last);
}

// The entry with the most votes, the later one among equals. Requires: canonCount > 0.
uint32_t bestEntryIndex(const ZELAspectBitValueInfoCanonGuts* guts) {
    const ZELAspectBitValueInfoCanon* canons = guts->canons();
    uint32_t best = 0;
    for (uint32_t index = 1; index < guts->canonCount; ++index) {
        if (canons[index].votes >= canons[best].votes) best = index;
    }
    return best;
}

// Once the leader has 31 votes, every other form with less than a tenth of its votes falls
// away. Walking from the last entry down means an entry moved into a freed slot has already
// been looked at.
void compact(ZELAspectBitValueInfoCanonGuts* guts) {
    if (guts->canonCount == 0) return;
    uint32_t best = bestEntryIndex(guts);
    const uint64_t leaderVotes = guts->canons()[best].votes;
    if (leaderVotes < ZELAspectBitValueInfoCompactionVoteCount) return;
    for (uint32_t index = guts->canonCount; index-- > 0;) {
        if (index == best || guts->canons()[index].votes * 10 >= leaderVotes) continue;
        const uint32_t last = guts->canonCount - 1u;
        dropEntry(guts, index);
        if (best == last) best = index;
    }
}

// Grows a full block: an empty one to its single inner entry, a larger one onto the heap by 4
// entries (to (count + 5) with the two low bits cleared), but never past 65535 entries, which
// the 16-bit capacity could not hold. False when memory runs out.
bool grow(ZELAspectBitValueInfoCanonGuts* guts) {
    if (guts->canonCount == 0) {
        guts->canonCapacity = 1;
        return true;
    }
    const uint32_t capacity =
        std::min<uint32_t>((guts->canonCount + 5u) & ~3u, ZELAspectBitValueInfoMaxCanonCount);
    std::unique_ptr<ZELAspectBitValueInfoCanon[]> canons(new (std::nothrow)
                                                             ZELAspectBitValueInfoCanon[capacity]);
    if (!canons) return false;
    std::move(guts->canons(), guts->canons() + guts->canonCount, canons.get());
    guts->single = ZELAspectBitValueInfoCanon{};
    guts->heapCanons = std::move(canons);
    guts->canonCapacity = static_cast<uint16_t>(capacity);
    return true;
}

}  // namespace

void ZELAspectBitValueInfoCanonGuts_Init(ZELAspectBitValueInfoCanonGuts* guts) {
    guts->canonCount = 0;
    guts->canonCapacity = 0;
    guts->single = ZELAspectBitValueInfoCanon{};
    guts->heapCanons.reset();
}

void ZELAspectBitValueInfoCanonGuts_VoteForCanonicalString(ZELAspectBitValueInfoCanonGuts* guts,
                                                           std::u16string_view string) {
    uint64_t largestVotes = 0;
    for (uint32_t index = 0; index < guts->canonCount; ++index) {
        ZELAspectBitValueInfoCanon& entry = guts->canons()[index];
        if (entry.string != string) {
            largestVotes = std::max(largestVotes, entry.votes);
            continue;
        }
        const uint64_t votes = ++entry.votes;
        if (guts->canonCount < 2 || votes <= ZELAspectBitValueInfoClosedVoteCount) return;
        // A strong form pushes out one weak neighbour (or is pushed out by a far stronger one).
        const uint32_t neighbour = index == 0 ? 1 : index - 1;
        const uint64_t neighbourVotes = guts->canons()[neighbour].votes;
        if (neighbourVotes >= ZELAspectBitValueInfoCompactionVoteCount &&
            neighbourVotes > 10 * votes) {
            dropEntry(guts, index);
        } else if (votes >= ZELAspectBitValueInfoCompactionVoteCount &&
                   votes > 10 * neighbourVotes) {
            dropEntry(guts, neighbour);
        }
        return;
    }
    if (largestVotes > ZELAspectBitValueInfoClosedVoteCount ||
        guts->canonCount >= ZELAspectBitValueInfoMaxCanonCount) {
        return;
    }
    try {
        ZELString copy(string);
        if (guts->canonCount == guts->canonCapacity && !grow(guts)) return;
        guts->canons()[guts->canonCount] = ZELAspectBitValueInfoCanon{std::move(copy), 1};
        ++guts->canonCount;
    } catch (const std::bad_alloc&) {
        // The vote is discarded; the entries stay as they were.
    }
}

const ZELString* ZELAspectBitValueInfoCanonGuts_BestCanonicalString(
    ZELAspectBitValueInfoCanonGuts* guts) {
    compact(guts);
    if (guts->canonCount == 0) return nullptr;
    return &guts->canons()[bestEntryIndex(guts)].string;
}

uint64_t ZELAspectBitValueInfoCanonGuts_ByteCountSerialized(ZELAspectBitValueInfoCanonGuts* guts) {
    compact(guts);
    uint64_t byteCount = 4;
    for (uint32_t index = 0; index < guts->canonCount; ++index) {
        byteCount += 4 + ZELStream::byteCountForSerializedZELString(guts->canons()[index].string);
    }
    return byteCount;
}

// Stored form of the entry block (integers little-endian):
//     entry_count: uint32               # at most 65535
//     entries:     entry[entry_count]
//     entry :=
//         votes:   uint32               # low 32 bits of the vote count
//         string:  string               # the written form, stream string form
bool ZELAspectBitValueInfoCanonGuts_SerializeToStream(const ZELAspectBitValueInfoCanonGuts* guts,
                                                      ZELStream& stream) {
    if (!stream.writeUInt32Little(guts->canonCount)) return false;
    for (uint32_t index = 0; index < guts->canonCount; ++index) {
        const ZELAspectBitValueInfoCanon& entry = guts->canons()[index];
        if (!stream.writeUInt32Little(static_cast<uint32_t>(entry.votes)) ||
            !stream.writeZELString(entry.string)) {
            return false;
        }
    }
    return true;
}

bool ZELAspectBitValueInfoCanonGuts_InitWithStream(ZELAspectBitValueInfoCanonGuts* guts,
                                                   ZELStream& stream) {
    ZELAspectBitValueInfoCanonGuts_Free(guts);
    uint32_t count = 0;
    if (!stream.readUInt32LittleArray(&count, 1)) return false;
    if (count == 0) return true;
    if (count > ZELAspectBitValueInfoMaxCanonCount) {
        stream.reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData,
            ZELStringWithFormat("aspect bit value info has too many canonical strings (%u)",
                                count)));
        return false;
    }
    // A damaged count must not make us allocate for entries the stream cannot hold.
    if (!stream.checkReadableByteCount(uint64_t{count} * kMinimumSerializedEntryByteCount)) {
        return false;
    }
    if (count > 1) {
        guts->heapCanons.reset(new (std::nothrow) ZELAspectBitValueInfoCanon[count]);
        if (!guts->heapCanons) {
            stream.reportMemoryAllocationFailed(
                "could not allocate aspect bit value canonical strings");
            return false;
        }
    }
    guts->canonCapacity = static_cast<uint16_t>(count);
    ZELAspectBitValueInfoCanon* canons = guts->canons();
    for (uint32_t index = 0; index < count; ++index) {
        uint32_t votes = 0;
        std::optional<ZELString> string;
        if (stream.readUInt32LittleArray(&votes, 1)) string = stream.newReadZELString();
        if (!string) {
            ZELAspectBitValueInfoCanonGuts_Free(guts);
            return false;
        }
        canons[index] = ZELAspectBitValueInfoCanon{std::move(*string), votes};
    }
    guts->canonCount = static_cast<uint16_t>(count);
    return true;
}

uint64_t ZELAspectBitValueInfoCanonGuts_ByteCountInRAM(const ZELAspectBitValueInfoCanonGuts* guts) {
    uint64_t byteCount =
        guts->heapCanons ? uint64_t{guts->canonCapacity} * sizeof(ZELAspectBitValueInfoCanon) : 0;
    const ZELAspectBitValueInfoCanon* canons = guts->canons();
    for (uint32_t index = 0; index < guts->canonCount; ++index) {
        byteCount += uint64_t{canons[index].string.size()} * 2;
    }
    return byteCount;
}

void ZELAspectBitValueInfoCanonGuts_Free(ZELAspectBitValueInfoCanonGuts* guts) {
    ZELAspectBitValueInfoCanonGuts_Init(guts);
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELTypes.h"

// The (vector, member) pairs a gathering ID vector table has noted and not yet entered, packed:
// one record per note, holding the member ID, the number of vector IDs and the vector IDs in
// ascending order, each as a variable-length integer (seven bits a byte, low bits first, the
// high bit set on every byte but the last); every vector ID after a record's first is stored as
// its distance from the one before. The terms of one item lie close together in ID, so a pair
// takes about two bytes where plain words took four.
class ZELPostingNotes {
public:
    // The vector IDs of one record, read in order. Each is read at most once; what a reader
    // leaves unread is passed over when the walk moves on.
    class VectorIDs {
    public:
        uint32_t remaining() const { return remaining_; }
        // Requires: remaining() > 0.
        ZELID next() {
            --remaining_;
            previous_ += readNumber(at_);
            return previous_;
        }

    private:
        friend class ZELPostingNotes;
        VectorIDs(const uint8_t* at, uint32_t count) : at_(at), remaining_(count) {}

        const uint8_t* at_;
        uint32_t remaining_;
        ZELID previous_ = 0;
    };

    // The bytes a record of `count` vector IDs takes at most.
    static size_t maximumRecordByteCount(uint32_t count) { return size_t{5} * (2 + size_t{count}); }

    bool isEmpty() const { return bytes_.empty(); }
    // The packed records.
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    size_t byteCount() const { return bytes_.size(); }
    size_t pairCount() const { return pairCount_; }
    ZELID largestVectorID() const { return largestVectorID_; }

    // Makes room for `byteCount` bytes, so that notes up to it allocate nothing.
    void reserve(size_t byteCount) { bytes_.reserve(byteCount); }
    size_t capacity() const { return bytes_.capacity(); }
    // Notes `memberID` for every ID in `vectorIDs` (ascending). Requires: vectorIDs not empty.
    void note(ZELID memberID, const ZELIDVector& vectorIDs);
    // Forgets the notes, keeping the room they took.
    void clear();
    // Forgets the notes and gives back their room.
    void release();
    void swap(ZELPostingNotes& other) noexcept;

    // Calls visit(memberID, VectorIDs&) for every record in the order noted.
    template <typename Visit>
    void forEachRecord(Visit&& visit) const {
        const uint8_t* at = bytes_.data();
        const uint8_t* const end = at + bytes_.size();
        while (at != end) {
            const ZELID memberID = readNumber(at);
            const uint32_t count = readNumber(at);
            VectorIDs vectorIDs(at, count);
            visit(memberID, vectorIDs);
            at = vectorIDs.at_;
            for (uint32_t left = vectorIDs.remaining_; left > 0; --left) {
                while (*at++ & 0x80) {
                }
            }
        }
    }

private:
    static uint32_t readNumber(const uint8_t*& at) {
        uint32_t number = *at & 0x7f;
        for (int shift = 7; *at++ & 0x80; shift += 7) number |= uint32_t{*at & 0x7fu} << shift;
        return number;
    }
    void appendNumber(uint32_t number);

    std::vector<uint8_t> bytes_;
    size_t pairCount_ = 0;
    ZELID largestVectorID_ = 0;
};

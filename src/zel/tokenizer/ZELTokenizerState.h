#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "zel/platform/ZELString.h"

// Hashes token texts and views of them alike, so that a token already collected is found
// without copying it. The call is deliberately not noexcept: libstdc++ then keeps each
// token's hash in its node instead of hashing every token it passes while walking a bucket
// or growing the table. The hash values, and with them the sets' iteration order, are those
// of std::hash.
struct ZELTokenHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view token) const { return std::hash<std::u16string_view>{}(token); }
};

// A set of token texts, in no particular order.
using ZELTokenSet = std::unordered_set<ZELString, ZELTokenHash, std::equal_to<>>;

// The tokens found during one tokenization call: each text once. Lives on the stack of one
// call; not shared between threads.
//
// Most segments of a text repeat a token already found, so repeats are looked up in an index
// of the state's own (an open-addressed table of pointers into the set, whose nodes never
// move) rather than in the set: that spares each lookup the set's full hash and its division
// by the bucket count, and each new token reaches the set through one insertion. The set sees
// the same insertions and reservations as it would without the index, so its iteration order
// (which decides the order in which a database meets the tokens) does not depend on it.
class ZELTokenizerState {
public:
    // A single token is at most this many UTF-16 code units long.
    static constexpr size_t kMaximumTokenLength = 400;

    // Adds `token`; an empty text is ignored, a longer one is cut to its first 400 code units
    // (399 when the 400th would be the first half of a surrogate pair).
    void collectFoundToken(std::u16string_view token);

    // Adds every token of `tokens` unchanged (no emptiness test, no cut).
    void collectFoundTokens(const ZELTokenSet& tokens);

    // Hands the collected set over, leaving the state empty.
    ZELTokenSet finalizeCollectedTokens();

    size_t collectedCount() const { return collected_.size(); }

    // Prepares room for about `count` tokens, sparing the set its early rehashes.
    void reserve(size_t count);

private:
    struct IndexSlot {
        uint64_t hash = 0;
        const ZELString* token = nullptr;  // null: an empty slot
    };

    // Adds `token` unless the set holds it already.
    void insertIfAbsent(std::u16string_view token);

    // Makes the index at least `slotCount` slots long (a power of two), placing every
    // collected token anew.
    void growIndex(size_t slotCount);

    ZELTokenSet collected_;
    // Invariant: holds exactly the texts of collected_, at most half full; its length is zero
    // or a power of two.
    std::vector<IndexSlot> index_;
};

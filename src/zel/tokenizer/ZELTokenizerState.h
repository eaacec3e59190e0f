#pragma once

#include <functional>
#include <string_view>
#include <unordered_set>

#include "zel/platform/ZELString.h"

// Hashes token texts and views of them alike, so that a token already collected is found
// without copying it.
struct ZELTokenHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view token) const noexcept { return std::hash<std::u16string_view>{}(token); }
};

// A set of token texts, in no particular order.
using ZELTokenSet = std::unordered_set<ZELString, ZELTokenHash, std::equal_to<>>;

// The tokens found during one tokenization call: each text once. Lives on the stack of one
// call; not shared between threads.
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
    void reserve(size_t count) { collected_.reserve(count); }

private:
    ZELTokenSet collected_;
};

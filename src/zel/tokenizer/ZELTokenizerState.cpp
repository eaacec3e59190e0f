#include "zel/tokenizer/ZELTokenizerState.h"

#include <bit>
#include <cstring>
#include <utility>

namespace {

// The index's hash: four code units at a time, multiplied and folded. Tokens are short, so
// the loop rarely runs more than twice.
uint64_t indexHash(std::u16string_view token) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    uint64_t hash = token.size() * kMultiplier;
    size_t index = 0;
    for (; index + 4 <= token.size(); index += 4) {
        uint64_t word;
        std::memcpy(&word, token.data() + index, sizeof word);
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
    }
    if (index < token.size()) {
        uint64_t word = 0;
        for (unsigned shift = 0; index < token.size(); ++index, shift += 16) word |= uint64_t{token[index]} << shift;
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
    }
    return hash;
}

constexpr size_t kSmallestIndex = 16;

}  // namespace

void ZELTokenizerState::collectFoundToken(std::u16string_view token) {
    if (token.empty()) return;
    if (token.size() > kMaximumTokenLength) {
        size_t length = kMaximumTokenLength;
        const char16_t last = token[length - 1];
        if (last >= 0xD800 && last < 0xDC00) --length;  // keep the pair whole: cut before it
        token = token.substr(0, length);
    }
    insertIfAbsent(token);
}

void ZELTokenizerState::collectFoundTokens(const ZELTokenSet& tokens) {
    for (const ZELString& token : tokens) insertIfAbsent(token);
}

ZELTokenSet ZELTokenizerState::finalizeCollectedTokens() {
    index_.clear();
    return std::exchange(collected_, ZELTokenSet{});
}

void ZELTokenizerState::reserve(size_t count) {
    collected_.reserve(count);
    if (index_.size() < 2 * count) growIndex(std::bit_ceil(2 * count));
}

void ZELTokenizerState::insertIfAbsent(std::u16string_view token) {
    if (2 * (collected_.size() + 1) > index_.size()) growIndex(std::max(kSmallestIndex, 2 * index_.size()));
    const uint64_t hash = indexHash(token);
    const size_t mask = index_.size() - 1;
    size_t position = static_cast<size_t>(hash) & mask;
    while (index_[position].token) {
        const IndexSlot& slot = index_[position];
        if (slot.hash == hash && *slot.token == token) return;
        position = (position + 1) & mask;
    }
    index_[position] = IndexSlot{hash, &*collected_.emplace(token).first};
}

void ZELTokenizerState::growIndex(size_t slotCount) {
    std::vector<IndexSlot> grown(slotCount);
    const size_t mask = slotCount - 1;
    for (const IndexSlot& slot : index_) {
        if (!slot.token) continue;
        size_t position = static_cast<size_t>(slot.hash) & mask;
        while (grown[position].token) position = (position + 1) & mask;
        grown[position] = slot;
    }
    index_ = std::move(grown);
}

#include "zel/tokenizer/ZELTokenizerState.h"

#include <utility>

void ZELTokenizerState::collectFoundToken(std::u16string_view token) {
    if (token.empty()) return;
    if (token.size() > kMaximumTokenLength) {
        size_t length = kMaximumTokenLength;
        const char16_t last = token[length - 1];
        if (last >= 0xD800 && last < 0xDC00) --length;  // keep the pair whole: cut before it
        token = token.substr(0, length);
    }
    if (collected_.find(token) == collected_.end()) collected_.emplace(token);
}

void ZELTokenizerState::collectFoundTokens(const ZELTokenSet& tokens) {
    collected_.insert(tokens.begin(), tokens.end());
}

ZELTokenSet ZELTokenizerState::finalizeCollectedTokens() {
    return std::exchange(collected_, ZELTokenSet{});
}

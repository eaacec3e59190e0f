#include "zel/tokenizer/ZELWhitespaceTokenizer.h"

#include "zel/tokenizer/ZELCharacterClasses+Private.h"

void ZELWhitespaceTokenizer::collectTokensForSingleValue(const ZELValue& value,
                                                         ZELTokenizerState& state) const {
    if (!value.isString()) return;
    const std::u16string_view text = value.stringValue();
    size_t position = 0;
    while (position < text.size()) {
        size_t separator = ZELFindWhitespaceOrNewline(text, position);
        if (separator == ZELNotFound) separator = text.size();
        state.collectFoundToken(text.substr(position, separator - position));  // empty runs are ignored
        position = separator + 1;
    }
}

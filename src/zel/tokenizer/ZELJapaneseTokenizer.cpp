#include "zel/tokenizer/ZELJapaneseTokenizer.h"

#include "zel/tokenizer/TarvoICUTokenizer.h"
#include "zel/tokenizer/ZELCharacterClasses+Private.h"

bool ZELJapaneseTokenizer::hasCJKPrefix(std::u16string_view text, ZELRange range) {
    return !range.isEmpty() && ZELCharacterIsIn(text[range.location], ZELCharacterClassCJK);
}

ZELRange ZELJapaneseTokenizer::addCJKTokensToTokenizer(const ZELWordTokenizer& tokenizer,
                                                       std::u16string_view text, ZELRange range,
                                                       ZELTokenizerState& state) {
    return addCJKTokensToTokenizer(tokenizer, text, range, "ja_JP", state);
}

ZELRange ZELJapaneseTokenizer::addCJKTokensToTokenizer(const ZELWordTokenizer&, std::u16string_view text,
                                                       ZELRange range, const char* localeIdentifier,
                                                       ZELTokenizerState& state) {
    size_t stretchEnd = ZELFindWhitespaceOrNewline(text, range.location);
    if (stretchEnd == ZELNotFound) stretchEnd = text.size();
    ZELRange consumed{range.location, 0};
    TarvoICUTokenizer_VisitWordsInString(
        localeIdentifier, text, range.location, stretchEnd - range.location,
        [&](size_t start, size_t length) {
            state.collectFoundToken(text.substr(start, length));
            consumed.length = start + length - range.location;
            return start + length < range.end();
        });
    return consumed;
}

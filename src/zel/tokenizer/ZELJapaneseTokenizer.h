#pragma once

#include <string_view>

#include "zel/tokenizer/ZELRange.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

// The Chinese and Japanese step of the word tokenizer: runs that begin with a CJK character
// are split into words with ICU's dictionary-based word iterator for "ja_JP". Used through
// its class-level operations; as a tokenizer it behaves as ZELWordTokenizer.
class ZELJapaneseTokenizer : public ZELWordTokenizer {
public:
    // False for an empty range; otherwise whether the code unit at the range's start lies in
    // the CJK blocks (radicals, symbols and punctuation, kana, strokes, enclosed and
    // compatibility forms, ideographs, halfwidth and fullwidth forms).
    static bool hasCJKPrefix(std::u16string_view text, ZELRange range);

    // addCJKTokensToTokenizer with the locale "ja_JP".
    static ZELRange addCJKTokensToTokenizer(const ZELWordTokenizer& tokenizer, std::u16string_view text,
                                            ZELRange range, ZELTokenizerState& state);

    // Segments the stretch from the start of `range` to the next whitespace or newline (or
    // the end of the text) with the word iterator of `localeIdentifier`, collecting every
    // segment, until a segment reaches the end of `range`. Answers the range consumed, from
    // the start of `range` to the end of the last segment collected (which may reach beyond
    // `range`); empty when the iterator could not be opened.
    static ZELRange addCJKTokensToTokenizer(const ZELWordTokenizer& tokenizer, std::u16string_view text,
                                            ZELRange range, const char* localeIdentifier,
                                            ZELTokenizerState& state);
};

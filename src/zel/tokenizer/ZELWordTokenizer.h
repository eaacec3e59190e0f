#pragma once

#include <string_view>

#include "zel/tokenizer/ZELRange.h"
#include "zel/tokenizer/ZELTokenizer.h"

// Options of the segment walk (bit set).
enum ZELWordTokenizerOptions : unsigned {
    // Segments beginning with a Chinese or Japanese character are re-segmented with the
    // dictionary-based Japanese word iterator.
    ZELWordTokenizerOptionSegmentCJKRuns = 1,
    // Segments without visible characters, base64 blocks and URLs yield no tokens.
    ZELWordTokenizerOptionSkipJunk = 2,
};

// The tokenizer for free text (titles, names, bodies): the text's word-boundary segments
// (words and punctuation marks, not spaces), with base64 blocks and URLs skipped whole,
// Chinese and Japanese runs split into dictionary words, and hyphenated compounds kept whole
// as well as in parts ("e-mail" yields "e", "e-mail" and "mail"). Text values only; shared
// like every tokenizer.
class ZELWordTokenizer : public ZELTokenizer {
public:
    // Runs the segment walk over a non-empty text with the user's current locale and both
    // options.
    void collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const override;

    // The segment walk: segments `text` at word boundaries under the word break rules of
    // `localeIdentifier` and collects the segments' tokens into `state`.
    void collectTokensFromSegments(std::u16string_view text, const char* localeIdentifier,
                                   unsigned options, ZELTokenizerState& state) const;

    // The word around the hyphen at `index`: the longest stretch of letters, marks, numbers
    // and hyphens that contains it (a view into `text`).
    static std::u16string_view wordForHyphenAtIndex(size_t index, std::u16string_view text);

    // The range of the base64 block that begins with `segment`, or an empty range: the
    // segment must start a line of at least 64 units (terminator included) whose only unit
    // outside the base64 alphabet is its line terminator; the block then runs on over the
    // following lines made of the alphabet and ended by a line feed or carriage return, up to
    // an empty line, a line with other characters, or the end of the text.
    static ZELRange base64BlockRangeAtSegment(std::u16string_view text, ZELRange segment);
};

#include "zel/tokenizer/ZELWordTokenizer.h"

#include <algorithm>
#include <climits>

#include "zel/platform/ZELLog.h"
#include "zel/tokenizer/ZELCharacterClasses+Private.h"
#include "zel/tokenizer/ZELDetectedTextInfo.h"
#include "zel/tokenizer/ZELJapaneseTokenizer.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELWordBreakIterator+Private.h"

namespace {

// Base64 lines are at least this long, terminator included; longer segments, or segments
// followed by "+" or "/", are tested for being one.
constexpr size_t kBase64LineLength = 64;

bool isBase64(char16_t unit) { return ZELCharacterIsIn(unit, ZELCharacterClassBase64); }

// The end of the line terminator that begins at `index`; "\r\n" counts as one terminator.
size_t lineTerminatorEnd(std::u16string_view text, size_t index) {
    if (text[index] == u'\r' && index + 1 < text.size() && text[index + 1] == u'\n') return index + 2;
    return index + 1;
}

bool isHyphenWordCharacter(char32_t codePoint) {
    return codePoint == u'-' || ZELCharacterIsIn(codePoint, ZELCharacterClassAlphanumeric);
}

const char* userLocaleIdentifier() {
    static const std::string identifier = ZELCurrentUserLocaleIdentifier();
    return identifier.c_str();
}

}  // namespace

void ZELWordTokenizer::collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const {
    if (!value.isString() || value.stringValue().empty()) return;
    collectTokensFromSegments(value.stringValue(), userLocaleIdentifier(),
                              ZELWordTokenizerOptionSegmentCJKRuns | ZELWordTokenizerOptionSkipJunk, state);
}

ZELRange ZELWordTokenizer::base64BlockRangeAtSegment(std::u16string_view text, ZELRange segment) {
    const size_t start = segment.location;
    const ZELRange none{start, 0};
    if (start > 0 && !ZELIsParagraphSeparator(text[start - 1])) return none;  // not a line start
    size_t index = start;
    while (index < text.size() && isBase64(text[index])) ++index;
    // A line without terminator (at the end of the text) never counts as a base64 line.
    if (index == text.size() || !ZELIsParagraphSeparator(text[index])) return none;
    size_t end = lineTerminatorEnd(text, index);
    if (end - start < kBase64LineLength) return none;
    for (;;) {
        index = end;
        while (index < text.size() && isBase64(text[index])) ++index;
        if (index == text.size()) return ZELRange{start, text.size() - start};
        if ((text[index] != u'\n' && text[index] != u'\r') || index == end) return ZELRange{start, end - start};
        end = lineTerminatorEnd(text, index);
    }
}

std::u16string_view ZELWordTokenizer::wordForHyphenAtIndex(size_t index, std::u16string_view text) {
    size_t start = index;
    while (start > 0) {
        size_t unitCount;
        size_t previous = start - 1;
        if (previous > 0 && text[previous] >= 0xDC00 && text[previous] < 0xE000 &&
            text[previous - 1] >= 0xD800 && text[previous - 1] < 0xDC00) {
            --previous;
        }
        if (!isHyphenWordCharacter(ZELCodePointAt(text, previous, &unitCount))) break;
        start = previous;
    }
    size_t end = index;
    while (end < text.size()) {
        size_t unitCount;
        if (!isHyphenWordCharacter(ZELCodePointAt(text, end, &unitCount))) break;
        end += unitCount;
    }
    return text.substr(start, end - start);
}

// The walk takes the segments in order. For each segment S a skip range K (empty at first)
// is decided: with junk skipping, K = S for a segment without visible characters, else the
// base64 block that S begins, else, when "://" follows S, S's start through the end of the
// URL's terminal range (trailing punctuation and the whitespace after the URL). With CJK
// segmentation, a segment beginning with a CJK character is handed to the Japanese iterator,
// which collects its words and answers the range it consumed as K. A segment without K is
// collected (a lone "-" as the word around it). The walk resumes at the end of K when K
// reaches beyond S, so that the segments covered by K yield nothing.
void ZELWordTokenizer::collectTokensFromSegments(std::u16string_view text, const char* localeIdentifier,
                                                 unsigned options, ZELTokenizerState& state) const {
    if (text.empty()) return;
    if (text.size() > INT32_MAX) text = text.substr(0, INT32_MAX);  // all the iterator can see
    const ZELWordBreakIterator segments(localeIdentifier, text);
    if (!segments.isValid()) {
        ZELLogFormat("word segmentation for locale %s failed: %s", localeIdentifier, segments.errorName());
        return;
    }
    // About one distinct token per ten units of text, within reason.
    state.reserve(std::clamp<size_t>(text.size() / 10, 8, 1024));
    const bool skipJunk = options & ZELWordTokenizerOptionSkipJunk;
    const bool segmentCJK = options & ZELWordTokenizerOptionSegmentCJKRuns;
    UBreakIterator* iterator = segments.get();
    size_t start = static_cast<size_t>(ubrk_first(iterator));
    int32_t boundary = ubrk_next(iterator);
    while (boundary != UBRK_DONE) {
        const ZELRange segment{start, static_cast<size_t>(boundary) - start};
        const std::u16string_view segmentText = text.substr(segment.location, segment.length);
        ZELRange skip{segment.location, 0};
        if (skipJunk) {
            if (!ZELContainsVisibleCharacter(segmentText)) {
                skip = segment;
            } else {
                const size_t after = segment.end();
                const bool base64Candidate =
                    segment.length >= kBase64LineLength ||
                    (after < text.size() && (text[after] == u'+' || text[after] == u'/'));
                if (base64Candidate) skip = base64BlockRangeAtSegment(text, segment);
                if (skip.isEmpty() && text.substr(after, 3) == u"://") {
                    const ZELRange terminal =
                        ZELDetectedTextInfo::terminalRangeOfURLInString(text, ZELRange{after, 3});
                    skip = ZELRange{segment.location, terminal.end() - segment.location};
                }
            }
        }
        if (skip.isEmpty() && segmentCJK && ZELJapaneseTokenizer::hasCJKPrefix(text, segment)) {
            const ZELRange consumed = ZELJapaneseTokenizer::addCJKTokensToTokenizer(*this, text, segment, state);
            if (!consumed.isEmpty()) skip = consumed;
        }
        if (skip.isEmpty()) {
            if (segment.length == 1 && segmentText[0] == u'-') {
                state.collectFoundToken(wordForHyphenAtIndex(segment.location, text));
            } else {
                state.collectFoundToken(segmentText);
            }
        }
        if (skip.end() > segment.end()) {
            start = skip.end();
            if (start >= text.size()) break;
            boundary = ubrk_following(iterator, static_cast<int32_t>(start));
        } else {
            start = static_cast<size_t>(boundary);
            boundary = ubrk_next(iterator);
        }
    }
}

#include "zel/tokenizer/ZELStringComparison.h"

#include <unicode/ucol.h>
#include <unicode/unorm2.h>
#include <unicode/usearch.h>
#include <unicode/ustring.h>

#include <climits>

#include "zel/platform/ZELLog.h"
#include "zel/tokenizer/ZELCharacterClasses+Private.h"
#include "zel/tokenizer/ZELStringComparison+Private.h"

namespace {

const UChar* icuText(std::u16string_view text) { return reinterpret_cast<const UChar*>(text.data()); }

int32_t icuLength(std::u16string_view text) {
    return text.size() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(text.size());
}

// Texts whose units all lie below U+00C0 are their own canonical decomposition and hold no
// nonspacing mark (the first precomposed letter is U+00C0, the first mark U+0300).
bool isPlainText(std::u16string_view text) {
    for (const char16_t unit : text) {
        if (unit >= 0xC0) return false;
    }
    return true;
}

const UNormalizer2* decompositionNormalizer() {
    static const UNormalizer2* normalizer = [] {
        UErrorCode status = U_ZERO_ERROR;
        const UNormalizer2* instance = unorm2_getNFDInstance(&status);
        if (U_FAILURE(status)) ZELLogFormat("NFD normalizer unavailable: %s", u_errorName(status));
        return U_SUCCESS(status) ? instance : nullptr;
    }();
    return normalizer;
}

// Decomposes `text` into `buffer` (resized to fit). Answers false when ICU fails; the buffer
// then holds the text unchanged.
bool decomposeInto(std::u16string_view text, std::u16string& buffer) {
    const UNormalizer2* normalizer = decompositionNormalizer();
    const int32_t length = icuLength(text);
    if (!normalizer) {
        buffer.assign(text.substr(0, static_cast<size_t>(length)));
        return false;
    }
    buffer.resize(static_cast<size_t>(length) * 3 + 8);
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t written =
            unorm2_normalize(normalizer, icuText(text), length, reinterpret_cast<UChar*>(buffer.data()),
                             static_cast<int32_t>(buffer.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            buffer.resize(static_cast<size_t>(written));
            continue;
        }
        if (U_FAILURE(status)) break;
        buffer.resize(static_cast<size_t>(written));
        return true;
    }
    buffer.assign(text.substr(0, static_cast<size_t>(length)));
    return false;
}

// The canonical decomposition of `text`: the text itself when it already is one, otherwise
// its decomposition written into `buffer`.
std::u16string_view decomposed(std::u16string_view text, std::u16string& buffer) {
    if (isPlainText(text)) return text;
    const UNormalizer2* normalizer = decompositionNormalizer();
    if (normalizer) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t span = unorm2_spanQuickCheckYes(normalizer, icuText(text), icuLength(text), &status);
        if (U_SUCCESS(status) && static_cast<size_t>(span) == text.size()) return text;
    }
    decomposeInto(text, buffer);
    return buffer;
}

// Reusable decomposition buffers, so that comparisons on the hot path do not allocate once
// the thread has seen its longest key.
struct DecompositionBuffers {
    std::u16string first;
    std::u16string second;
};

DecompositionBuffers& threadBuffers() {
    thread_local DecompositionBuffers buffers;
    return buffers;
}

bool isNonspacingMark(char32_t codePoint) {
    return ZELCharacterIsIn(codePoint, ZELCharacterClassNonspacingMark);
}

// The next code point at or after `index` that is not a nonspacing mark, advancing `index`
// past it; -1 at the end.
int32_t nextBaseCodePoint(std::u16string_view text, size_t& index) {
    while (index < text.size()) {
        size_t unitCount;
        const char32_t codePoint = ZELCodePointAt(text, index, &unitCount);
        index += unitCount;
        if (!isNonspacingMark(codePoint)) return static_cast<int32_t>(codePoint);
    }
    return -1;
}

// 1 when the text begins (diacritics aside) with a digit, punctuation or a symbol, else 0.
int leadingGroup(std::u16string_view text) {
    size_t index = 0;
    const int32_t first = nextBaseCodePoint(text, index);
    return first >= 0 && ZELCharacterIsIn(static_cast<char32_t>(first), ZELCharacterClassLeadingNonLetter);
}

int sign(int64_t value) { return (value > 0) - (value < 0); }

// Steps 2 and 3 of the sort order on two canonical decompositions.
int compareDecomposed(std::u16string_view text, std::u16string_view other) {
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        const int32_t a = nextBaseCodePoint(text, i);
        const int32_t b = nextBaseCodePoint(other, j);
        if (a != b) return a < b ? -1 : 1;  // the end (-1) sorts first
        if (a < 0) break;
    }
    i = 0;
    j = 0;
    while (i < text.size() && j < other.size()) {
        size_t unitsA;
        size_t unitsB;
        const char32_t a = ZELCodePointAt(text, i, &unitsA);
        const char32_t b = ZELCodePointAt(other, j, &unitsB);
        if (a != b) {
            const uint32_t rankA = isNonspacingMark(a) ? a + 0x110000 : a;
            const uint32_t rankB = isNonspacingMark(b) ? b + 0x110000 : b;
            return rankA < rankB ? -1 : 1;
        }
        i += unitsA;
        j += unitsB;
    }
    return sign(static_cast<int64_t>(text.size() - i) - static_cast<int64_t>(other.size() - j));
}

int leadingGroupOfPlainText(std::u16string_view text) {
    return !text.empty() && ZELCharacterIsIn(text[0], ZELCharacterClassLeadingNonLetter);
}

// Collators of the comparison locale, made per thread (an ICU collator is not safe for
// concurrent use) and remade when the comparison locale changes.
class ThreadCollators {
public:
    ~ThreadCollators() { close(); }

    // Requires: called on the owning thread only (the object is thread_local).
    void refreshIfNeeded() {
        const uint64_t generation = ZELStringComparisonLocaleGeneration();
        if (generation == generation_ && standard_) return;
        close();
        const std::string locale = localeForUniformZELStringComparison();
        standard_ = open(locale, UCOL_TERTIARY, false);
        caseInsensitive_ = open(locale, UCOL_SECONDARY, false);
        numeric_ = open(locale, UCOL_TERTIARY, true);
        prefix_ = open(locale, UCOL_PRIMARY, false);
        if (prefix_) {
            UErrorCode status = U_ZERO_ERROR;
            ucol_setAttribute(prefix_, UCOL_CASE_LEVEL, UCOL_ON, &status);
        }
        generation_ = generation;
    }

    UCollator* standard() const { return standard_; }
    UCollator* caseInsensitive() const { return caseInsensitive_; }
    UCollator* numeric() const { return numeric_; }
    UCollator* prefix() const { return prefix_; }

    // The prefix search over `text` for `pattern`, or null when ICU cannot make one.
    // Requires: both texts non-empty.
    UStringSearch* prefixSearch(std::u16string_view pattern, std::u16string_view text) {
        if (!prefix_) return nullptr;
        UErrorCode status = U_ZERO_ERROR;
        if (!search_) {
            search_ = usearch_openFromCollator(icuText(pattern), icuLength(pattern), icuText(text),
                                               icuLength(text), prefix_, nullptr, &status);
            if (U_FAILURE(status)) search_ = nullptr;
            return search_;
        }
        usearch_setText(search_, icuText(text), icuLength(text), &status);
        usearch_setPattern(search_, icuText(pattern), icuLength(pattern), &status);
        return U_SUCCESS(status) ? search_ : nullptr;
    }

private:
    static UCollator* open(const std::string& locale, UColAttributeValue strength, bool numeric) {
        UErrorCode status = U_ZERO_ERROR;
        UCollator* collator = ucol_open(locale.c_str(), &status);
        if (U_FAILURE(status)) {
            ZELLogFormat("collator for locale %s unavailable: %s", locale.c_str(), u_errorName(status));
            return nullptr;
        }
        ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        ucol_setAttribute(collator, UCOL_STRENGTH, strength, &status);
        if (numeric) ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
        return collator;
    }

    void close() {
        if (search_) usearch_close(search_);
        for (UCollator* collator : {standard_, caseInsensitive_, numeric_, prefix_}) {
            if (collator) ucol_close(collator);
        }
        search_ = nullptr;
        standard_ = caseInsensitive_ = numeric_ = prefix_ = nullptr;
    }

    uint64_t generation_ = 0;
    UCollator* standard_ = nullptr;
    UCollator* caseInsensitive_ = nullptr;
    UCollator* numeric_ = nullptr;
    UCollator* prefix_ = nullptr;  // primary strength with the case level: diacritics ignored
    UStringSearch* search_ = nullptr;  // over prefix_
};

ThreadCollators& threadCollators() {
    thread_local ThreadCollators collators;
    collators.refreshIfNeeded();
    return collators;
}

int collate(UCollator* collator, std::u16string_view text, std::u16string_view other) {
    if (!collator) return sign(text.compare(other));
    switch (ucol_strcoll(collator, icuText(text), icuLength(text), icuText(other), icuLength(other))) {
        case UCOL_LESS: return -1;
        case UCOL_GREATER: return 1;
        default: return 0;
    }
}

int compareLocalized(std::u16string_view text, std::u16string_view other, bool caseInsensitive) {
    if (!text.empty() && !other.empty()) {
        const int groupA = leadingGroup(text);
        const int groupB = leadingGroup(other);
        if (groupA != groupB) return groupA - groupB;
    }
    ThreadCollators& collators = threadCollators();
    return collate(caseInsensitive ? collators.caseInsensitive() : collators.standard(), text, other);
}

bool isWhitespaceOrNewline(char16_t unit) {
    return ZELCharacterIsIn(unit, ZELCharacterClassWhitespaceOrNewline);
}

}  // namespace

ZELString ZELNormalizedCaseInsensitiveComparisonString(std::u16string_view text) {
    // Plain text (see isPlainText) is lower-cased in the copy, in one pass: below U+00C0
    // only A-Z have lower-case mappings. The first unit beyond that range sends the whole
    // text to ICU.
    ZELString result(text);
    bool plain = true;
    for (char16_t& unit : result) {
        if (unit >= 0xC0) {
            plain = false;
            break;
        }
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + (u'a' - u'A'));
    }
    if (plain) return result;
    std::u16string& decomposition = threadBuffers().first;
    const std::u16string_view source = decomposed(text, decomposition);
    const int32_t length = icuLength(source);
    result.assign(static_cast<size_t>(length) + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        // "" asks for the root locale: the locale-independent mapping.
        const int32_t written = u_strToLower(reinterpret_cast<UChar*>(result.data()),
                                             static_cast<int32_t>(result.size()), icuText(source),
                                             length, "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            result.resize(static_cast<size_t>(written));
            continue;
        }
        if (U_FAILURE(status)) break;
        result.resize(static_cast<size_t>(written));
        return result;
    }
    ZELLog("lower-case mapping failed; term kept in its decomposed form");
    return ZELString(source);
}

int compareZELSort(std::u16string_view text, std::u16string_view other) {
    if (isPlainText(text) && isPlainText(other)) {
        const int groupA = leadingGroupOfPlainText(text);
        const int groupB = leadingGroupOfPlainText(other);
        if (groupA != groupB) return groupA - groupB;
        return sign(text.compare(other));
    }
    DecompositionBuffers& buffers = threadBuffers();
    const std::u16string_view a = decomposed(text, buffers.first);
    const std::u16string_view b = decomposed(other, buffers.second);
    const int groupA = leadingGroup(a);
    const int groupB = leadingGroup(b);
    if (groupA != groupB) return groupA - groupB;
    return compareDecomposed(a, b);
}

// 64-bit FNV-1a over the code units of the canonical decomposition, folded to 32 bits.
uint32_t hashZELSort(std::u16string_view text) {
    const std::u16string_view units = decomposed(text, threadBuffers().first);
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char16_t unit : units) {
        hash = (hash ^ unit) * 0x100000001B3ULL;
    }
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

bool hasZELSortPrefix(std::u16string_view text, std::u16string_view prefix) {
    if (prefix.empty()) return true;
    if (isPlainText(text) && isPlainText(prefix)) return text.substr(0, prefix.size()) == prefix;
    DecompositionBuffers& buffers = threadBuffers();
    const std::u16string_view a = decomposed(text, buffers.first);
    const std::u16string_view p = decomposed(prefix, buffers.second);
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        const int32_t wanted = nextBaseCodePoint(p, j);
        if (wanted < 0) return true;
        if (nextBaseCodePoint(a, i) != wanted) return false;
    }
}

ZELString ZELSortPrefixLowerBound(std::u16string_view prefix) {
    if (isPlainText(prefix)) return ZELString(prefix);
    std::u16string& buffer = threadBuffers().first;
    const std::u16string_view p = decomposed(prefix, buffer);
    ZELString result;
    result.reserve(p.size());
    size_t index = 0;
    while (index < p.size()) {
        size_t unitCount;
        const char32_t codePoint = ZELCodePointAt(p, index, &unitCount);
        if (!isNonspacingMark(codePoint)) result.append(p.substr(index, unitCount));
        index += unitCount;
    }
    return result;
}

int compareZELLocalized(std::u16string_view text, std::u16string_view other) {
    return compareLocalized(text, other, false);
}

int compareZELLocalizedCaseInsensitive(std::u16string_view text, std::u16string_view other) {
    return compareLocalized(text, other, true);
}

bool hasZELLocalizedPrefix(std::u16string_view text, std::u16string_view prefix) {
    if (prefix.empty()) return true;
    if (text.empty()) return false;
    UStringSearch* search = threadCollators().prefixSearch(prefix, text);
    if (!search) return hasZELSortPrefix(text, prefix);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t found = usearch_first(search, &status);
    if (U_FAILURE(status) || found != 0) return false;
    // The search compares at primary strength only; the collator's case level decides case.
    const int32_t matchedLength = usearch_getMatchedLength(search);
    return collate(threadCollators().prefix(), text.substr(0, static_cast<size_t>(matchedLength)), prefix) == 0;
}

int compareByZELNumericalSort(std::u16string_view text, std::u16string_view other) {
    return collate(threadCollators().numeric(), text, other);
}

ZELString stringWithZELID(ZELID identifier) {
    return ZELStringFromUTF8(std::to_string(identifier));
}

int64_t ZELStringIntegerValue(std::u16string_view text) {
    size_t index = 0;
    while (index < text.size() && isWhitespaceOrNewline(text[index])) ++index;
    bool negative = false;
    if (index < text.size() && (text[index] == u'-' || text[index] == u'+')) {
        negative = text[index] == u'-';
        ++index;
    }
    uint64_t magnitude = 0;
    bool overflow = false;
    for (; index < text.size() && text[index] >= u'0' && text[index] <= u'9'; ++index) {
        const uint64_t digit = static_cast<uint64_t>(text[index] - u'0');
        if (magnitude > (UINT64_MAX - digit) / 10) {
            overflow = true;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
    if (overflow || magnitude > limit) return negative ? INT64_MIN : INT64_MAX;
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

ZELID ZELIDValue(std::u16string_view text) {
    const int64_t value = ZELStringIntegerValue(text);
    if (value < 0 || value > int64_t{UINT32_MAX}) return ZELNoID;
    return static_cast<ZELID>(value);
}

std::string unicodeCodePointsDescription(std::u16string_view text) {
    std::string description;
    description.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        const bool plain = (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') ||
                           unit == u'\n' || unit == u' ';
        if (plain) {
            description.push_back(static_cast<char>(unit));
        } else {
            description += ZELStringWithFormat("\\u%04x", static_cast<unsigned>(unit));
        }
    }
    return description;
}

ZELRange nonwhitespaceCharacterRangeForRange(std::u16string_view text, ZELRange range) {
    if (range.isEmpty()) return range;
    size_t first = range.location;
    while (first < range.end() && isWhitespaceOrNewline(text[first])) ++first;
    if (first == range.end()) return ZELRange::notFound();
    size_t last = range.end() - 1;
    while (isWhitespaceOrNewline(text[last])) --last;
    return ZELRange{first, last - first + 1};
}

// Feeds arbitrary UTF-16 text (the input's bytes taken as little-endian code units, so that
// unpaired surrogates occur) to the word tokenizer, the link finder and the string comparison,
// and checks the invariants the index relies on.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "zel/tokenizer/ZELDetectedTextInfo.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto tokenizer = [] {
        ZELSetLocaleForUniformZELStringComparison("en_US");
        return ZELTokenizer::tokenizer<ZELWordTokenizer>();
    }();
    ZELString text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

    const std::optional<ZELTokenSet> tokens = tokenizer->tokensForValue(ZELValue(text));
    check(tokens.has_value());
    const ZELString* previous = nullptr;
    for (const ZELString& token : *tokens) {
        check(!token.empty() && token.size() <= ZELTokenizerState::kMaximumTokenLength);
        const ZELString normalized = ZELNormalizedCaseInsensitiveComparisonString(token);
        check(compareZELSort(normalized, normalized) == 0);
        size_t half = normalized.size() / 2;
        if (half > 0 && normalized[half - 1] >= 0xD800 && normalized[half - 1] < 0xDC00) --half;  // keep pairs
        check(hasZELSortPrefix(normalized, normalized.substr(0, half)));
        const ZELString lowerBound = ZELSortPrefixLowerBound(normalized);
        check(hasZELSortPrefix(lowerBound, normalized) && compareZELSort(lowerBound, normalized) <= 0);
        if (previous) check(compareZELSort(*previous, token) == -compareZELSort(token, *previous));
        previous = &token;
    }

    ZELDetectedTextInfo record;
    record.addTokensFromString(text);
    if (record.linkTokens()) {
        check(!record.linkTokens()->count(u".") && !record.linkTokens()->count(u"/"));
    }
    ZELRange scheme;
    ZELRange delimiter;
    const ZELRange url = ZELDetectedTextInfo::rangeOfURLInString(text, &scheme, &delimiter);
    check(url.isNotFound() || url.end() <= text.size());
    return 0;
}

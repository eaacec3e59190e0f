#include "zel/tokenizer/ZELDetectedTextInfoTokenizer.h"

const ZELDetectedTextInfo* ZELDetectedTextInfoTokenizer::recordOfValue(const ZELValue& value) {
    if (!value.isObject()) return nullptr;
    return dynamic_cast<const ZELDetectedTextInfo*>(value.objectValue().get());
}

std::optional<ZELTokenSet> ZELDetectedTextInfoTokenizer::tokensForDetectedTextInfo(const ZELDetectedTextInfo&) const {
    return std::nullopt;
}

std::optional<ZELTokenSet> ZELDetectedTextInfoTokenizer::tokensForValue(const ZELValue& value) const {
    if (const ZELDetectedTextInfo* record = recordOfValue(value)) return tokensForDetectedTextInfo(*record);
    if (value.isArray()) return ZELTokenizer::tokensForValue(value);
    return std::nullopt;
}

void ZELDetectedTextInfoTokenizer::collectTokensForSingleValue(const ZELValue& value,
                                                               ZELTokenizerState& state) const {
    const ZELDetectedTextInfo* record = recordOfValue(value);
    if (!record) return;
    if (const std::optional<ZELTokenSet> tokens = tokensForDetectedTextInfo(*record)) {
        state.collectFoundTokens(*tokens);
    }
}

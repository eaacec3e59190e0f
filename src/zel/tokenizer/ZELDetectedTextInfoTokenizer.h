#pragma once

#include "zel/tokenizer/ZELDetectedTextInfo.h"
#include "zel/tokenizer/ZELTokenizer.h"

// Base of the tokenizers that read a ZELDetectedTextInfo record (handed over as an object
// value). The record's tokens are taken as they are: no cut to 400 units. This class yields
// none for any record; subclasses choose the record's tokens.
class ZELDetectedTextInfoTokenizer : public ZELTokenizer {
public:
    // The tokens of a record; none here.
    virtual std::optional<ZELTokenSet> tokensForDetectedTextInfo(const ZELDetectedTextInfo& record) const;

    // A record: `tokensForDetectedTextInfo`, bypassing the collector. A list: the tokens of
    // its records together. Any other value: none.
    std::optional<ZELTokenSet> tokensForValue(const ZELValue& value) const override;

    // Adds the whole set of a record's tokens unchanged.
    void collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const override;

protected:
    // The record a value holds, or null.
    static const ZELDetectedTextInfo* recordOfValue(const ZELValue& value);
};

#pragma once

#include "zel/tokenizer/ZELTokenizer.h"

// Yields a text value whole, as one token (cut to 400 code units). Values of other kinds yield
// nothing. Shared like every tokenizer.
class ZELIdentityValueTokenizer : public ZELTokenizer {
public:
    void collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const override;
};

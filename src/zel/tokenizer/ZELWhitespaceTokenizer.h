#pragma once

#include "zel/tokenizer/ZELTokenizer.h"

// Yields the non-empty runs of a text between whitespace and newline characters. Values of
// other kinds yield nothing.
class ZELWhitespaceTokenizer : public ZELTokenizer {
public:
    void collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const override;
};

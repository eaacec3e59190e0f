#pragma once

#include "zel/tokenizer/ZELTokenizer.h"

// Yields {"yes"} for a value with content and {"no"} for none, an empty text, an empty
// collection or empty data, so that a search can ask whether an item has the value at all.
class ZELNonEmptyTokenTokenizer : public ZELTokenizer {
public:
    std::optional<ZELTokenSet> tokensForValue(const ZELValue& value) const override;
};

#pragma once

#include "zel/tokenizer/ZELTokenizer.h"

// Yields {"yes"} when the item's value under the getter is true (a true boolean or a non-zero
// number) and {"no"} in every other case; the required class is not consulted.
class ZELBoolTokenizer : public ZELTokenizer {
public:
    std::optional<ZELTokenSet> tokensForClientObject(const ZELObject& item) const override;
};

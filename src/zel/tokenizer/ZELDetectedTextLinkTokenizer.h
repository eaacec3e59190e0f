#pragma once

#include "zel/tokenizer/ZELDetectedTextInfoTokenizer.h"

// Yields the link tokens of a ZELDetectedTextInfo record.
class ZELDetectedTextLinkTokenizer : public ZELDetectedTextInfoTokenizer {
public:
    std::optional<ZELTokenSet> tokensForDetectedTextInfo(const ZELDetectedTextInfo& record) const override;
};

#include "zel/tokenizer/ZELDetectedTextLinkTokenizer.h"

std::optional<ZELTokenSet> ZELDetectedTextLinkTokenizer::tokensForDetectedTextInfo(
    const ZELDetectedTextInfo& record) const {
    return record.linkTokens();
}

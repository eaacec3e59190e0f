#include "zel/tokenizer/ZELIdentityValueTokenizer.h"

void ZELIdentityValueTokenizer::collectTokensForSingleValue(const ZELValue& value,
                                                            ZELTokenizerState& state) const {
    if (value.isString()) state.collectFoundToken(value.stringValue());
}

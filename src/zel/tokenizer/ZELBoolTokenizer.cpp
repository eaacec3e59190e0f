#include "zel/tokenizer/ZELBoolTokenizer.h"

std::optional<ZELTokenSet> ZELBoolTokenizer::tokensForClientObject(const ZELObject& item) const {
    const ZELValue value = clientObjectValue(item);
    const bool isTrue = (value.isBoolean() || value.isNumber()) && value.booleanValue();
    return isTrue ? trueTokenSet() : falseTokenSet();
}

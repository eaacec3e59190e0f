#include "zel/tokenizer/ZELNonEmptyTokenTokenizer.h"

std::optional<ZELTokenSet> ZELNonEmptyTokenTokenizer::tokensForValue(const ZELValue& value) const {
    bool empty;
    switch (value.kind()) {
        case ZELValue::Kind::None: empty = true; break;
        case ZELValue::Kind::Array: empty = value.arrayValue().empty(); break;
        case ZELValue::Kind::Dictionary: empty = value.dictionaryValue().empty(); break;
        case ZELValue::Kind::String: empty = value.stringValue().empty(); break;
        case ZELValue::Kind::Data: empty = value.dataValue().empty(); break;
        default: empty = false; break;
    }
    return empty ? falseTokenSet() : trueTokenSet();
}

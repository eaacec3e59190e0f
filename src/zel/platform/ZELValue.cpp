#include "zel/platform/ZELValue.h"

#include "zel/platform/ZELError.h"

bool ZELValue::booleanValue() const {
    if (const bool* value = std::get_if<bool>(&storage_)) return *value;
    if (isNumber()) return realValue() != 0.0;
    return false;
}

int64_t ZELValue::integerValue() const {
    if (const int64_t* value = std::get_if<int64_t>(&storage_)) return *value;
    if (const double* value = std::get_if<double>(&storage_)) return static_cast<int64_t>(*value);
    if (const bool* value = std::get_if<bool>(&storage_)) return *value ? 1 : 0;
    return 0;
}

double ZELValue::realValue() const {
    if (const double* value = std::get_if<double>(&storage_)) return *value;
    if (const int64_t* value = std::get_if<int64_t>(&storage_)) return static_cast<double>(*value);
    if (const bool* value = std::get_if<bool>(&storage_)) return *value ? 1.0 : 0.0;
    return 0.0;
}

const ZELString& ZELValue::stringValue() const {
    static const ZELString empty;
    const ZELString* value = std::get_if<ZELString>(&storage_);
    return value ? *value : empty;
}

ZELDate ZELValue::dateValue() const {
    const ZELDate* value = std::get_if<ZELDate>(&storage_);
    return value ? *value : ZELDate{};
}

const ZELValue::Data& ZELValue::dataValue() const {
    static const Data empty;
    const Data* value = std::get_if<Data>(&storage_);
    return value ? *value : empty;
}

const ZELValue::Array& ZELValue::arrayValue() const {
    static const Array empty;
    const Array* value = std::get_if<Array>(&storage_);
    return value ? *value : empty;
}

const ZELValue::Dictionary& ZELValue::dictionaryValue() const {
    static const Dictionary empty;
    const Dictionary* value = std::get_if<Dictionary>(&storage_);
    return value ? *value : empty;
}

std::shared_ptr<ZELObject> ZELValue::objectValue() const {
    const auto* value = std::get_if<std::shared_ptr<ZELObject>>(&storage_);
    return value ? *value : nullptr;
}

const ZELValue* ZELValue::valueForKey(std::u16string_view key) const {
    const Dictionary* dictionary = std::get_if<Dictionary>(&storage_);
    if (!dictionary) return nullptr;
    const auto found = dictionary->find(ZELString(key));
    return found == dictionary->end() ? nullptr : &found->second;
}

const ZELValue* ZELValue::valueForKey(std::string_view utf8Key) const {
    return valueForKey(ZELStringFromUTF8(utf8Key));
}

const ZELValue* ZELValue::valueForKey(std::string_view utf8Key, Kind kind,
                                      ZELError* outError) const {
    const ZELValue* value = valueForKey(utf8Key);
    if (value && value->kind() == kind) return value;
    const std::string reason =
        value ? "value for key \"" + std::string(utf8Key) + "\" is a " + kindName(value->kind()) +
                    ", expected a " + kindName(kind)
              : "missing value for key \"" + std::string(utf8Key) + "\"";
    ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, reason));
    return nullptr;
}

const char* ZELValue::kindName(Kind kind) {
    switch (kind) {
        case Kind::None: return "none";
        case Kind::Boolean: return "boolean";
        case Kind::Integer: return "integer";
        case Kind::Real: return "real";
        case Kind::String: return "string";
        case Kind::Date: return "date";
        case Kind::Data: return "data";
        case Kind::Array: return "array";
        case Kind::Dictionary: return "dictionary";
        case Kind::Object: return "object";
    }
    return "unknown";
}

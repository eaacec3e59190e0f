#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"

class ZELError;

// A dynamic value: what property lists hold and what value getters hand to tokenizers.
// none, boolean, integer, real, string, date, data, array, dictionary or a shared client
// object. Values are plain copyable data; a client object is shared, not copied.
class ZELValue {
public:
    enum class Kind { None, Boolean, Integer, Real, String, Date, Data, Array, Dictionary, Object };

    using Data = std::vector<uint8_t>;
    using Array = std::vector<ZELValue>;
    using Dictionary = std::map<ZELString, ZELValue>;  // ordered by UTF-16 code units

    ZELValue() = default;
    ZELValue(bool value) : storage_(value) {}
    ZELValue(int value) : storage_(int64_t{value}) {}
    ZELValue(int64_t value) : storage_(value) {}
    ZELValue(uint32_t value) : storage_(int64_t{value}) {}
    ZELValue(double value) : storage_(value) {}
    ZELValue(ZELString value) : storage_(std::move(value)) {}
    ZELValue(const char16_t* value) : storage_(ZELString(value)) {}
    ZELValue(ZELDate value) : storage_(value) {}
    ZELValue(Data value) : storage_(std::move(value)) {}
    ZELValue(Array value) : storage_(std::move(value)) {}
    ZELValue(Dictionary value) : storage_(std::move(value)) {}
    ZELValue(std::shared_ptr<ZELObject> value) : storage_(std::move(value)) {}

    // A string value from UTF-8 text.
    static ZELValue fromUTF8(std::string_view utf8) { return ZELValue(ZELStringFromUTF8(utf8)); }

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNone() const { return kind() == Kind::None; }
    bool isBoolean() const { return kind() == Kind::Boolean; }
    bool isInteger() const { return kind() == Kind::Integer; }
    bool isReal() const { return kind() == Kind::Real; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isString() const { return kind() == Kind::String; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isData() const { return kind() == Kind::Data; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }
    bool isObject() const { return kind() == Kind::Object; }

    // Accessors answer the value when the kind matches and an empty or zero value otherwise.
    // Numbers convert between integer and real; booleans read as 0 or 1.
    bool booleanValue() const;
    int64_t integerValue() const;
    double realValue() const;
    const ZELString& stringValue() const;
    std::string utf8Value() const { return ZELStringToUTF8(stringValue()); }
    ZELDate dateValue() const;
    const Data& dataValue() const;
    const Array& arrayValue() const;
    const Dictionary& dictionaryValue() const;
    std::shared_ptr<ZELObject> objectValue() const;

    Array* mutableArray() { return std::get_if<Array>(&storage_); }
    Dictionary* mutableDictionary() { return std::get_if<Dictionary>(&storage_); }

    // Dictionary lookup: the value under `key`, or null when this is not a dictionary or has
    // no such key.
    const ZELValue* valueForKey(std::u16string_view key) const;
    const ZELValue* valueForKey(std::string_view utf8Key) const;

    // Typed dictionary lookup: the value under `key` when present and of `kind`; otherwise
    // null, with an error (code ZELErrorCodeInvalidData) naming the key and the expected kind.
    const ZELValue* valueForKey(std::string_view utf8Key, Kind kind, ZELError* outError) const;

    // "string", "dictionary", ... for messages.
    static const char* kindName(Kind kind);

    friend bool operator==(const ZELValue& a, const ZELValue& b) { return a.storage_ == b.storage_; }

private:
    std::variant<std::monostate, bool, int64_t, double, ZELString, ZELDate, Data, Array, Dictionary,
                 std::shared_ptr<ZELObject>>
        storage_;
};

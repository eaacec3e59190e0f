// Feeds arbitrary bytes to the property-list reader (XML and binary). Whatever reads must also
// write as XML and read back as the same value, so that the writer and the reader agree.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELValue.h"

namespace {

// Equality in which a NaN real equals a NaN real.
bool sameValue(const ZELValue& a, const ZELValue& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case ZELValue::Kind::Real:
            return (std::isnan(a.realValue()) && std::isnan(b.realValue())) ||
                   a.realValue() == b.realValue();
        case ZELValue::Kind::Array: {
            const ZELValue::Array& left = a.arrayValue();
            const ZELValue::Array& right = b.arrayValue();
            if (left.size() != right.size()) return false;
            for (size_t i = 0; i < left.size(); ++i) {
                if (!sameValue(left[i], right[i])) return false;
            }
            return true;
        }
        case ZELValue::Kind::Dictionary: {
            const ZELValue::Dictionary& left = a.dictionaryValue();
            const ZELValue::Dictionary& right = b.dictionaryValue();
            if (left.size() != right.size()) return false;
            for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
                if (l->first != r->first || !sameValue(l->second, r->second)) return false;
            }
            return true;
        }
        default:
            return a == b;
    }
}

[[noreturn]] void failWith(const char* what, const std::string& detail) {
    std::fprintf(stderr, "property_list fuzz target: %s\n%s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZELValue value;
    ZELError error;
    if (!ZELPropertyList::readData(data, size, "fuzz input", &value, &error)) {
        if (!error.matchesZELErrorCode(ZELErrorCodeInvalidData) || error.failureReason().empty()) {
            failWith("a failed read gave no proper error", error.description());
        }
        return 0;
    }
    // Binary input may hold what XML cannot (control characters in strings, far dates); the
    // writer refuses those, which is its contract.
    std::string xml;
    if (!ZELPropertyList::xmlData(value, &xml, &error)) return 0;
    ZELValue again;
    if (!ZELPropertyList::readData(reinterpret_cast<const uint8_t*>(xml.data()), xml.size(),
                                   "written XML", &again, &error)) {
        failWith("what was written does not read back", error.description() + "\n" + xml);
    }
    if (!sameValue(value, again)) failWith("what was written reads back differently", xml);
    return 0;
}

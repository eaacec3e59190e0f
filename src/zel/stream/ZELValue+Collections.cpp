#include "zel/stream/ZELValue+Collections.h"

#include <algorithm>

std::vector<ZELString> ZELDictionary_AllKeysSortedByValue(
    const ZELValue::Dictionary& dictionary,
    const std::function<int32_t(const ZELValue& value1, const ZELValue& value2)>& compare) {
    std::vector<const ZELValue::Dictionary::value_type*> entries;
    entries.reserve(dictionary.size());
    for (const auto& entry : dictionary) entries.push_back(&entry);
    std::stable_sort(entries.begin(), entries.end(), [&compare](const auto* a, const auto* b) {
        return compare(a->second, b->second) < 0;
    });
    std::vector<ZELString> keys;
    keys.reserve(entries.size());
    for (const auto* entry : entries) keys.push_back(entry->first);
    return keys;
}

const ZELValue* ZELArray_FirstObject(const ZELValue::Array& array) {
    return array.empty() ? nullptr : &array.front();
}

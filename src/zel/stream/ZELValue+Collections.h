#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "zel/platform/ZELValue.h"

// Two small helpers on the collections of plain values. Plain functions; any thread.

// The keys of `dictionary`, ordered so that their values ascend under `compare`, called as
// compare(value1, value2) and read as negative, 0 or positive; keys of equal values keep the
// dictionary's key order.
std::vector<ZELString> ZELDictionary_AllKeysSortedByValue(
    const ZELValue::Dictionary& dictionary,
    const std::function<int32_t(const ZELValue& value1, const ZELValue& value2)>& compare);

// The first element, or null when the array is empty.
const ZELValue* ZELArray_FirstObject(const ZELValue::Array& array);

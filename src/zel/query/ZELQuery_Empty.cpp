#include "zel/query/ZELQuery_Empty.h"

#include "zel/idvector/ZELIDVector.h"

std::string ZELQuery_Empty::descriptionImplementation(ZELDatabase*,
                                                      ZELQueryDescriptionType type) const {
    return type == ZELQueryDescriptionTypeUser ? "(Empty Query)" : "{EMPTY_QUERY}";
}

std::shared_ptr<ZELQuery> ZELQuery_Empty::queryByFlatteningWithQuery(
    const std::shared_ptr<ZELQuery>& other) const {
    // Nothing joined by OR is the other operand; nothing joined by AND stays nothing.
    if (booleanOperation() == ZELBooleanOperationOR) return other;
    return selfQuery();
}

std::shared_ptr<ZELQuery> ZELQuery_Empty::queryByFilteringConstraints(const AspectList&,
                                                                      ZELDatabase&, bool) const {
    return selfQuery();
}

std::shared_ptr<ZELIDVector> ZELQuery_Empty::calculateMatchingItemIDVector(
    ZELDatabase&, const ZELIDVector*) const {
    return ZELIDVector::vector();
}

ZELValue ZELQuery_Empty::plistSerializationImplementation(ZELDatabase*) const {
    return ZELValue(ZELValue::Dictionary{});
}

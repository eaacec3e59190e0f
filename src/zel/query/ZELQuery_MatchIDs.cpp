#include "zel/query/ZELQuery_MatchIDs.h"

#include <set>
#include <vector>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELQuery+Private.h"

ZELQuery_MatchIDs::ZELQuery_MatchIDs(std::shared_ptr<ZELIDVector> aspectBitIDs,
                                     ZELBooleanOperation operation)
    : ZELQuery(operation), ids_(std::move(aspectBitIDs)) {}

bool ZELQuery_MatchIDs::isEqualToNonEmptyQuery(const ZELQuery& other) const {
    const auto* match = dynamic_cast<const ZELQuery_MatchIDs*>(&other);
    return match && match->ids_->isEqual(*ids_);
}

bool ZELQuery_MatchIDs::hasAnyCriteria() const { return !ids_->isEmpty(); }

std::string ZELQuery_MatchIDs::descriptionImplementation(ZELDatabase* database,
                                                         ZELQueryDescriptionType type) const {
    // A set, so that two IDs of the same text show once; its order is the texts' order.
    std::set<std::string> texts;
    ids_->enumerateIDs([&](ZELID id, bool&) {
        std::optional<ZELString> value;
        std::shared_ptr<ZELAspect> aspect;
        if (database) value = database->aspectBitCanonicalValueForID(id, &aspect);
        if (!value || !aspect) {
            texts.insert(ZELStringWithFormat("ID=%lu", static_cast<unsigned long>(id)));
            return;
        }
        std::string text = ZELStringToUTF8(*value);
        if (ZELQueryTextContainsSpaceSeparator(*value)) text = "\"" + text + "\"";
        if (type != ZELQueryDescriptionTypeUser) {
            text = ZELStringToUTF8(aspect->displayName()) + "=" + text;
        }
        texts.insert(std::move(text));
    });
    const bool isAND = booleanOperation() == ZELBooleanOperationAND;
    const char* word = type == ZELQueryDescriptionTypeUser ? (isAND ? "AND" : "OR")
                                                           : (isAND ? "&&" : "||");
    const std::string separator = ZELStringWithFormat(" %s ", word);
    std::string result;
    for (const auto& text : texts) {
        if (!result.empty()) result += separator;
        result += text;
    }
    return result;
}

std::shared_ptr<ZELQuery> ZELQuery_MatchIDs::queryByFlatteningWithQuery(
    const std::shared_ptr<ZELQuery>& other) const {
    auto otherIDs = other ? other->aspectBitIDs() : nullptr;
    if (!otherIDs) return nullptr;
    auto merged = ids_->vectorByUnion(*otherIDs);
    return queryMatchingIDsInVector(merged.get(), booleanOperation());
}

std::shared_ptr<ZELQuery> ZELQuery_MatchIDs::queryByFilteringConstraints(
    const AspectList& aspects, ZELDatabase& database, bool keepInside) const {
    std::vector<ZELID> kept;
    kept.reserve(ids_->count());
    ids_->enumerateIDs([&](ZELID id, bool&) {
        const bool isInside = database.aspectBitCanonicalValueForID(id, aspects, nullptr).has_value();
        if (isInside == keepInside) kept.push_back(id);
    });
    if (kept.empty()) return emptyQuery();
    if (kept.size() == ids_->count()) return selfQuery();
    auto vector = ZELIDVector::vectorWithIDs(kept.data(), static_cast<uint32_t>(kept.size()));
    return queryMatchingIDsInVector(vector.get(), booleanOperation());
}

std::shared_ptr<ZELIDVector> ZELQuery_MatchIDs::calculateMatchingItemIDVector(
    ZELDatabase& database, const ZELIDVector*) const {
    switch (booleanOperation()) {
        case ZELBooleanOperationAND:
            return database.itemIDVectorByIntersectingItemsWithAspectBitIDs(*ids_);
        case ZELBooleanOperationOR:
            return database.itemIDVectorByUnionOfItemsWithAspectBitIDs(*ids_);
        default:
            return nullptr;
    }
}

std::optional<ZELValue::Array> ZELQuery_MatchIDs::plistSerializationOperands(
    ZELDatabase* database) const {
    ZELValue::Array operands;
    if (!database) return operands;
    ids_->enumerateIDs([&](ZELID id, bool&) {
        std::shared_ptr<ZELAspect> aspect;
        auto value = database->aspectBitCanonicalValueForID(id, &aspect);
        if (!value || !aspect) return;
        ZELString term = aspect->aspectIdentifier();
        term.append(ZELQueryPlistAspectValueDelimiter);
        term.append(*value);
        operands.push_back(ZELValue(term));
    });
    return operands;
}

#include "zel/userquery/ZELAspectNarrowingPrefixes.h"

#include "zel/database/ZELAspect.h"

void ZELAspectNarrowingPrefixes::setLimitedAspectIdentifiers(std::set<ZELString> identifiers,
                                                             const ZELString& prefix) {
    if (identifiers.empty()) {
        identifiersByPrefix_.erase(prefix);
    } else {
        identifiersByPrefix_[prefix] = std::move(identifiers);
    }
}

ZELAspectNarrowingPrefixes::Narrowed ZELAspectNarrowingPrefixes::narrow(
    const ZELString& input, const AspectList& aspects) const {
    const std::pair<const ZELString, std::set<ZELString>>* longest = nullptr;
    for (const auto& entry : identifiersByPrefix_) {
        if (input.starts_with(entry.first) &&
            (!longest || entry.first.size() > longest->first.size())) {
            longest = &entry;
        }
    }
    if (!longest) return {input, aspects};
    Narrowed narrowed{input.substr(longest->first.size()), {}};
    for (const auto& aspect : aspects) {
        if (longest->second.count(aspect->aspectIdentifier())) narrowed.aspects.push_back(aspect);
    }
    return narrowed;
}

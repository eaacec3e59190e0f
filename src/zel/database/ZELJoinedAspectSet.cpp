#include "zel/database/ZELJoinedAspectSet.h"

std::shared_ptr<ZELJoinedAspectSet> ZELJoinedAspectSet::setWithAspectIdentifiers(
    std::set<ZELString> identifiers) {
    return std::make_shared<ZELJoinedAspectSet>(std::move(identifiers));
}

ZELJoinedAspectSet::ZELJoinedAspectSet(std::set<ZELString> identifiers)
    : aspectIdentifiers_(std::move(identifiers)) {}

std::set<ZELString> ZELJoinedAspectSet::aspectIdentifiers() const {
    std::lock_guard<std::mutex> guard(identifiersLock_);
    return aspectIdentifiers_;
}

void ZELJoinedAspectSet::setAspectIdentifiers(std::set<ZELString> identifiers) {
    std::lock_guard<std::mutex> guard(identifiersLock_);
    aspectIdentifiers_ = std::move(identifiers);
}

std::string ZELJoinedAspectSet::description() const {
    std::string text = descriptionHead() + "{";
    bool first = true;
    for (const ZELString& identifier : aspectIdentifiers()) {
        if (!first) text += ", ";
        text += ZELStringToUTF8(identifier);
        first = false;
    }
    return text + "}";
}

#include "zel/userquery/ZELAspectTokenFieldGroup.h"

#include <algorithm>

#include "zel/database/ZELAspect.h"

std::shared_ptr<ZELAspectTokenFieldGroup> ZELAspectTokenFieldGroup::groupWithAspects(
    AspectList aspects, std::optional<ZELString> label) {
    return std::make_shared<ZELAspectTokenFieldGroup>(std::move(aspects), std::move(label));
}

ZELAspectTokenFieldGroup::ZELAspectTokenFieldGroup(AspectList aspects,
                                                   std::optional<ZELString> label)
    : label_(std::move(label)), aspects_(std::move(aspects)) {}

bool ZELAspectTokenFieldGroup::intersectsAspects(const AspectList& aspects) const {
    return std::any_of(aspects.begin(), aspects.end(), [&](const auto& aspect) {
        return std::find(aspects_.begin(), aspects_.end(), aspect) != aspects_.end();
    });
}

bool ZELAspectTokenFieldGroup::containsAllAspects(const AspectList& aspects) const {
    return std::all_of(aspects.begin(), aspects.end(), [&](const auto& aspect) {
        return std::find(aspects_.begin(), aspects_.end(), aspect) != aspects_.end();
    });
}

ZELAspectTokenFieldGroup::AspectList ZELAspectTokenFieldGroup::aspectsInGroups(
    const std::vector<std::shared_ptr<ZELAspectTokenFieldGroup>>& groups) {
    AspectList result;
    for (const auto& group : groups) {
        if (!group) continue;
        for (const auto& aspect : group->aspects()) {
            if (aspect && std::find(result.begin(), result.end(), aspect) == result.end()) {
                result.push_back(aspect);
            }
        }
    }
    return result;
}

std::string ZELAspectTokenFieldGroup::description() const {
    std::string text = descriptionHead();
    if (label_) text += " \"" + ZELStringToUTF8(*label_) + "\"";
    text += " {";
    for (size_t i = 0; i < aspects_.size(); ++i) {
        if (i) text += ", ";
        text += aspects_[i] ? ZELStringToUTF8(aspects_[i]->aspectIdentifier()) : "(null)";
    }
    return text + "}";
}

#include "zel/ui/ZELTokenFieldAttachment.h"

#include "zel/userquery/ZELUserCriteria.h"

std::shared_ptr<ZELTokenFieldAttachment> ZELTokenFieldAttachment::attachment(
    ZELStyledTitle title, RepresentedObject object) {
    return std::make_shared<ZELTokenFieldAttachment>(std::move(title), std::move(object));
}

ZELTokenFieldAttachment::ZELTokenFieldAttachment(ZELStyledTitle title, RepresentedObject object)
    : title_(std::move(title)), object_(std::move(object)) {}

std::shared_ptr<ZELUserCriteria> ZELTokenFieldAttachment::criteria() const {
    const auto* criteria = std::get_if<std::shared_ptr<ZELUserCriteria>>(&object_);
    return criteria ? *criteria : nullptr;
}

double ZELTokenFieldAttachment::widthForTitleWidth(double titleWidth) const {
    double width = titleWidth + titlePadding;
    if (hasContextualMenu_) width += contextualMenuWidth;
    if (isTransitory_) width -= transitoryShortening;
    return width;
}

bool ZELTokenFieldAttachment::isContextualMenuClick(double x, double right) const {
    return hasContextualMenu_ && x >= contextualMenuLeft(right) - contextualMenuClickSlack &&
           x < right;
}

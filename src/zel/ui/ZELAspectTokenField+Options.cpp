// The search field's token options: the pop-up that negates a token or changes the groups it
// is searched in.

#include <QFrame>

#include "zel/ui/ZELAspectTokenField.h"

void ZELAspectTokenField::showOptionsForAttachment(
    const std::shared_ptr<ZELTokenFieldAttachment>& attachment, QPoint globalPosition) {
    auto criteria = attachment->criteria();
    if (!criteria || optionsController_) return;
    optionsController_ = std::make_unique<ZELAspectTokenFieldPopUpOptionsController>(
        criteria->isNegate(), criteria->allAspectGroups(), criteria->possibleAspectGroups(),
        criteria->chosenAspectGroups(), static_cast<ZELAspectTokenFieldPopUpOptionsDelegate*>(this));
    optionsCriteria_ = criteria;
    const auto& terms = criteria->displaySearchTerms() ? *criteria->displaySearchTerms() : criteria->searchTerms();
    QStringList titles;
    for (const ZELString& term : terms) {
        titles << QString::fromUtf16(term.data(), static_cast<qsizetype>(term.size()));
    }
    optionsController_->setWindowTitle(titles.join(QStringLiteral(" OR ")));
    hideCompletionList();
    optionsController_->popUpOptionsAtOrigin(globalPosition);
}

void ZELAspectTokenField::aspectTokenFieldPopUpOptionsChanged(
    ZELAspectTokenFieldPopUpOptionsController& controller) {
    if (!optionsCriteria_) return;
    auto edited = optionsCriteria_->copy();
    edited->setChosenAspectGroups(controller.selectedAspectGroups());
    edited->setIsNegate(controller.isNegationApplied());
    std::vector<Object> objects = tokenRepresentedObjects(true);
    for (Object& object : objects) {
        if (const auto* criteria = std::get_if<std::shared_ptr<ZELUserCriteria>>(&object);
            criteria && *criteria == optionsCriteria_) {
            object = edited;
        }
    }
    optionsCriteria_ = edited;
    setTokenRepresentedObjects(objects, nullptr);
    detectQueryChanged();
}

void ZELAspectTokenField::aspectTokenFieldPopUpWindowClosed(ZELAspectTokenFieldPopUpOptionsController&) {
    // The controller is inside its own event handling: let it go once that has returned.
    optionsController_.release()->deleteLater();
    optionsCriteria_.reset();
}

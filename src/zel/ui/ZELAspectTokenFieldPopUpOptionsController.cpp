#include "zel/ui/ZELAspectTokenFieldPopUpOptionsController.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

bool contains(const std::vector<std::shared_ptr<ZELAspectTokenFieldGroup>>& groups,
              const std::shared_ptr<ZELAspectTokenFieldGroup>& group) {
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

}  // namespace

ZELAspectTokenFieldPopUpOptionsController::ZELAspectTokenFieldPopUpOptionsController(
    bool isNegationApplied, GroupList allGroups, GroupList enabledGroups, GroupList selectedGroups,
    ZELAspectTokenFieldPopUpOptionsDelegate* delegate)
    : delegate_(delegate),
      isNegationApplied_(isNegationApplied),
      allGroups_(std::move(allGroups)),
      enabledGroups_(std::move(enabledGroups)),
      selectedGroups_(std::move(selectedGroups)) {
    popup_ = new QFrame(nullptr, Qt::Popup);
    popup_->setFrameStyle(QFrame::Box | QFrame::Plain);
    auto* layout = new QVBoxLayout(popup_);
    layout->setContentsMargins(8, 4, 8, 4);
    auto* negation = new QCheckBox(tr("NOT"), popup_);
    negation->setChecked(isNegationApplied_);
    checkBoxes_.push_back(negation);
    if (allGroups_.size() >= 2) {
        for (const auto& group : allGroups_) {
            const ZELString label = group->label().value_or(u"?");
            auto* box = new QCheckBox(
                tr("Search %1").arg(QString::fromUtf16(label.data(), static_cast<qsizetype>(label.size()))),
                popup_);
            box->setEnabled(contains(enabledGroups_, group));
            box->setChecked(contains(selectedGroups_, group));
            checkBoxes_.push_back(box);
        }
    }
    for (QCheckBox* box : checkBoxes_) {
        layout->addWidget(box);
        connect(box, &QCheckBox::clicked, this, [this, box] { checkboxOptionWasToggled(box); });
    }
    auto* done = new QPushButton(tr("Done"), popup_);
    connect(done, &QPushButton::clicked, this, [this] { dismissPopUpWindow(); });
    layout->addWidget(done);
    popup_->installEventFilter(this);
}

ZELAspectTokenFieldPopUpOptionsController::~ZELAspectTokenFieldPopUpOptionsController() {
    delegate_ = nullptr;
    popup_->removeEventFilter(this);
    delete popup_;
}

void ZELAspectTokenFieldPopUpOptionsController::setWindowTitle(const QString& title) {
    popup_->setWindowTitle(title);
}

void ZELAspectTokenFieldPopUpOptionsController::popUpOptionsAtOrigin(QPoint globalPosition) {
    popup_->adjustSize();
    popup_->move(globalPosition);
    isOpen_ = true;
    popup_->show();
    popup_->raise();
}

void ZELAspectTokenFieldPopUpOptionsController::dismissPopUpWindow() {
    popup_->hide();
    reportClosed();
}

void ZELAspectTokenFieldPopUpOptionsController::checkboxOptionWasToggled(QCheckBox* box) {
    if (checkBoxes_.size() > 1 && box != checkBoxes_.front()) {
        GroupList selected;
        for (size_t i = 1; i < checkBoxes_.size(); ++i) {
            if (checkBoxes_[i]->isChecked()) selected.push_back(allGroups_[i - 1]);
        }
        if (selected.empty()) {
            box->setChecked(true);
            QApplication::beep();
            return;
        }
        selectedGroups_ = std::move(selected);
    }
    isNegationApplied_ = checkBoxes_.front()->isChecked();
    if (delegate_) delegate_->aspectTokenFieldPopUpOptionsChanged(*this);
}

void ZELAspectTokenFieldPopUpOptionsController::reportClosed() {
    // Closing by the button, by a click outside or by Escape all end here: once.
    if (!isOpen_) return;
    isOpen_ = false;
    if (delegate_) delegate_->aspectTokenFieldPopUpWindowClosed(*this);
}

bool ZELAspectTokenFieldPopUpOptionsController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == popup_ && event->type() == QEvent::Hide) reportClosed();
    return false;
}

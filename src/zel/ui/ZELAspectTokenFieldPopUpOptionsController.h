#pragma once

#include <QObject>
#include <QPoint>
#include <memory>
#include <vector>

#include "zel/userquery/ZELAspectTokenFieldGroup.h"

class QCheckBox;
class QFrame;
class ZELAspectTokenFieldPopUpOptionsController;

// Told by the options pop-up when its choices change and when it closes.
class ZELAspectTokenFieldPopUpOptionsDelegate {
public:
    virtual ~ZELAspectTokenFieldPopUpOptionsDelegate() = default;
    virtual void aspectTokenFieldPopUpOptionsChanged(ZELAspectTokenFieldPopUpOptionsController& controller) = 0;
    virtual void aspectTokenFieldPopUpWindowClosed(ZELAspectTokenFieldPopUpOptionsController& controller) = 0;
};

// The small pop-up of a token's options: a "NOT" check box and, with two groups or more, one
// "Search <group>" check box per group. At least one group stays checked: unchecking the last
// one is refused, since criteria searched in no group would silently match nothing. Owned by
// the field that opened it (its delegate, held without ownership); GUI thread only.
class ZELAspectTokenFieldPopUpOptionsController : public QObject {
    Q_OBJECT

public:
    using GroupList = std::vector<std::shared_ptr<ZELAspectTokenFieldGroup>>;

    ZELAspectTokenFieldPopUpOptionsController(bool isNegationApplied, GroupList allGroups,
                                              GroupList enabledGroups, GroupList selectedGroups,
                                              ZELAspectTokenFieldPopUpOptionsDelegate* delegate);
    ~ZELAspectTokenFieldPopUpOptionsController() override;

    bool isNegationApplied() const { return isNegationApplied_; }
    const GroupList& allAspectGroups() const { return allGroups_; }
    const GroupList& enabledAspectGroups() const { return enabledGroups_; }
    const GroupList& selectedAspectGroups() const { return selectedGroups_; }

    void setWindowTitle(const QString& title);
    // Shows the pop-up with its top-left corner at the point.
    void popUpOptionsAtOrigin(QPoint globalPosition);
    // Hides it; the delegate is told once that it closed.
    void dismissPopUpWindow();

    QFrame* popup() const { return popup_; }
    // The check boxes: "NOT" first, then one per group.
    const std::vector<QCheckBox*>& checkBoxes() const { return checkBoxes_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void checkboxOptionWasToggled(QCheckBox* box);
    void reportClosed();

    ZELAspectTokenFieldPopUpOptionsDelegate* delegate_;  // not owned
    bool isNegationApplied_;
    GroupList allGroups_;
    GroupList enabledGroups_;
    GroupList selectedGroups_;
    QFrame* popup_ = nullptr;  // owned (a pop-up window has no parent)
    std::vector<QCheckBox*> checkBoxes_;
    bool isOpen_ = false;
};

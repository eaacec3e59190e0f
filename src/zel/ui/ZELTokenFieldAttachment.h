#pragma once

#include <memory>
#include <variant>

#include "zel/platform/ZELString.h"
#include "zel/userquery/ZELStyledTitle.h"

class ZELUserCriteria;

// One token of a search field: its title, the object it stands for (criteria, or a string
// while typed text is being converted), whether it is transitory (alternatives picked but not
// committed) and whether it has options (a small triangle at its right end). The field's text
// holds it in the character format of one U+FFFC character; its size arithmetic lives here so
// that it needs no window. Shared by the field's text and the field; GUI thread only.
class ZELTokenFieldAttachment {
public:
    using RepresentedObject = std::variant<std::shared_ptr<ZELUserCriteria>, ZELString>;

    // Space around the title, in points: the pill's ends.
    static constexpr double titlePadding = 20;
    // The triangle's hot area: this wide, its left edge this far left of the token's right edge.
    static constexpr double contextualMenuWidth = 7;
    static constexpr double contextualMenuInset = 17;
    // A transitory token is this much narrower: its pill stays open to the right.
    static constexpr double transitoryShortening = 8;
    // A click within this distance left of the hot area still opens the options.
    static constexpr double contextualMenuClickSlack = 3;

    static std::shared_ptr<ZELTokenFieldAttachment> attachment(ZELStyledTitle title,
                                                               RepresentedObject object);
    ZELTokenFieldAttachment(ZELStyledTitle title, RepresentedObject object);

    const ZELStyledTitle& title() const { return title_; }
    void setTitle(ZELStyledTitle title) { title_ = std::move(title); }
    ZELString titleString() const { return title_.plainText(); }
    const RepresentedObject& representedObject() const { return object_; }
    void setRepresentedObject(RepresentedObject object) { object_ = std::move(object); }
    // The criteria the token stands for; null for a string token.
    std::shared_ptr<ZELUserCriteria> criteria() const;
    bool isTransitory() const { return isTransitory_; }
    void setIsTransitory(bool flag) { isTransitory_ = flag; }
    bool hasContextualMenu() const { return hasContextualMenu_; }
    void setHasContextualMenu(bool flag) { hasContextualMenu_ = flag; }

    // The token's width for a title of `titleWidth` points.
    double widthForTitleWidth(double titleWidth) const;
    // The left edge of the triangle's hot area for a token whose right edge is `right`.
    static double contextualMenuLeft(double right) { return right - contextualMenuInset; }
    // A click at x opens the options of a token spanning [left, right).
    bool isContextualMenuClick(double x, double right) const;

private:
    ZELStyledTitle title_;
    RepresentedObject object_;
    bool isTransitory_ = false;
    bool hasContextualMenu_ = false;
};

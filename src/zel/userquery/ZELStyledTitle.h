#pragma once

#include <string>
#include <vector>

#include "zel/platform/ZELString.h"

// The title of a search token as styled runs: each run is text in one of two styles. The core
// keeps only the style's role; the widget layer turns it into a font and a colour with
// `fontChoices` (the first font it has wins) and `colour`. A plain value; any thread.
class ZELStyledTitle {
public:
    enum class Style {
        Term,      // the terms and the group prefix
        Operator,  // "OR", "NOT", "Disabled", parentheses
    };

    // A font as data: a family name and a size in points. The family "" means the system's
    // label font.
    struct Font {
        std::string family;
        double pointSize;
        friend bool operator==(const Font&, const Font&) = default;
    };
    // Red, green, blue, alpha, each 0 to 1.
    struct Colour {
        double red, green, blue, alpha;
        friend bool operator==(const Colour&, const Colour&) = default;
    };

    struct Run {
        ZELString text;
        Style style;
        friend bool operator==(const Run&, const Run&) = default;
    };

    // Term: the label font at 13 points. Operator: "Monaco" 9 pt, else "Courier" 10 pt, else
    // the label font at 9 pt.
    static std::vector<Font> fontChoices(Style style);
    // Term: opaque white. Operator: red 1.0, green 1.0, blue 0.4, opaque.
    static Colour colour(Style style);

    // Appends a run; empty text is skipped and a run in the style of the last one is merged
    // into it.
    void append(const ZELString& text, Style style);
    void append(const char16_t* text, Style style) { append(ZELString(text), style); }
    // Puts a run in front (merging as append does).
    void prepend(const ZELString& text, Style style);

    const std::vector<Run>& runs() const { return runs_; }
    // The texts of the runs, joined.
    ZELString plainText() const;

    friend bool operator==(const ZELStyledTitle&, const ZELStyledTitle&) = default;

private:
    std::vector<Run> runs_;
};

#include "zel/userquery/ZELStyledTitle.h"

std::vector<ZELStyledTitle::Font> ZELStyledTitle::fontChoices(Style style) {
    if (style == Style::Term) return {{"", 13.0}};
    return {{"Monaco", 9.0}, {"Courier", 10.0}, {"", 9.0}};
}

ZELStyledTitle::Colour ZELStyledTitle::colour(Style style) {
    if (style == Style::Term) return {1.0, 1.0, 1.0, 1.0};
    return {1.0, 1.0, 0.4, 1.0};
}

void ZELStyledTitle::append(const ZELString& text, Style style) {
    if (text.empty()) return;
    if (!runs_.empty() && runs_.back().style == style) {
        runs_.back().text += text;
    } else {
        runs_.push_back({text, style});
    }
}

void ZELStyledTitle::prepend(const ZELString& text, Style style) {
    if (text.empty()) return;
    if (!runs_.empty() && runs_.front().style == style) {
        runs_.front().text.insert(0, text);
    } else {
        runs_.insert(runs_.begin(), Run{text, style});
    }
}

ZELString ZELStyledTitle::plainText() const {
    ZELString text;
    for (const Run& run : runs_) text += run.text;
    return text;
}

#include "zel/ui/ZELTokenTextForms.h"

#include <algorithm>

#include "zel/userquery/ZELUserCriteria.h"

ZELString ZELTokenTextForms::plainTextForPieces(const std::vector<Piece>& pieces) {
    ZELString text;
    for (const Piece& piece : pieces) {
        if (const auto* string = std::get_if<ZELString>(&piece)) {
            text += *string;
        } else if (const auto& criteria = std::get<std::shared_ptr<ZELUserCriteria>>(piece)) {
            text += u' ';
            for (size_t i = 0; i < criteria->searchTerms().size(); ++i) {
                if (i) text += u' ';
                text += criteria->searchTerms()[i];
            }
            text += u' ';
        }
    }
    return text;
}

ZELString ZELTokenTextForms::selectorTableText(const std::vector<std::vector<ZELString>>& columns) {
    size_t rows = 0;
    for (const auto& column : columns) rows = std::max(rows, column.size());
    ZELString text;
    for (size_t row = 0; row < rows; ++row) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i) text += u'\t';
            if (row < columns[i].size()) text += columns[i][row];
        }
        text += u'\n';
    }
    return text;
}

ZELString ZELTokenTextForms::selectorListText(const std::vector<ZELString>& displayStrings) {
    ZELString text;
    for (size_t i = 0; i < displayStrings.size(); ++i) {
        if (i) text += u'\n';
        text += displayStrings[i];
    }
    return text;
}

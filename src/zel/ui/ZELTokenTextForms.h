#pragma once

#include <memory>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/ui/ZELTokenFieldAttachment.h"

class ZELCompletionList;

// The plain-text forms a search field puts on the clipboard. Stateless; any thread.
class ZELTokenTextForms {
public:
    // One piece of a selection: a token's object, or plain text.
    using Piece = ZELTokenFieldAttachment::RepresentedObject;

    // Copy: each criteria token as " terms " (its search terms joined by spaces), plain text
    // as it stands. Negation and groups are not in this form; the query form carries them.
    static ZELString plainTextForPieces(const std::vector<Piece>& pieces);

    // Copy Selector List: the display strings, one a line.
    static ZELString selectorListText(const std::vector<ZELString>& displayStrings);

    // Copy Selector List of several lists side by side: row by row, the columns' strings
    // joined by tabs (empty where a column is shorter), each row ended by a line feed.
    static ZELString selectorTableText(const std::vector<std::vector<ZELString>>& columns);
};

// The search field's clipboard: copied tokens travel as plain text and as a user query, and
// pasted text becomes tokens where its words are known completions.

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTextCursor>

#include "zel/database/ZELAspect.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/ui/ZELAspectTokenField.h"
#include "zel/ui/ZELTokenObjectRenderer.h"
#include "zel/ui/ZELTokenTextForms.h"
#include "zel/userquery/ZELTokenCriteriaMaker.h"
#include "zel/userquery/ZELUserQuery.h"

namespace {

QString qString(const ZELString& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

ZELString zelString(const QString& text) {
    return ZELString(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

}  // namespace

QMimeData* ZELAspectTokenField::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    std::vector<ZELTokenTextForms::Piece> pieces;
    auto query = ZELUserQuery::query();
    QString plain;
    for (int position = cursor.selectionStart(); position < cursor.selectionEnd(); ++position) {
        if (const auto attachment = attachmentAt(position)) {
            if (!plain.isEmpty()) pieces.emplace_back(zelString(plain));
            plain.clear();
            pieces.push_back(attachment->representedObject());
            if (auto criteria = attachment->criteria(); criteria && !attachment->isTransitory()) {
                query->addUserCriterias({criteria});
            }
        } else {
            plain += document()->characterAt(position);
        }
    }
    if (!plain.isEmpty()) pieces.emplace_back(zelString(plain));
    auto* data = new QMimeData;
    data->setText(qString(ZELTokenTextForms::plainTextForPieces(pieces)));
    std::string xml;
    if (!query->isEmpty() && ZELPropertyList::xmlData(query->plistSerialization(), &xml, nullptr)) {
        data->setData(userQueryMimeType, QByteArray(xml.data(), static_cast<qsizetype>(xml.size())));
    }
    return data;
}

bool ZELAspectTokenField::canInsertFromMimeData(const QMimeData* source) const {
    return source->hasFormat(userQueryMimeType) || source->hasText();
}

std::vector<ZELAspectTokenField::Object> ZELAspectTokenField::tokenizeUserInput(const ZELString& text,
                                                                               ZELString* outPlainRest) {
    std::vector<Object> objects;
    for (const ZELString& piece : userInputTokenizer_->tokensForUserInput(text)) {
        if (piece.empty()) continue;
        AspectList aspects;
        const auto completions = completionsForInput(piece, 1, nullptr, &aspects);
        if (!completions.empty() && ZELNormalizedCaseInsensitiveComparisonString(completions.front()) ==
                                        ZELNormalizedCaseInsensitiveComparisonString(piece)) {
            objects.push_back(ZELTokenCriteriaMaker::criteriaForCompletions(
                {completions.front()}, std::nullopt, aspects, groups_));
        } else {
            if (!outPlainRest->empty()) *outPlainRest += u' ';
            *outPlainRest += piece;
        }
    }
    return objects;
}

void ZELAspectTokenField::insertFromMimeData(const QMimeData* source) {
    cancelBackgroundCollection();
    QTextCursor cursor = textCursor();
    cursor.removeSelectedText();
    setTextCursor(cursor);
    std::vector<Object> objects = tokenRepresentedObjects(true);
    ZELString plain;
    if (!objects.empty() && std::holds_alternative<ZELString>(objects.back())) {
        plain = std::get<ZELString>(objects.back());
        objects.pop_back();
    }

    // The query form first: it keeps negation, groups and alternatives.
    const QByteArray xml = source->data(userQueryMimeType);
    ZELValue plist;
    ZELDatabase* database = aspects_.empty() ? nullptr : aspects_.front()->database();
    if (!xml.isEmpty() && database &&
        ZELPropertyList::readData(reinterpret_cast<const uint8_t*>(xml.data()),
                                  static_cast<size_t>(xml.size()), "clipboard", &plist, nullptr)) {
        if (auto query = ZELUserQuery::queryWithPlistSerialization(plist, *database, nullptr)) {
            for (const auto& pasted : query->userCriterias()) {
                if (auto criteria =
                        ZELTokenCriteriaMaker::criteriaFromSourceCriteria(*pasted, pasted->searchTerms(), groups_)) {
                    objects.push_back(criteria);
                }
            }
            objects.push_back(plain);
            setTokenRepresentedObjects(objects, nullptr);
            return;
        }
    }
    ZELString rest;
    for (auto& object : tokenizeUserInput(zelString(source->text()), &rest)) objects.push_back(std::move(object));
    if (!rest.empty()) plain = plain.empty() ? rest : plain + u' ' + rest;
    objects.push_back(plain);
    setTokenRepresentedObjects(objects, nullptr);
}

void ZELAspectTokenField::forceTokenization() {
    std::vector<Object> objects = tokenRepresentedObjects(true);
    if (objects.empty() || !std::holds_alternative<ZELString>(objects.back())) return;
    const ZELString typed = std::get<ZELString>(objects.back());
    objects.pop_back();
    ZELString rest;
    for (auto& object : tokenizeUserInput(typed, &rest)) objects.push_back(std::move(object));
    objects.push_back(rest);
    setTokenRepresentedObjects(objects, nullptr);
}

void ZELAspectTokenField::copyCompletionList() {
    cancelBackgroundCollection();
    const auto completions = completionsForInput(completionPrefix().prefix,
                                                 ZELCompletionCollector::noLimit, nullptr, nullptr);
    if (completions.empty()) {
        QApplication::beep();
        return;
    }
    QApplication::clipboard()->setText(qString(ZELTokenTextForms::selectorListText(completions)));
}

#include "zel/ui/ZELAspectTokenField.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include "zel/database/ZELAspect.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"
#include "zel/ui/ZELAspectBitTokenDelegate.h"
#include "zel/ui/ZELCompletionListWindowController.h"
#include "zel/ui/ZELMainQueueBridge.h"
#include "zel/ui/ZELTokenObjectRenderer.h"
#include "zel/userquery/ZELTokenCriteriaMaker.h"
#include "zel/userquery/ZELUserQuery.h"

namespace {

ZELString zelString(const QString& text) {
    return ZELString(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

}  // namespace

ZELAspectTokenField::ZELAspectTokenField(QWidget* parent) : QTextEdit(parent) {
    ZELMainQueueBridge::install();
    document()->documentLayout()->registerHandler(ZELTokenObjectRenderer::objectType,
                                                  new ZELTokenObjectRenderer(this));
    document()->setDocumentMargin(2);
    setLineWrapMode(QTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAcceptRichText(false);
    setTabChangesFocus(false);
    const int lineHeight = QFontMetrics(ZELTokenObjectRenderer::fontForStyle(ZELStyledTitle::Style::Term)).height();
    setFixedHeight(lineHeight + 14);
    userInputTokenizer_ = ZELTokenizer::tokenizer<ZELWhitespaceTokenizer>();
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (!isRebuilding_) textDidChange();
    });
}

ZELAspectTokenField::~ZELAspectTokenField() {
    cancelBackgroundCollection();
    if (listController_) listController_->invalidate();
}

// ---- Host settings ----

void ZELAspectTokenField::addAspectGroup(const AspectList& aspects, std::optional<ZELString> label) {
    for (const auto& aspect : aspects) {
        if (std::find(aspects_.begin(), aspects_.end(), aspect) == aspects_.end()) aspects_.push_back(aspect);
    }
    groups_.push_back(ZELAspectTokenFieldGroup::groupWithAspects(aspects, std::move(label)));
}

void ZELAspectTokenField::setLimitedAspectIdentifiers(std::set<ZELString> identifiers,
                                                      const ZELString& prefix) {
    narrowing_.setLimitedAspectIdentifiers(std::move(identifiers), prefix);
}

void ZELAspectTokenField::setUserInputTokenizer(std::shared_ptr<ZELTokenizer> tokenizer) {
    userInputTokenizer_ = std::move(tokenizer);
}

std::shared_ptr<ZELItemResultSet> ZELAspectTokenField::activeItemResultSet() {
    return tokenDelegate_ ? tokenDelegate_->aspectBitTokenFieldActiveItemResultSet(*this) : nullptr;
}

std::shared_ptr<ZELQuery> ZELAspectTokenField::activeQuery() {
    return tokenDelegate_ ? tokenDelegate_->aspectBitTokenFieldActiveQuery(*this) : nullptr;
}

// ---- Text and tokens ----

ZELCompletionPrefix ZELAspectTokenField::completionPrefix() const {
    const QTextCursor cursor = textCursor();
    return ZELCompletionPrefix::atCaret(zelString(document()->toRawText()),
                                        static_cast<size_t>(cursor.selectionStart()));
}

std::shared_ptr<ZELTokenFieldAttachment> ZELAspectTokenField::attachmentAt(int position) const {
    if (position < 0 || document()->characterAt(position) != QChar::ObjectReplacementCharacter) {
        return nullptr;
    }
    QTextCursor cursor(document());
    cursor.setPosition(position + 1);
    return ZELTokenObjectRenderer::attachmentForFormat(cursor.charFormat());
}

QRect ZELAspectTokenField::tokenRect(int position) const {
    QTextCursor before(document());
    before.setPosition(position);
    QTextCursor after(document());
    after.setPosition(position + 1);
    const QRect left = cursorRect(before);
    const QRect right = cursorRect(after);
    return QRect(QPoint(left.left(), left.top()), QPoint(right.left(), left.bottom()));
}

std::vector<ZELAspectTokenField::Object> ZELAspectTokenField::tokenRepresentedObjects(
    bool includePlainStrings) const {
    std::vector<Object> objects;
    QString lastPlain;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextFragment piece = fragment.fragment();
            const auto attachment = ZELTokenObjectRenderer::attachmentForFormat(piece.charFormat());
            if (!attachment) {
                lastPlain = piece.text();
                continue;
            }
            if (attachment->isTransitory()) continue;
            for (int i = 0; i < piece.length(); ++i) {
                if (attachment->criteria() || includePlainStrings) {
                    objects.push_back(attachment->representedObject());
                }
            }
        }
    }
    if (includePlainStrings && !lastPlain.isEmpty()) objects.push_back(zelString(lastPlain));
    return objects;
}

void ZELAspectTokenField::setTokenRepresentedObjects(const std::vector<Object>& objects,
                                                     const std::shared_ptr<ZELUserCriteria>& transitory) {
    isRebuilding_ = true;
    clear();
    QTextCursor cursor(document());
    ZELString plain;
    for (const Object& object : objects) {
        if (const auto* string = std::get_if<ZELString>(&object)) {
            plain = *string;
            continue;
        }
        const auto& criteria = std::get<std::shared_ptr<ZELUserCriteria>>(object);
        auto attachment = ZELTokenFieldAttachment::attachment(criteria->displayTitle(), criteria);
        attachment->setHasContextualMenu(true);
        cursor.insertText(QString(QChar::ObjectReplacementCharacter),
                          ZELTokenObjectRenderer::formatForAttachment(std::move(attachment)));
    }
    if (transitory) {
        auto attachment = ZELTokenFieldAttachment::attachment(transitory->displayTitleWithTransitory(true),
                                                              transitory);
        attachment->setIsTransitory(true);
        cursor.insertText(QString(QChar::ObjectReplacementCharacter),
                          ZELTokenObjectRenderer::formatForAttachment(std::move(attachment)));
    }
    cursor.insertText(QString::fromUtf16(plain.data(), static_cast<qsizetype>(plain.size())),
                      QTextCharFormat());
    setTextCursor(cursor);
    hadTransitoryCriteria_ = transitory != nullptr;
    isRebuilding_ = false;
    ensureCursorVisible();
    textDidChange();
}

void ZELAspectTokenField::textDidChange() {
    if (isCompletionListShown()) {
        bool hasTransitory = false;
        const QString raw = document()->toRawText();
        for (int i = 0; i < raw.size() && !hasTransitory; ++i) {
            const auto attachment = attachmentAt(i);
            hasTransitory = attachment && attachment->isTransitory();
        }
        if (hadTransitoryCriteria_ && !hasTransitory)
            completionListWindowController()->clearSelection();
        updateCompletionListWithMaximumCount(completionListCount, true);
    } else if (showOnTyping_ && !completionPrefix().prefix.empty()) {
        showCompletionList();
    }
    if (document()->isEmpty()) {
        showOnTyping_ = true;
        setCurrentCharFormat(QTextCharFormat());
    }
    scheduleDetectQueryChanged();
    if (tokenDelegate_) tokenDelegate_->aspectBitTokenFieldDidChangeText(*this);
}

// ---- Query-change detection ----

void ZELAspectTokenField::scheduleDetectQueryChanged() {
    if (isScanScheduled_) return;
    isScanScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        if (isScanScheduled_) detectQueryChanged();
    });
}

void ZELAspectTokenField::detectQueryChanged() {
    isScanScheduled_ = false;
    CriteriaList criteria;
    for (const Object& object : tokenRepresentedObjects(false)) {
        criteria.push_back(std::get<std::shared_ptr<ZELUserCriteria>>(object));
    }
    const bool same = criteria.size() == lastCriteria_.size() &&
                      std::equal(criteria.begin(), criteria.end(), lastCriteria_.begin(),
                                 [](const auto& a, const auto& b) { return a->isEqual(*b); });
    if (same) return;
    lastCriteria_ = std::move(criteria);
    if (tokenDelegate_) tokenDelegate_->aspectBitTokenFieldDidChangeQuery(*this);
}

const ZELAspectTokenField::CriteriaList& ZELAspectTokenField::stableTokenRepresentedObjects() {
    if (isScanScheduled_ && !hasFocus()) detectQueryChanged();
    return lastCriteria_;
}

std::shared_ptr<ZELUserQuery> ZELAspectTokenField::generatedUserQuery() {
    auto query = ZELUserQuery::query();
    query->addUserCriterias(stableTokenRepresentedObjects());
    return query;
}

void ZELAspectTokenField::setCriteriaFromUserQuery(const ZELUserQuery& query,
                                                   std::set<const ZELUserCriteria*>* claimed) {
    setTokenRepresentedObjects({}, nullptr);
    for (const auto& source : query.userCriterias()) {
        if (claimed && claimed->count(source.get())) continue;
        if (addCriteriaFromTokenRepresentedObject(*source) && claimed) claimed->insert(source.get());
    }
}

bool ZELAspectTokenField::addCriteriaFromTokenRepresentedObject(const ZELUserCriteria& source) {
    const auto& terms = source.displaySearchTerms() ? *source.displaySearchTerms() : source.searchTerms();
    auto criteria = ZELTokenCriteriaMaker::criteriaFromSourceCriteria(source, terms, groups_);
    if (!criteria) return false;
    std::vector<Object> objects = tokenRepresentedObjects(true);
    const auto plainAt = !objects.empty() && std::holds_alternative<ZELString>(objects.back())
                             ? objects.end() - 1
                             : objects.end();
    objects.emplace(plainAt, std::in_place_index<0>, std::move(criteria));
    setTokenRepresentedObjects(objects, nullptr);
    return true;
}

void ZELAspectTokenField::transferCriteriaToOrderedTokenFields(const std::vector<ZELAspectTokenField*>& fields) {
    for (const Object& object : tokenRepresentedObjects(false)) {
        const auto& criteria = std::get<std::shared_ptr<ZELUserCriteria>>(object);
        for (ZELAspectTokenField* field : fields) {
            if (field->addCriteriaFromTokenRepresentedObject(*criteria)) break;
        }
    }
}

void ZELAspectTokenField::transferCriteriaFromTokenFields(const std::vector<ZELAspectTokenField*>& fields) {
    auto query = ZELUserQuery::query();
    for (ZELAspectTokenField* field : fields) {
        for (const Object& object : field->tokenRepresentedObjects(false)) {
            query->addUserCriterias({std::get<std::shared_ptr<ZELUserCriteria>>(object)});
        }
    }
    setCriteriaFromUserQuery(*query);
}

std::map<ZELString, ZELAspectTokenField::AspectList> ZELAspectTokenField::searchTermAspectMap() const {
    std::map<ZELString, AspectList> map;
    for (const Object& object : tokenRepresentedObjects(false)) {
        const auto& criteria = std::get<std::shared_ptr<ZELUserCriteria>>(object);
        for (const ZELString& term : criteria->searchTerms()) {
            AspectList& aspects = map[term];
            for (const auto& aspect : criteria->chosenAspects()) {
                if (std::find(aspects.begin(), aspects.end(), aspect) == aspects.end()) aspects.push_back(aspect);
            }
        }
    }
    return map;
}

void ZELAspectTokenField::updateEnabledState() {
    if (!enabledStateAspect_) return;
    const auto resultSet = activeItemResultSet();
    const auto viable = resultSet ? resultSet->viableAspectBitIDs() : nullptr;
    const ZELID yes = enabledStateAspect_->aspectBitIDForValue(u"yes", false);
    const bool editable = !viable || (yes != 0 && viable->containsID(yes));
    setReadOnly(!editable);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, editable ? Qt::white : QColor::fromRgbF(0.9f, 0.9f, 0.9f));
    setPalette(colours);
    // An empty field that cannot be edited counts as disabled: it does not take the focus.
    setFocusPolicy(!editable && document()->isEmpty() ? Qt::NoFocus : Qt::StrongFocus);
}

// ---- Events ----

void ZELAspectTokenField::modifiersDidChange(QKeyEvent* event, bool pressed) {
    Qt::KeyboardModifier modifier = Qt::NoModifier;
    switch (event->key()) {
        case Qt::Key_Shift: modifier = Qt::ShiftModifier; break;
        case Qt::Key_Control: modifier = Qt::ControlModifier; break;
        case Qt::Key_Alt: modifier = Qt::AltModifier; break;
        default: return;
    }
    modifiers_.setFlag(modifier, pressed);
    forEachCompletionListWindowController([&](ZELCompletionListWindowController& list) {
        list.tokenFieldEventFlagsDidChange(modifiers_);
    });
}

void ZELAspectTokenField::keyPressEvent(QKeyEvent* event) {
    const bool shown = isCompletionListShown();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            commitSelectedOrFirstCompletion();
            return;
        case Qt::Key_Tab:
            if (!commitSelectedOrFirstCompletion()) focusNextChild();
            return;
        case Qt::Key_Backtab:
            focusPreviousChild();
            return;
        case Qt::Key_Down:
            if (shown) {
                completionListWindowController()->selectNextCompletion(shift);
            } else if (const auto attachment = attachmentAt(textCursor().position() - 1);
                       attachment && attachment->hasContextualMenu()) {
                const QRect rect = tokenRect(textCursor().position() - 1);
                showOptionsForAttachment(attachment, mapToGlobal(viewport()->mapTo(this, rect.bottomRight())));
            } else {
                showCompletionList();
            }
            return;
        case Qt::Key_Up:
            if (shown) completionListWindowController()->selectPreviousCompletion(shift);
            return;
        case Qt::Key_Escape:
            if (!shown) {
                showCompletionList();
            } else {
                completionListWindowController()->clearSelection();
                hideCompletionList();
            }
            return;
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
            modifiersDidChange(event, true);
            return;
        default:
            QTextEdit::keyPressEvent(event);
    }
}

void ZELAspectTokenField::keyReleaseEvent(QKeyEvent* event) {
    modifiersDidChange(event, false);
    QTextEdit::keyReleaseEvent(event);
}

void ZELAspectTokenField::focusInEvent(QFocusEvent* event) {
    QTextEdit::focusInEvent(event);
    if (event->reason() == Qt::PopupFocusReason) return;
    focusTime_.start();
    if (showOnFocus_ || activeItemResultSet()) {
        showOnTyping_ = false;
        showCompletionList();
    } else {
        showOnTyping_ = true;
    }
}

void ZELAspectTokenField::focusOutEvent(QFocusEvent* event) {
    QTextEdit::focusOutEvent(event);
    // A pop-up of the field's own (the list, the options) takes the keyboard without taking
    // the caret.
    if (event->reason() == Qt::PopupFocusReason) return;
    // Commit only what was picked: typed text nobody picked stays in the field, to be edited
    // or completed later, rather than being thrown away.
    if (isCompletionListShown() && completionListWindowController()->hasSelectedCompletion())
        commitCompletion();
    hideCompletionList();
    if (isScanScheduled_) detectQueryChanged();
}

void ZELAspectTokenField::mousePressEvent(QMouseEvent* event) {
    const int position = document()->documentLayout()->hitTest(
        event->position() + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value()),
        Qt::ExactHit);
    if (event->button() == Qt::LeftButton) {
        if (const auto attachment = attachmentAt(position)) {
            const QRect rect = tokenRect(position);
            if (attachment->isContextualMenuClick(event->position().x(), rect.right() + 1)) {
                showOptionsForAttachment(
                    attachment, mapToGlobal(viewport()->mapTo(this, QPoint(rect.right(), rect.center().y()))));
                return;
            }
        }
    }
    const int caret = textCursor().position();
    const bool hadSelection = textCursor().hasSelection();
    QTextEdit::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    // The click that gave the field the focus has shown the list already (when it shows on
    // focus); it must not toggle it away again.
    const bool isBecomingFocus = focusTime_.isValid() && focusTime_.elapsed() < becomingFocusMilliseconds;
    if (textCursor().hasSelection()) {
        hideCompletionList();
    } else if (!hadSelection && textCursor().position() == caret && !isBecomingFocus) {
        if (isCompletionListShown()) {
            hideCompletionList();
            showOnTyping_ = true;
        } else {
            showCompletionList();
        }
    } else if (hadSelection) {
        showCompletionList();
    }
}

void ZELAspectTokenField::contextMenuEvent(QContextMenuEvent* event) {
    const int position = document()->documentLayout()->hitTest(
        QPointF(event->pos()) + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value()),
        Qt::ExactHit);
    if (const auto attachment = attachmentAt(position); attachment && attachment->hasContextualMenu()) {
        showOptionsForAttachment(attachment, event->globalPos());
        return;
    }
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    // A one-line search field keeps the plain editing items: no submenus (input methods,
    // control characters), no doubled or trailing separators.
    QAction* kept = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->menu() || (action->isSeparator() && (!kept || kept->isSeparator()))) {
            menu->removeAction(action);
        } else {
            kept = action;
        }
    }
    if (kept && kept->isSeparator()) menu->removeAction(kept);
    QAction* copy = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->objectName() == QLatin1String("edit-copy")) copy = action;
    }
    auto* selectorList = new QAction(tr("Copy Selector List"), menu.get());
    connect(selectorList, &QAction::triggered, this, [this] { copyCompletionList(); });
    const auto actions = menu->actions();
    const int copyIndex = copy ? static_cast<int>(actions.indexOf(copy)) : -1;
    menu->insertAction(copyIndex >= 0 && copyIndex + 1 < actions.size() ? actions[copyIndex + 1] : nullptr,
                       selectorList);
    menu->exec(event->globalPos());
}

// ---- Completion list ----

ZELCompletionListWindowController* ZELAspectTokenField::completionListWindowController() {
    if (!listController_) listController_ = std::make_unique<ZELCompletionListWindowController>(this);
    return listController_.get();
}

void ZELAspectTokenField::forEachCompletionListWindowController(
    const std::function<void(ZELCompletionListWindowController&)>& body) {
    if (listController_) body(*listController_);
}

void ZELAspectTokenField::showCompletionList() {
    updateCompletionListWithMaximumCount(completionListCount, false);
    completionListWindowController()->showCompletionList();
}

void ZELAspectTokenField::hideCompletionList() {
    if (listController_) listController_->hideCompletionList();
}

bool ZELAspectTokenField::isCompletionListShown() const {
    return listController_ && listController_->isWindowShown();
}

void ZELAspectTokenField::updateCompletionList() {
    updateCompletionListWithMaximumCount(completionListCount, false);
}

void ZELAspectTokenField::itemResultSetDidChange() {
    lastPrefix_.clear();
    lastPrefixLimit_ = 0;
    updateCompletionList();
    forEachCompletionListWindowController(
        [](ZELCompletionListWindowController& list) { list.invalidateEnabledCompletions(); });
    updateEnabledState();
}

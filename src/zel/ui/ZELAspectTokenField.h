#pragma once

#include <QElapsedTimer>
#include <QTextEdit>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/query/ZELCompletionList.h"
#include "zel/ui/ZELAspectTokenFieldPopUpOptionsController.h"
#include "zel/ui/ZELTokenFieldAttachment.h"
#include "zel/userquery/ZELAspectNarrowingPrefixes.h"
#include "zel/userquery/ZELCompletionPrefix.h"
#include "zel/userquery/ZELUserCriteria.h"

class ZELAspect;
class ZELAspectBitTokenDelegate;
class ZELCompletionCollector;
class ZELCompletionListWindowController;
class ZELItemResultSet;
class ZELQuery;
class ZELTokenizer;
class ZELUserQuery;

// The search field: a one-line text edit in which every finished criterion is a token and
// the criterion being typed is plain text after the last token. It completes the typed term
// from the database (limited to the host's current result) in a floating list, turns picked
// completions into criteria, and hands the host a user query. Each token is one U+FFFC
// character drawn by ZELTokenObjectRenderer.
//
// Owned by its parent widget; it owns its completion list window and its options pop-up and
// refers to its token delegate without owning it. GUI thread only; completions are collected
// on the collector's queue and applied here only while still current.
class ZELAspectTokenField : public QTextEdit, private ZELAspectTokenFieldPopUpOptionsDelegate {
    Q_OBJECT

public:
    using AspectList = ZELUserCriteria::AspectList;
    using GroupList = ZELUserCriteria::GroupList;
    using CriteriaList = std::vector<std::shared_ptr<ZELUserCriteria>>;
    using Object = ZELTokenFieldAttachment::RepresentedObject;

    // The clipboard type of copied tokens: the XML property list of a user query holding
    // their criteria, so that negation, groups and alternatives survive a paste.
    static constexpr const char* userQueryMimeType = "application/x-zel-user-query+xml";
    // How many completions the list asks for.
    static constexpr uint64_t completionListCount = 100;
    // After this long, a collection still running shows "[Loading Completions...]".
    static constexpr int loadingStatusDelayMilliseconds = 200;
    // A click this soon after the field took the focus does not toggle the list.
    static constexpr int becomingFocusMilliseconds = 100;

    explicit ZELAspectTokenField(QWidget* parent = nullptr);
    ~ZELAspectTokenField() override;

    // ---- Host settings ----

    ZELAspectBitTokenDelegate* tokenDelegate() const { return tokenDelegate_; }
    void setTokenDelegate(ZELAspectBitTokenDelegate* delegate) { tokenDelegate_ = delegate; }
    // Adds the aspects to the field's aspects and appends a group of them.
    void addAspectGroup(const AspectList& aspects, std::optional<ZELString> label);
    const AspectList& aspects() const { return aspects_; }
    const GroupList& aspectGroups() const { return groups_; }
    // A typed prefix that narrows the completions to the aspects named.
    void setLimitedAspectIdentifiers(std::set<ZELString> identifiers, const ZELString& prefix);
    bool useDisjunctionBehavior() const { return useDisjunctionBehavior_; }
    void setUseDisjunctionBehavior(bool flag) { useDisjunctionBehavior_ = flag; }
    void setAlwaysShowCompletionListOnBecomeFirstResponder(bool flag) { showOnFocus_ = flag; }
    const std::shared_ptr<ZELTokenizer>& userInputTokenizer() const { return userInputTokenizer_; }
    void setUserInputTokenizer(std::shared_ptr<ZELTokenizer> tokenizer);
    // The aspect whose "yes" value, when the current result lacks it, makes the field read-only
    // (an empty read-only field also refuses the focus). Checked when the result set changes.
    void setEnabledStateAspect(std::shared_ptr<ZELAspect> aspect) { enabledStateAspect_ = std::move(aspect); }

    // ---- Criteria and queries ----

    // The token objects in order (criteria, or strings while converting), and with
    // `includePlainStrings` the trailing typed text last.
    std::vector<Object> tokenRepresentedObjects(bool includePlainStrings) const;
    // The criteria as of the last query-change detection (run first when one is due and the
    // field lacks the focus).
    const CriteriaList& stableTokenRepresentedObjects();
    std::shared_ptr<ZELUserQuery> generatedUserQuery();
    // Replaces the tokens with those of the query's criteria that fit the field's aspects and
    // are not in `claimed` yet; the criteria taken are added to `claimed` (when given).
    void setCriteriaFromUserQuery(const ZELUserQuery& query, std::set<const ZELUserCriteria*>* claimed = nullptr);
    // Appends a token for criteria of another field or query when they fit this field's
    // aspects; answers whether they did.
    bool addCriteriaFromTokenRepresentedObject(const ZELUserCriteria& source);
    // Offers each token to the fields in order; the first that accepts it takes it.
    void transferCriteriaToOrderedTokenFields(const std::vector<ZELAspectTokenField*>& fields);
    // Replaces the tokens with those of the other fields' criteria that fit.
    void transferCriteriaFromTokenFields(const std::vector<ZELAspectTokenField*>& fields);
    // Every search term of the tokens, with the aspects its criteria are searched in.
    std::map<ZELString, AspectList> searchTermAspectMap() const;
    // Turns the typed words that are known completions into tokens.
    void forceTokenization();
    // The host's result set changed: the completions are collected again.
    void itemResultSetDidChange();
    // The database's values changed: lists built from them are dropped as well.
    virtual void databaseDidChange() { itemResultSetDidChange(); }

    // ---- Completion list ----

    virtual void showCompletionList();
    virtual void hideCompletionList();
    virtual bool isCompletionListShown() const;
    void updateCompletionList();
    // The list that Up, Down and Escape act on (made on first use).
    virtual ZELCompletionListWindowController* completionListWindowController();
    // A background collection is running.
    bool isCollectingInBackground() const;
    // Copy Selector List: every completion of the typed term, one a line; beeps with none.
    virtual void copyCompletionList();

    // ---- Called by the completion list window ----

    // The completions of that list that may be picked; none when every one may.
    virtual std::optional<ZELCompletionList::CompletionSet> completionListEnabledCompletions(
        ZELCompletionListWindowController& list);
    // Gives criteria made from picked rows of that list their groups.
    virtual void completionListWillInsertCriteria(ZELCompletionListWindowController& list,
                                                  ZELUserCriteria& criteria);
    void completionListDidChangeRepresentedCriteria(std::shared_ptr<ZELUserCriteria> criteria,
                                                    bool clearExisting);
    void completionListDidChangeTransitoryCriteria(std::shared_ptr<ZELUserCriteria> criteria);
    void completionListRequestsClose() { hideCompletionList(); }
    void loadAdditionalCompletionsUpToCount(uint64_t count);

    // ---- Token options ----

    // Opens the options of a criteria token at `globalPosition` (once at a time).
    void showOptionsForAttachment(const std::shared_ptr<ZELTokenFieldAttachment>& attachment,
                                  QPoint globalPosition);
    ZELAspectTokenFieldPopUpOptionsController* popUpOptionsController() const { return optionsController_.get(); }

protected:
    // ---- Overridden by the fields over fixed lists ----

    // The completions of the typed `input`, at most `limit` (narrowed by a registered prefix);
    // the aspects searched go to `outAspects`.
    virtual std::shared_ptr<ZELCompletionList> completionListForUserInputPrefix(
        const ZELString& input, uint64_t limit, bool* outReachedLimit, AspectList* outAspects);
    // Shows the completions of `prefix`: the base collects them in the background and shows
    // them when they arrive.
    virtual void updateCompletionListInBackground(const ZELString& prefix, uint64_t limit,
                                                  bool showStatus);
    // Shows `list` in the completion list, with a warning when it is empty for a typed prefix.
    void setDisplayedCompletionList(std::shared_ptr<ZELCompletionList> list, bool more,
                                    const ZELString& prefix);
    std::shared_ptr<ZELItemResultSet> activeItemResultSet();
    std::shared_ptr<ZELQuery> activeQuery();
    // Calls `body` with every completion list window the field has made.
    virtual void forEachCompletionListWindowController(
        const std::function<void(ZELCompletionListWindowController&)>& body);
    // Refreshes the shown completions; with `allowInsertOnTerminal` a typed space may turn
    // the term into a token.
    virtual void updateCompletionListWithMaximumCount(uint64_t maximumCount,
                                                      bool allowInsertOnTerminal);
    // Return and Tab: commits the picked rows, or the first completion of the typed term.
    virtual bool commitSelectedOrFirstCompletion();
    ZELCompletionPrefix completionPrefix() const;
    // Deletes the typed term.
    void abortUnfinishedTextCompletion();

    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // ZELAspectTokenField.cpp: text, tokens and events.
    void setTokenRepresentedObjects(const std::vector<Object>& objects,
                                    const std::shared_ptr<ZELUserCriteria>& transitory);
    void textDidChange();
    void scheduleDetectQueryChanged();
    void detectQueryChanged();
    void modifiersDidChange(QKeyEvent* event, bool pressed);
    // The token whose character is at `position`, if any.
    std::shared_ptr<ZELTokenFieldAttachment> attachmentAt(int position) const;
    QRect tokenRect(int position) const;
    void updateEnabledState();

    // ZELAspectTokenField+Completion.cpp: collecting and committing.
    void cancelBackgroundCollection();
    void backgroundCollectionDidFinish(const std::shared_ptr<ZELCompletionCollector>& collector,
                                       std::vector<ZELString> completions, bool more);
    std::vector<ZELString> completionsForInput(const ZELString& input, uint64_t limit,
                                               bool* outReachedLimit, AspectList* outAspects);
    bool insertFirstCompletionForPrefix(const ZELString& prefix);
    bool commitCompletion();

    // ZELAspectTokenField+Pasteboard.cpp: the text forms of tokens.
    std::vector<Object> tokenizeUserInput(const ZELString& text, ZELString* outPlainRest);

    // ZELAspectTokenField+Options.cpp: the options pop-up's delegate.
    void aspectTokenFieldPopUpOptionsChanged(ZELAspectTokenFieldPopUpOptionsController& controller) override;
    void aspectTokenFieldPopUpWindowClosed(ZELAspectTokenFieldPopUpOptionsController& controller) override;

    ZELAspectBitTokenDelegate* tokenDelegate_ = nullptr;  // not owned
    AspectList aspects_;
    GroupList groups_;
    ZELAspectNarrowingPrefixes narrowing_;
    std::shared_ptr<ZELTokenizer> userInputTokenizer_;
    std::shared_ptr<ZELAspect> enabledStateAspect_;
    std::unique_ptr<ZELCompletionListWindowController> listController_;
    std::shared_ptr<ZELCompletionCollector> collector_;  // the running collection, if any
    ZELString lastPrefix_;
    uint64_t lastPrefixLimit_ = 0;
    CriteriaList lastCriteria_;
    std::unique_ptr<ZELAspectTokenFieldPopUpOptionsController> optionsController_;
    std::shared_ptr<ZELUserCriteria> optionsCriteria_;  // the criteria being edited
    bool hadTransitoryCriteria_ = false;
    bool useDisjunctionBehavior_ = false;
    bool showOnFocus_ = false;
    bool showOnTyping_ = true;
    bool isScanScheduled_ = false;
    bool isRebuilding_ = false;
    Qt::KeyboardModifiers modifiers_;
    QElapsedTimer focusTime_;  // since the field last took the focus
};

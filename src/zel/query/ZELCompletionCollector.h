#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"

class ZELAspect;
class ZELDatabase;
class ZELIDVector;
class ZELItemResultSet;

// Collects the completions of a typed prefix: the canonical strings of the aspect bit values,
// in one or more aspects, whose normalized form begins with the prefix, optionally only those
// that occur among the items of a result set. The aspects' answers are merged into one sorted
// list without duplicates; a term is folded into a longer term that it begins when both match
// exactly the same items; collection stops early once a count limit is reached and tells
// whether more existed. Runs synchronously, or once at a time on the shared serial queue
// "ZELCompletionCollectorQueue" with cancellation.
//
// Owned by its creator through std::shared_ptr (the background form needs that, to hand the
// collector to `notify`). Threads: configure it, collect and read its answer on one thread at
// a time; while a background collection runs, only cancelLoadCompletionsInBackground and
// isLoadingInBackground may be called (from any thread); the answer may be read in `notify`
// or after a cancel. The running and cancel flags are guarded by the collector's own lock.
class ZELCompletionCollector : public ZELObject {
public:
    using AspectList = std::vector<std::shared_ptr<ZELAspect>>;
    // Orders two strings (negative, 0, positive); also decides which neighbours are duplicates.
    using Comparison = std::function<int(std::u16string_view, std::u16string_view)>;
    using Notify = std::function<void(const std::shared_ptr<ZELCompletionCollector>& collector)>;

    // The default limitCount: no limit. 0 means no limit as well.
    static constexpr uint64_t noLimit = 0x7FFFFFFFFFFFFFFFull;
    // The interval at which a background collection tries the database lock again.
    static constexpr int lockPollMilliseconds = 200;

    static std::shared_ptr<ZELCompletionCollector> collector();
    // Use collector() for background collection.
    ZELCompletionCollector();
    // Cancels a background collection first (and waits for it to end).
    ~ZELCompletionCollector() override;
    ZELCompletionCollector(const ZELCompletionCollector&) = delete;
    ZELCompletionCollector& operator=(const ZELCompletionCollector&) = delete;

    // A new collector with those settings collects synchronously; answers its
    // completionCanonicalStrings and, when asked, its limitSurpassed. A null prefix collects
    // every value; a null result set limits nothing.
    static std::vector<ZELString> completionsForMatchingPrefix(
        const ZELString* prefix, const AspectList& aspects,
        std::shared_ptr<ZELItemResultSet> limitItemResultSet, uint64_t limitCount,
        bool* outReachedLimit);

    // ---- Settings ----

    uint64_t limitCount() const { return limitCount_; }
    void setLimitCount(uint64_t limitCount) { limitCount_ = limitCount; }
    const std::optional<ZELString>& limitCompletionPrefix() const { return prefix_; }
    void setLimitCompletionPrefix(std::optional<ZELString> prefix);
    // The prefix in the normalized case-insensitive form; none without a prefix.
    const std::optional<ZELString>& limitCompletionNormalizedPrefix() const { return normalizedPrefix_; }
    const std::shared_ptr<ZELItemResultSet>& limitItemResultSet() const { return resultSet_; }
    void setLimitItemResultSet(std::shared_ptr<ZELItemResultSet> resultSet) { resultSet_ = std::move(resultSet); }
    // The result set's viable aspect bit IDs; null without a result set and for one without
    // items. (The result set computes them once, taking the database lock.)
    std::shared_ptr<ZELIDVector> limitAspectBitValueIDs() const;
    // Default: compareZELLocalizedCaseInsensitive. An empty function sorts nothing; then only
    // identical neighbours are merged.
    const Comparison& completionSortSelector() const { return comparison_; }
    void setCompletionSortSelector(Comparison comparison) { comparison_ = std::move(comparison); }

    // ---- Answer ----

    // The merged, sorted completions of every collection so far (a collector that collects
    // twice answers both), at most limitCount of them.
    const std::vector<ZELString>& completionCanonicalStrings() const { return finalList_; }
    // More completions existed than limitCount.
    bool limitSurpassed() const { return limitSurpassed_; }
    // The database of the first aspect (not null) while a collection runs; null otherwise.
    ZELDatabase* database() const { return database_.load(); }

    // ---- Collecting ----

    // Collects over the aspects in their order, holding the database lock of the first
    // aspect's database for the whole walk (null aspects and aspects of another database are
    // passed over). The
    // lock is recursive: the caller may hold it already.
    void addCompletionsInAspects(const AspectList& aspects);
    // Starts a background collection on "ZELCompletionCollectorQueue" unless one is running
    // (then nothing happens and this `notify` is never called). When the collection ends
    // without being cancelled, notify(collector) is called on that queue. While another thread
    // holds the database lock, the collection tries again every lockPollMilliseconds.
    // Requires: the collector is owned by a std::shared_ptr.
    void loadCompletionsInBackgroundForAspects(const AspectList& aspects, Notify notify);
    // Stops a running background collection and waits for it to end. True when one was
    // running and was stopped before notifying; false when none ran or it had notified (or
    // was notifying: the call then waits until notify has returned). Called from inside
    // notify it answers false at once.
    bool cancelLoadCompletionsInBackground();
    bool isLoadingInBackground() const;

    std::string description() const override;

private:
    // A value of the current aspect waiting to join the final list. `items` (the items
    // carrying it, within the result set's items) is fetched only when a neighbour asks.
    struct Candidate {
        ZELString canonical;
        ZELID aspectBitID;
        std::shared_ptr<ZELIDVector> items;
    };
    struct BackgroundState;

    bool hasLimit() const { return limitCount_ != 0 && limitCount_ != noLimit; }
    bool isCancelled() const;
    // Takes the database lock as the collection's algorithm says; false when the collection
    // must end without collecting (cancelled while waiting, or the database is invalid).
    bool acquireDatabaseLock(ZELDatabase& database, bool inBackground);
    void collect(const AspectList& aspects, bool inBackground);
    // One value of the current aspect's enumeration; answers whether to stop.
    // Requires (this and itemsForValue): the database lock is held.
    bool addValue(ZELDatabase& database, const ZELString& normalized, const ZELString& canonical,
                  ZELID aspectBitID);
    // Moves the settled candidates (all with `final`, else all but the last, which may still
    // be folded into the next value) into the final list. False when this aspect cannot place
    // any further completion within the limit.
    bool drain(bool final);
    // Puts `completion` into the final list, which stays sorted by the comparison with no two
    // entries it finds equal: an equal entry is replaced (of equal values, the later one
    // stays), else the completion is inserted at its place; without a comparison it is
    // appended, replacing an identical last entry. Answers the completion's index and whether
    // it replaced an entry.
    size_t placeInFinalList(ZELString completion, bool* outReplaced);
    // The items carrying the value, within the result set's items when there is one.
    std::shared_ptr<ZELIDVector> itemsForValue(ZELDatabase& database, ZELID aspectBitID);
    static void runInBackground(ZELCompletionCollector* collector,
                                const std::weak_ptr<ZELObject>& weakCollector,
                                const std::shared_ptr<BackgroundState>& state);

    // Settings.
    uint64_t limitCount_ = noLimit;
    std::optional<ZELString> prefix_;
    std::optional<ZELString> normalizedPrefix_;
    std::shared_ptr<ZELItemResultSet> resultSet_;
    Comparison comparison_;

    // Answer and working state, used by the collecting thread only.
    std::vector<ZELString> finalList_;
    bool limitSurpassed_ = false;
    std::atomic<ZELDatabase*> database_{nullptr};
    std::shared_ptr<ZELIDVector> limitItemIDs_;  // the result set's items during a collection
    std::vector<Candidate> candidates_;  // the current aspect's values not yet in finalList_
    ZELString lastNormalized_;           // the normalized value of candidates_.back()
    uint64_t runningCount_ = 0;          // values the current aspect added

    // Background state, shared with the queued collection so that a collection that starts
    // after the collector was destroyed (possible only when the destructor ran on the queue's
    // own thread) can tell so and end without touching it.
    std::shared_ptr<BackgroundState> background_;
};

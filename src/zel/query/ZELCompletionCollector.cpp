#include "zel/query/ZELCompletionCollector.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELSerialQueue.h"
#include "zel/query/ZELCompletionList+Private.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/storage/ZELIDVectorArray.h"
#include "zel/tokenizer/ZELStringComparison.h"

// What a background collection shares with its queued task. `isRunning` spans from the
// request to the end of the task (notify included); `isNotifying` marks the call of notify,
// made without the lock so that notify may ask the collector about its state.
struct ZELCompletionCollector::BackgroundState {
    std::mutex lock;
    std::condition_variable changed;  // a run ended, or a cancel was asked
    bool isRunning = false;           // guarded by lock
    bool isNotifying = false;         // guarded by lock
    uint64_t generation = 0;          // guarded by lock; one per started run
    AspectList aspects;               // guarded by lock
    Notify notify;                    // guarded by lock
    // Written under lock; read between values by the collection without it.
    std::atomic<bool> cancelRequested{false};
};

namespace {

const char* const kCollectorQueueName = "ZELCompletionCollectorQueue";

// The starting size of the per-aspect working list without a usable limit.
constexpr uint64_t kDefaultPerAspectCapacity = 100;

std::shared_ptr<ZELSerialQueue> collectorQueue() {
    return ZELSerialQueue::named(kCollectorQueueName);
}

}  // namespace

std::shared_ptr<ZELCompletionCollector> ZELCompletionCollector::collector() {
    return std::make_shared<ZELCompletionCollector>();
}

ZELCompletionCollector::ZELCompletionCollector()
    : comparison_([](std::u16string_view a, std::u16string_view b) {
          return compareZELLocalizedCaseInsensitive(a, b);
      }),
      background_(std::make_shared<BackgroundState>()) {}

ZELCompletionCollector::~ZELCompletionCollector() {
    cancelLoadCompletionsInBackground();
}

std::vector<ZELString> ZELCompletionCollector::completionsForMatchingPrefix(
    const ZELString* prefix, const AspectList& aspects,
    std::shared_ptr<ZELItemResultSet> limitItemResultSet, uint64_t limitCount,
    bool* outReachedLimit) {
    ZELCompletionCollector collector;
    if (prefix) collector.setLimitCompletionPrefix(*prefix);
    collector.setLimitItemResultSet(std::move(limitItemResultSet));
    collector.setLimitCount(limitCount);
    collector.addCompletionsInAspects(aspects);
    if (outReachedLimit) *outReachedLimit = collector.limitSurpassed();
    return std::move(collector.finalList_);
}

void ZELCompletionCollector::setLimitCompletionPrefix(std::optional<ZELString> prefix) {
    prefix_ = std::move(prefix);
    normalizedPrefix_.reset();
    if (prefix_) normalizedPrefix_ = ZELNormalizedCaseInsensitiveComparisonString(*prefix_);
}

std::shared_ptr<ZELIDVector> ZELCompletionCollector::limitAspectBitValueIDs() const {
    return resultSet_ ? resultSet_->viableAspectBitIDs() : nullptr;
}

bool ZELCompletionCollector::isCancelled() const {
    return background_->cancelRequested.load(std::memory_order_relaxed);
}

// ---- Collecting ----

void ZELCompletionCollector::addCompletionsInAspects(const AspectList& aspects) {
    collect(aspects, false);
}

bool ZELCompletionCollector::acquireDatabaseLock(ZELDatabase& database, bool inBackground) {
    if (database.tryAcquireLock()) return true;
    if (!inBackground) {
        // Nothing can cancel a synchronous collection, so it waits for the lock outright.
        if (database.isInvalid()) return false;
        try {
            database.acquireLock();
            return true;
        } catch (const ZELException& exception) {
            if (exception.name() != ZELDatabaseInvalidException) throw;
            return false;
        }
    }
    // Another thread holds the database: try again every lockPollMilliseconds, waking at once
    // when a cancel is asked. An invalidated database never answers the lock again.
    BackgroundState& state = *background_;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(state.lock);
            if (state.changed.wait_for(hold, std::chrono::milliseconds(lockPollMilliseconds),
                                       [&] { return state.cancelRequested.load(); })) {
                return false;
            }
        }
        if (database.isInvalid()) return false;
        if (database.tryAcquireLock()) return true;
    }
}

void ZELCompletionCollector::collect(const AspectList& aspects, bool inBackground) {
    // A result set limits the values one by one as the walk reaches them: a value is offered
    // when some of its items lie in the set. That is the same as walking only the
    // set's viable aspect bit IDs, without first gathering the terms of every item in the set.
    const std::shared_ptr<ZELIDVector> limitItemIDs = resultSet_ ? resultSet_->itemIDs() : nullptr;
    // A result set without items leaves no value to offer.
    if (limitItemIDs && limitItemIDs->isEmpty()) return;
    const auto first = std::find_if(aspects.begin(), aspects.end(),
                                    [](const std::shared_ptr<ZELAspect>& aspect) { return aspect != nullptr; });
    if (first == aspects.end()) return;
    ZELDatabase* database = (*first)->database();
    if (!database) return;
    // Keeps the database alive for the walk when it is shared (a host may drop it meanwhile).
    const std::shared_ptr<ZELObject> databaseHold = database->weak_from_this().lock();
    if (!acquireDatabaseLock(*database, inBackground)) return;
    struct LockRelease {
        ZELCompletionCollector* collector;
        ZELDatabase* database;
        ~LockRelease() {
            collector->candidates_.clear();
            collector->limitItemIDs_.reset();
            collector->database_.store(nullptr);
            database->relinquishLock();
        }
    } lockRelease{this, database};

    database_.store(database);
    limitItemIDs_ = limitItemIDs;
    const uint64_t perAspectCapacity = hasLimit() ? limitCount_ : kDefaultPerAspectCapacity;
    // Working sizes only; a limit in the billions must not reserve billions.
    const size_t reserved = static_cast<size_t>(std::min<uint64_t>(perAspectCapacity + 1, 1024));
    candidates_.reserve(reserved);
    if (finalList_.capacity() == 0) finalList_.reserve(reserved * std::min<size_t>(aspects.size(), 16));

    const ZELString emptyPrefix;
    const ZELString& prefix = normalizedPrefix_ ? *normalizedPrefix_ : emptyPrefix;
    for (const std::shared_ptr<ZELAspect>& aspect : aspects) {
        candidates_.clear();
        runningCount_ = 0;
        if (isCancelled()) break;
        // An aspect of another database would be walked without its lock.
        if (!aspect || aspect->database() != database || aspect->aspectBitCount() == 0) continue;
        const auto visit = [&](const ZELString& normalized, const ZELString& canonical,
                               ZELID aspectBitID, bool& stop) {
            stop = addValue(*database, normalized, canonical, aspectBitID);
        };
        if (limitItemIDs) {
            // Read in place: the walk holds the database lock, so no vector changes meanwhile.
            ZELIDVectorArray& itemVectors = *database->itemVectorsByAspectBitID();
            aspect->enumerateOfferedCompletionsWithNormalizedPrefix(
                prefix,
                [&](ZELID aspectBitID) {
                    const auto items = itemVectors.vectorAtIndexID(aspectBitID);
                    return items && items->intersectsVector(*limitItemIDs);
                },
                visit);
        } else {
            aspect->enumerateCompletionsWithNormalizedPrefix(prefix, nullptr, visit);
        }
        drain(true);
    }
    drain(true);

    const uint64_t collected = finalList_.size();
    limitSurpassed_ = hasLimit() && collected > limitCount_;
    if (hasLimit() && collected > limitCount_) finalList_.resize(static_cast<size_t>(limitCount_));
}

std::shared_ptr<ZELIDVector> ZELCompletionCollector::itemsForValue(ZELDatabase& database,
                                                                   ZELID aspectBitID) {
    // Read in place: the walk holds the database lock, so no vector changes meanwhile.
    const std::shared_ptr<ZELIDVectorArray> vectors = database.itemVectorsByAspectBitID();
    std::shared_ptr<ZELIDVector> items = vectors ? vectors->vectorAtIndexID(aspectBitID) : nullptr;
    if (!items) items = ZELIDVector::vector();
    if (limitItemIDs_ && items) items = items->vectorByIntersection(*limitItemIDs_);
    return items;
}

bool ZELCompletionCollector::addValue(ZELDatabase& database, const ZELString& normalized,
                                      const ZELString& canonical, ZELID aspectBitID) {
    if (isCancelled()) return true;
    std::shared_ptr<ZELIDVector> items;
    if (!candidates_.empty()) {
        Candidate& last = candidates_.back();
        const bool isPrefixPair = ZELCompletionNormalizedTextHasPrefix(normalized, lastNormalized_) ||
                                  ZELCompletionNormalizedTextHasPrefix(lastNormalized_, normalized);
        // The item vectors themselves are compared: a use count need not be the number of the
        // value's items (a store of another writer, an add between its two lock holds).
        if (isPrefixPair) {
            if (!last.items) last.items = itemsForValue(database, last.aspectBitID);
            items = itemsForValue(database, aspectBitID);
            if (items && last.items && items->isEqual(*last.items)) {
                // The two terms find the same items: only the longer one is worth offering.
                if (normalized.size() > lastNormalized_.size()) {
                    last = Candidate{canonical, aspectBitID, std::move(items)};
                    lastNormalized_ = normalized;
                }
                return false;
            }
        }
    }
    candidates_.push_back(Candidate{canonical, aspectBitID, std::move(items)});
    lastNormalized_ = normalized;
    ++runningCount_;
    if (!hasLimit()) return false;
    // Drains every so often, so that an aspect stops once its values fall beyond the limit.
    uint64_t drainStep = limitCount_ <= 999 ? limitCount_ / 10 : 100;
    if (drainStep < 10) drainStep = 10;
    if (runningCount_ % drainStep == 0 && !drain(false)) return true;
    // One value more than the limit tells that more exist.
    return runningCount_ > limitCount_;
}

bool ZELCompletionCollector::drain(bool final) {
    // The last candidate stays back unless the aspect is done: the next value may still fold
    // it away, which must not happen after it joined the final list.
    const size_t settledCount =
        final ? candidates_.size() : (candidates_.empty() ? 0 : candidates_.size() - 1);
    if (settledCount == 0) return true;
    // Placing the values one by one in walk order answers what sorting the batch stably,
    // merging it into the final list and dropping the first of each pair of equal neighbours
    // would: the sorted list keeps, of values the comparison finds equal, the one placed last.
    // Meanwhile the batch's largest value is followed (of equal largest ones, the later).
    size_t largestIndex = 0;
    for (size_t index = 0; index < settledCount; ++index) {
        bool replaced = false;
        const size_t placed = placeInFinalList(std::move(candidates_[index].canonical), &replaced);
        if (index == 0 || placed >= largestIndex) {
            largestIndex = placed;
        } else if (!replaced) {
            ++largestIndex;  // placed before it
        }
    }
    candidates_.erase(candidates_.begin(), candidates_.begin() + static_cast<std::ptrdiff_t>(settledCount));

    if (!comparison_ || !hasLimit()) return true;
    // Later values of this aspect sort after the batch's largest; once that lies beyond the
    // limit, none of them can be answered.
    return largestIndex + 1 <= limitCount_;
}

size_t ZELCompletionCollector::placeInFinalList(ZELString completion, bool* outReplaced) {
    *outReplaced = false;
    if (!comparison_) {
        if (!finalList_.empty() && finalList_.back() == completion) {
            finalList_.back() = std::move(completion);
            *outReplaced = true;
        } else {
            finalList_.push_back(std::move(completion));
        }
        return finalList_.size() - 1;
    }
    // The walk's order is close to the comparison's, so the end is tried first.
    size_t low = 0;
    size_t high = finalList_.size();
    if (high > 0) {
        const int order = comparison_(completion, finalList_.back());
        if (order > 0) {
            low = high;
        } else if (order == 0) {
            finalList_.back() = std::move(completion);
            *outReplaced = true;
            return high - 1;
        } else {
            --high;
        }
    }
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const int order = comparison_(completion, finalList_[middle]);
        if (order == 0) {
            finalList_[middle] = std::move(completion);
            *outReplaced = true;
            return middle;
        }
        if (order > 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    finalList_.insert(finalList_.begin() + static_cast<std::ptrdiff_t>(low), std::move(completion));
    return low;
}

// ---- Background ----

void ZELCompletionCollector::loadCompletionsInBackgroundForAspects(const AspectList& aspects,
                                                                   Notify notify) {
    std::weak_ptr<ZELObject> weakCollector = weak_from_this();
    if (weakCollector.expired()) {
        ZELLog("completion collector: background collection needs a collector owned by a shared_ptr");
        return;
    }
    const std::shared_ptr<BackgroundState> state = background_;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        if (state->isRunning) return;
        state->aspects = aspects;
        state->notify = std::move(notify);
        state->isRunning = true;
        state->cancelRequested.store(false);
        ++state->generation;
    }
    collectorQueue()->async([collector = this, weakCollector, state] {
        runInBackground(collector, weakCollector, state);
    });
}

void ZELCompletionCollector::runInBackground(ZELCompletionCollector* collector,
                                             const std::weak_ptr<ZELObject>& weakCollector,
                                             const std::shared_ptr<BackgroundState>& state) {
    // The collector stays alive until isRunning is cleared: its destructor cancels and waits
    // for that, unless it ran on this queue's thread before this task started, which the
    // expired weak reference tells.
    AspectList aspects;
    bool collectorGone;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        collectorGone = weakCollector.expired();
        aspects = state->aspects;
    }
    if (!collectorGone) {
        try {
            collector->collect(aspects, true);
        } catch (const std::exception& exception) {
            ZELLogFormat("completion collector: collection failed: %s", exception.what());
        }
    }

    std::shared_ptr<ZELObject> strongCollector;
    Notify notify;
    std::unique_lock<std::mutex> hold(state->lock);
    if (!state->cancelRequested.load() && !collectorGone) {
        // A collector whose destruction has begun counts as cancelled.
        strongCollector = weakCollector.lock();
        if (strongCollector) {
            notify = state->notify;
            state->isNotifying = true;
            hold.unlock();
            try {
                if (notify) notify(std::static_pointer_cast<ZELCompletionCollector>(strongCollector));
            } catch (const std::exception& exception) {
                ZELLogFormat("completion collector: notify failed: %s", exception.what());
            }
            hold.lock();
            state->isNotifying = false;
        }
    }
    // The collection saw the cancel (or will never notify): the flag is spent.
    state->cancelRequested.store(false);
    // Released after the lock: their captures may hold the collector, whose destructor takes
    // the lock.
    AspectList droppedAspects = std::move(state->aspects);
    Notify droppedNotify = std::move(state->notify);
    state->aspects.clear();
    state->notify = nullptr;
    state->isRunning = false;
    state->changed.notify_all();
    hold.unlock();
}

bool ZELCompletionCollector::cancelLoadCompletionsInBackground() {
    BackgroundState& state = *background_;
    std::unique_lock<std::mutex> hold(state.lock);
    if (!state.isRunning) return false;
    const uint64_t generation = state.generation;
    const bool onQueue = collectorQueue()->isCurrent();
    if (state.isNotifying) {
        // Too late to stop it; wait for notify to return, unless this is notify itself.
        if (!onQueue) {
            state.changed.wait(hold, [&] { return !state.isRunning || state.generation != generation; });
        }
        return false;
    }
    state.cancelRequested.store(true);
    state.changed.notify_all();
    // On the queue's thread the collection is still waiting behind the running task: it will
    // see the flag when it starts and end without notifying.
    if (onQueue) return true;
    state.changed.wait(hold, [&] { return !state.isRunning || state.generation != generation; });
    // Set before the collection decided whether to notify, so it did not.
    return true;
}

bool ZELCompletionCollector::isLoadingInBackground() const {
    std::lock_guard<std::mutex> hold(background_->lock);
    return background_->isRunning;
}

std::string ZELCompletionCollector::description() const {
    return ZELStringWithFormat("%s prefix \"%s\", limit %llu: %lu completions%s",
                               descriptionHead().c_str(),
                               prefix_ ? ZELStringToUTF8(*prefix_).c_str() : "(none)",
                               static_cast<unsigned long long>(limitCount_),
                               static_cast<unsigned long>(finalList_.size()),
                               limitSurpassed_ ? ", more exist" : "");
}

#include "zel/tokenizer/ZELWordBreakIterator+Private.h"

#include <unicode/utypes.h>

#include <climits>
#include <string>
#include <vector>

namespace {

// The iterators one thread has opened, closed when the thread ends.
class ThreadIteratorPool {
public:
    struct Slot {
        std::string locale;
        UBreakIterator* iterator = nullptr;
        bool inUse = false;
    };

    ~ThreadIteratorPool() {
        for (Slot& slot : slots_) ubrk_close(slot.iterator);
    }

    // The index of a free slot holding an iterator for `locale`, opening one when needed;
    // -1 with `status` set when ICU fails.
    int borrow(const char* locale, UErrorCode& status) {
        for (size_t i = 0; i < slots_.size(); ++i) {
            if (!slots_[i].inUse && slots_[i].locale == locale) {
                slots_[i].inUse = true;
                return static_cast<int>(i);
            }
        }
        UBreakIterator* iterator = ubrk_open(UBRK_WORD, locale, nullptr, 0, &status);
        if (U_FAILURE(status)) return -1;
        slots_.push_back(Slot{locale, iterator, true});
        return static_cast<int>(slots_.size() - 1);
    }

    UBreakIterator* iteratorAt(int slot) const { return slots_[static_cast<size_t>(slot)].iterator; }

    void giveBack(int slot) { slots_[static_cast<size_t>(slot)].inUse = false; }

private:
    std::vector<Slot> slots_;
};

ThreadIteratorPool& threadPool() {
    thread_local ThreadIteratorPool pool;
    return pool;
}

}  // namespace

ZELWordBreakIterator::ZELWordBreakIterator(const char* localeIdentifier, std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    ThreadIteratorPool& pool = threadPool();
    slot_ = pool.borrow(localeIdentifier, status);
    if (slot_ < 0) {
        status_ = status;
        return;
    }
    UBreakIterator* iterator = pool.iteratorAt(slot_);
    const int32_t length = text.size() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(text.size());
    ubrk_setText(iterator, reinterpret_cast<const UChar*>(text.data()), length, &status);
    if (U_FAILURE(status)) {
        status_ = status;
        pool.giveBack(slot_);
        slot_ = -1;
        return;
    }
    iterator_ = iterator;
}

ZELWordBreakIterator::~ZELWordBreakIterator() {
    // The iterator keeps pointing at the caller's text; the next borrower sets its own.
    if (slot_ >= 0) threadPool().giveBack(slot_);
}

const char* ZELWordBreakIterator::errorName() const {
    return u_errorName(static_cast<UErrorCode>(status_));
}

#pragma once

#include <cstdint>
#include <memory>

#include "zel/database/ZELItem.h"

// A set of existence tokens that a host fills with the tokens of the sources it still has,
// before asking the database for the stored items missing from it
// (ZELDatabase::itemIDsForItemsMissingFromItemExistenceMap). Made through the base class, which
// always yields a ZELItemExistenceMap_Custom. No lock: filled by one thread and not changed
// during a search.
class ZELItemExistenceMap {
public:
    // A map sized for `capacity` tokens; null when memory runs out.
    static std::unique_ptr<ZELItemExistenceMap> mapWithCapacity(uint64_t capacity);
    virtual ~ZELItemExistenceMap() = default;

    // Tokens added (a token added twice counts twice).
    uint64_t count() const { return count_; }
    virtual void addItemExistenceToken(ZELItemExistenceToken token) = 0;
    virtual bool containsItemExistenceToken(ZELItemExistenceToken token) const = 0;
    virtual uint64_t byteCountInActiveRAM() const = 0;

protected:
    uint64_t count_ = 0;
};

// Open addressing with linear probing over buckets of (first half, second half, used flag).
// The bucket count is 1 for capacity 0, 59 below 30, else 2 * capacity + 1. The map grows (to
// 4 * count + 1 buckets, rehashing) before it gets three quarters full, so an add never finds
// it full.
class ZELItemExistenceMap_Custom final : public ZELItemExistenceMap {
public:
    struct Bucket {
        uint32_t first = 0;
        uint32_t second = 0;
        uint32_t used = 0;
    };

    static uint64_t bucketCountForCapacity(uint64_t capacity);

    // Null when the buckets cannot be allocated.
    static std::unique_ptr<ZELItemExistenceMap_Custom> mapWithCapacity(uint64_t capacity);
    ~ZELItemExistenceMap_Custom() override;

    void addItemExistenceToken(ZELItemExistenceToken token) override;
    bool containsItemExistenceToken(ZELItemExistenceToken token) const override;
    // The object's own size + 12 bytes per bucket.
    uint64_t byteCountInActiveRAM() const override;
    uint64_t bucketCapacity() const { return bucketsCapacity_; }

private:
    ZELItemExistenceMap_Custom() = default;
    bool growToBucketCount(uint64_t bucketCount);
    static void insertIntoBuckets(Bucket* buckets, uint64_t bucketCount,
                                  ZELItemExistenceToken token);

    Bucket* buckets_ = nullptr;  // owned; allocated zeroed through TarvoMemBlock
    uint64_t bucketsCapacity_ = 0;
};

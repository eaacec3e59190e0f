#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"
#include "zel/platform/ZELValue.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"
#include "zel/tokenizer/ZELTokenizerState.h"

class ZELDatabase;
class ZELError;
class ZELIDVector;
class ZELItem;
class ZELItemDefinition;
class ZELSortedList;
class ZELTokenizer;

// A named, tokenized attribute of items (a title, a sender, a date). It owns the tokenizer that
// turns an item into terms and the sorted list that maps each normalized term value of the
// aspect to its aspect bit ID (the list keeps IDs only; the values live in the database's value
// store). Made and owned by its database, which it refers to without owning it.
// The identifier, ID and flags are set before the aspect is shared; the tokenizer is read and
// replaced atomically; the sorted list is touched only under the database lock.
class ZELAspect : public ZELObject, public ZELMemoryMetricsProvider {
public:
    // The keys of an aspect definition dictionary and of "aspects.plist". Stored; never change.
    static constexpr const char* aspectDefsFileIdentifier = "com.tarvo.ZEL.aspectDefs";
    static constexpr int64_t aspectDefsFileVersion = 1;

    // Makes the aspect and loads its sorted list from the database's "aspects" folder; null,
    // with the list's error, when loading fails.
    static std::shared_ptr<ZELAspect> aspectWithDatabase(ZELDatabase* db, ZELString identifier,
                                                         uint32_t aspectID, ZELError* outError);
    // An aspect from a definition dictionary (see aspectDefinitionDictionary). Errors: code 3
    // "aspect definition is missing identifier", the tokenizer's error, the list's error. A
    // tokenizer class the process lacks gives a file-load warning and an aspect without
    // tokenizer; a definition without "aspectTokenizer", or with an empty dictionary there, an
    // aspect without tokenizer.
    static std::shared_ptr<ZELAspect> aspectWithDefinition(ZELDatabase* db,
                                                           const ZELValue& definition,
                                                           ZELError* outError);
    ~ZELAspect() override;

    // The sorted list's file base name for an identifier, inside the "aspects" folder: the
    // identifier itself, unless it contains "/" or NUL, is "." or "..", or begins with "%"; then
    // "%" followed by the identifier with "%", "/", "." and NUL written as %25, %2F, %2E, %00.
    static std::string fileBaseNameForAspectIdentifier(const ZELString& identifier);
    // The file base names the sorted list of an identifier may have in a folder: the escaped
    // one, then, for an identifier beginning with "%" whose raw form is a safe file name, the
    // raw one of folders written before identifiers were escaped. The raw file is read when the
    // escaped one is missing; the next save writes the escaped one.
    static std::vector<std::string> sortFileBaseNamesForAspectIdentifier(const ZELString& identifier);

    // {"aspectID", "identifier", "defaultBooleanOp", "isShowBitValueLabel", "aspectTokenizer"};
    // the last is an empty dictionary for an aspect without tokenizer.
    ZELValue aspectDefinitionDictionary() const;
    // Saves the sorted list.
    bool ensureSerializedAndGetError(ZELError* outError);
    // Forgets the database, invalidates and drops the sorted list.
    void invalidate();

    ZELDatabase* database() const { return db_.load(); }
    uint32_t aspectID() const { return aspectID_; }
    // Set by the database when the aspect joins its list (position + 1).
    void setAspectID(uint32_t aspectID) { aspectID_ = aspectID; }
    const ZELString& aspectIdentifier() const { return name_; }
    const ZELString& displayName() const { return name_; }
    // Requires: the database lock is held. Null once invalidated.
    ZELSortedList* aspectBitValueSortList() const { return valueSortList_.get(); }
    std::shared_ptr<ZELTokenizer> aspectValueTokenizer() const;
    void setAspectValueTokenizer(std::shared_ptr<ZELTokenizer> tokenizer);
    int32_t defaultAspectBitBooleanOperation() const { return defaultBoolOp_; }
    void setDefaultAspectBitBooleanOperation(int32_t operation) { defaultBoolOp_ = operation; }
    bool isShowBitValueLabel() const { return isShowBitValueLabel_; }
    void setIsShowBitValueLabel(bool flag) { isShowBitValueLabel_ = flag; }
    bool isUsedToDetectDuplicates() const { return isUsedToDetectDuplicates_; }
    void setIsUsedToDetectDuplicates(bool flag) { isUsedToDetectDuplicates_ = flag; }

    // Number of keys in the sorted list. Requires: the database lock is held.
    uint64_t aspectBitCount() const;

    // An item's tokens for this aspect with the normalized value of each, in the set's order.
    struct PreparedTokens {
        ZELTokenSet tokens;
        std::vector<ZELString> normalizedValues;
    };
    // The tokenizer's tokens of the item, normalized; none without tokenizer or tokens. Takes
    // no database lock: any thread may prepare items while another enters them.
    std::optional<PreparedTokens> preparedTokensForItem(const ZELItem& item) const;
    // preparedTokensForItem, then addAspectBitsToItemDefinition with them.
    void addAspectBitsToItemDefinition(ZELItemDefinition& definition, const ZELItem& item);
    // For each token, in one database lock hold: finds or assigns the ID of its normalized
    // value, votes for the token's written form and, the first time the item meets the ID,
    // raises its use count. Then adds the IDs to the definition.
    void addAspectBitsToItemDefinition(ZELItemDefinition& definition, const PreparedTokens& prepared);

    // The ID of the text's normalized value; 0 when absent. With `assign`, an absent value gets a
    // new ID with use count 0 and is entered in the sorted list (a value no item carries yet).
    ZELID aspectBitIDForValue(const ZELString& text, bool assign);
    // The sorted list's ID for the normalized value (0 when absent); when found, the canonical
    // string and use count of its value info are passed out as asked. Takes the lock.
    ZELID aspectBitIDForNormalizedValue(const ZELString& normalized,
                                        std::optional<ZELString>* outCanonicalString,
                                        uint64_t* outUseCount);
    // Removes the key only when the list maps it to `aspectBitID`.
    // Requires: the database lock is held.
    void removeAspectBitNormalizedValue(const ZELString& normalized, ZELID aspectBitID);

    using CompletionVisitor =
        ZELFunctionRef<void(const ZELString& normalizedValue, const ZELString& canonicalString,
                            ZELID aspectBitID, bool& stop)>;
    // The keys beginning with `prefix` in list order, restricted to `allowedAspectBitIDs` when
    // given. Requires: the database lock is held.
    void enumerateCompletionsWithNormalizedPrefix(const ZELString& prefix,
                                                  const ZELIDVector* allowedAspectBitIDs,
                                                  CompletionVisitor visitor);
    // The same, restricted to the keys `isOffered` accepts; it is asked before a key's
    // canonical string is looked up. Requires: the database lock is held.
    void enumerateOfferedCompletionsWithNormalizedPrefix(const ZELString& prefix,
                                                         ZELFunctionRef<bool(ZELID)> isOffered,
                                                         CompletionVisitor visitor);

    void gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const override;
    void compactMemory(int level);
    // "ZELAspect<0x...> \"identifier\"".
    std::string description() const override;

    // Reads "aspects.plist": code 3 "<reason> in <location>" with "could not load", "bad
    // identifier" or "unsupported version"; then each definition in file order (the first
    // failing one answers none with its error).
    static std::optional<std::vector<std::shared_ptr<ZELAspect>>> aspectsLoadedFromInfoFileAtURL(
        const std::filesystem::path& url, ZELDatabase* db, ZELError* outError);
    // Writes "aspects.plist"; failure: code 4 "Could not save aspect meta info file.".
    static bool saveInfoForAspects(const std::vector<std::shared_ptr<ZELAspect>>& aspects,
                                   const std::filesystem::path& url, ZELError* outError);

    ZELAspect(ZELDatabase* db, ZELString identifier, uint32_t aspectID);

private:
    // The two completion walks: keys with the prefix, among `allowedAspectBitIDs` and
    // accepted by `isOffered` when given.
    void enumerateCompletions(const ZELString& prefix, const ZELIDVector* allowedAspectBitIDs,
                              const ZELFunctionRef<bool(ZELID)>* isOffered,
                              CompletionVisitor visitor);
    // Requires: the database lock is held (a list of unknown key order is checked, which loads
    // its keys).
    bool loadSortedList(ZELError* outError);

    std::atomic<ZELDatabase*> db_;  // not owned; null once invalidated
    std::atomic<uint32_t> aspectID_;
    const ZELString name_;
    std::atomic<int32_t> defaultBoolOp_{0};
    mutable std::mutex tokenizerLock_;
    std::shared_ptr<ZELTokenizer> tokenizer_;  // guarded by tokenizerLock_
    std::shared_ptr<ZELSortedList> valueSortList_;  // under the database lock
    // The raw-named sort file the list was read from; removed once the escaped one is saved.
    std::string legacySortFileURL_;  // under the database lock
    std::atomic<bool> isShowBitValueLabel_{false};
    std::atomic<bool> isUsedToDetectDuplicates_{false};
};

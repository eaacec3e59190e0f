#include "zel/database/ZELAspect.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELItem.h"
#include "zel/database/ZELItemDefinition.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/storage/ZELAspectBitValueStorage.h"
#include "zel/storage/ZELSortedList.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELTokenizer.h"

std::shared_ptr<ZELAspect> ZELAspect::aspectWithDatabase(ZELDatabase* db, ZELString identifier,
                                                         uint32_t aspectID, ZELError* outError) {
    auto aspect = std::make_shared<ZELAspect>(db, std::move(identifier), aspectID);
    if (!aspect->loadSortedList(outError)) return nullptr;
    return aspect;
}

ZELAspect::ZELAspect(ZELDatabase* db, ZELString identifier, uint32_t aspectID)
    : db_(db), aspectID_(aspectID), name_(std::move(identifier)) {}

ZELAspect::~ZELAspect() {
    if (valueSortList_) valueSortList_->invalidate();
}

std::string ZELAspect::fileBaseNameForAspectIdentifier(const ZELString& identifier) {
    const bool needsEscape = identifier == u"." || identifier == u".." ||
                             identifier.find_first_of(std::u16string_view(u"/\0", 2)) !=
                                 ZELString::npos ||
                             (!identifier.empty() && identifier.front() == u'%');
    if (!needsEscape) return ZELStringToUTF8(identifier);
    ZELString escaped = u"%";
    for (char16_t unit : identifier) {
        switch (unit) {
            case u'%': escaped += u"%25"; break;
            case u'/': escaped += u"%2F"; break;
            case u'.': escaped += u"%2E"; break;
            case u'\0': escaped += u"%00"; break;
            default: escaped += unit;
        }
    }
    return ZELStringToUTF8(escaped);
}

namespace {

// The identifier an escaped file base name stands for; none when `name` is not one.
std::optional<ZELString> identifierForEscapedFileBaseName(const ZELString& name) {
    if (name.empty() || name.front() != u'%') return std::nullopt;
    ZELString identifier;
    for (size_t index = 1; index < name.size(); ++index) {
        if (name[index] != u'%') {
            identifier += name[index];
            continue;
        }
        const std::u16string_view code = std::u16string_view(name).substr(index + 1, 2);
        if (code == u"25") identifier += u'%';
        else if (code == u"2F") identifier += u'/';
        else if (code == u"2E") identifier += u'.';
        else if (code == u"00") identifier += u'\0';
        else return std::nullopt;
        index += 2;
    }
    return identifier;
}

// Folders written before identifiers were escaped keep an identifier beginning with "%" under
// its raw name. That name is read when the escaped file is missing, unless it is also the
// escaped name of another identifier ("%%25a" stands for "%a"). None for other identifiers.
std::optional<std::string> legacyFileBaseNameForAspectIdentifier(const ZELString& identifier) {
    if (identifier.empty() || identifier.front() != u'%' ||
        identifier.find_first_of(std::u16string_view(u"/\0", 2)) != ZELString::npos) {
        return std::nullopt;
    }
    const std::string raw = ZELStringToUTF8(identifier);
    if (auto other = identifierForEscapedFileBaseName(identifier);
        other && ZELAspect::fileBaseNameForAspectIdentifier(*other) == raw) {
        return std::nullopt;
    }
    return raw;
}

bool sortFileExists(const std::filesystem::path& base) {
    std::error_code error;
    return std::filesystem::exists(base.string() + ".sort", error);
}

}  // namespace

std::vector<std::string> ZELAspect::sortFileBaseNamesForAspectIdentifier(const ZELString& identifier) {
    std::vector<std::string> names{fileBaseNameForAspectIdentifier(identifier)};
    if (auto legacy = legacyFileBaseNameForAspectIdentifier(identifier)) names.push_back(*legacy);
    return names;
}

bool ZELAspect::loadSortedList(ZELError* outError) {
    ZELDatabase* db = database();
    const std::filesystem::path base =
        db->aspectDataFolderURL() / fileBaseNameForAspectIdentifier(name_);
    // The list keeps IDs only; its keys are the normalized values in the value store, lent
    // without copying. The list is used only under the database lock, which the loaders
    // therefore need not take again.
    auto list = ZELSortedList::listWithBaseURL(base.string(), [this](ZELID keyID, bool load) {
        ZELDatabase* owner = database();
        return owner ? owner->sortedListKeyForAspectBitID(keyID, load) : nullptr;
    });
    list->setKeyPeeker([this](ZELID keyID) -> const ZELString* {
        ZELDatabase* owner = database();
        return owner ? owner->cachedSortedListKeyForAspectBitID(keyID) : nullptr;
    });
    list->setKeyBatchLoader([this](const ZELID* keyIDs, uint64_t count) {
        std::vector<ZELSortedListKey> keys;
        ZELDatabase* owner = database();
        for (uint64_t i = 0; owner && i < count; ++i) {
            if (auto key = owner->sortedListKeyForAspectBitID(keyIDs[i], true)) keys.push_back(key);
        }
        return keys;
    });
    list->setKeyCompareSelector(
        [](const ZELString& searchKey, const ZELString& otherKey) {
            return compareZELSort(searchKey, otherKey);
        },
        [](const ZELString& key, const ZELString& prefix) { return hasZELSortPrefix(key, prefix); },
        [](const ZELString& prefix) { return ZELSortPrefixLowerBound(prefix); });
    list->setKeyHash([](const ZELString& key) { return hashZELSort(key); });
    const auto legacy = legacyFileBaseNameForAspectIdentifier(name_);
    if (legacy && !sortFileExists(base) && sortFileExists(db->aspectDataFolderURL() / *legacy)) {
        const std::string legacyBase = (db->aspectDataFolderURL() / *legacy).string();
        if (!list->loadFromFileOfBaseURLAndGetError(legacyBase, outError)) return false;
        legacySortFileURL_ = legacyBase + ".sort";
    } else if (!list->loadAndGetError(outError)) {
        return false;
    }
    if (db->sortFilesNeedOrderCheck_) list->sortIntoKeyOrder();
    valueSortList_ = std::move(list);
    return true;
}

std::shared_ptr<ZELAspect> ZELAspect::aspectWithDefinition(ZELDatabase* db,
                                                           const ZELValue& definition,
                                                           ZELError* outError) {
    const ZELValue* identifier = definition.valueForKey("identifier");
    if (!identifier || !identifier->isString() || identifier->stringValue().empty()) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeInvalidData,
                                         "aspect definition is missing identifier")),
               nullptr;
    }
    const ZELValue* booleanOp = definition.valueForKey("defaultBooleanOp");
    const ZELValue* aspectID = definition.valueForKey("aspectID");
    const ZELValue* showLabel = definition.valueForKey("isShowBitValueLabel");

    // An aspect saved without tokenizer (its host had not set one) comes back without one: its
    // definition holds an empty dictionary, or, as written before, no "aspectTokenizer" at all.
    std::shared_ptr<ZELTokenizer> tokenizer;
    const ZELValue* representation = definition.valueForKey("aspectTokenizer");
    if (representation && !(representation->isDictionary() && representation->dictionaryValue().empty())) {
        ZELError tokenizerError;
        tokenizer = ZELTokenizer::tokenizerForSerializedRepresentation(*representation,
                                                                       &tokenizerError);
        if (!tokenizer) {
            if (tokenizerError.isError()) return ZELSetError(outError, tokenizerError), nullptr;
            std::string shown;
            ZELPropertyList::xmlData(*representation, &shown, nullptr);
            db->reportFileLoadWarning(
                ZELStringWithFormat("aspect tokenizer not available: %s", shown.c_str()), true);
        }
    }
    auto aspect = aspectWithDatabase(
        db, identifier->stringValue(),
        aspectID ? static_cast<uint32_t>(aspectID->integerValue()) : 0, outError);
    if (!aspect) return nullptr;
    if (booleanOp) aspect->setDefaultAspectBitBooleanOperation(static_cast<int32_t>(booleanOp->integerValue()));
    aspect->setAspectValueTokenizer(std::move(tokenizer));
    if (showLabel) aspect->setIsShowBitValueLabel(showLabel->booleanValue());
    return aspect;
}

ZELValue ZELAspect::aspectDefinitionDictionary() const {
    ZELValue::Dictionary definition{
        {u"aspectID", ZELValue(static_cast<int64_t>(aspectID()))},
        {u"identifier", ZELValue(name_)},
        {u"defaultBooleanOp", ZELValue(static_cast<int64_t>(defaultAspectBitBooleanOperation()))},
        {u"isShowBitValueLabel", ZELValue(isShowBitValueLabel())},
    };
    // Without tokenizer an empty dictionary: a dictionary that names no tokenizer class reads
    // as "no tokenizer", where a definition without the key is refused by readers that
    // require it (and with it the whole "aspects.plist").
    auto tokenizer = aspectValueTokenizer();
    definition[u"aspectTokenizer"] =
        tokenizer ? tokenizer->serializedRepresentation() : ZELValue(ZELValue::Dictionary{});
    return ZELValue(std::move(definition));
}

bool ZELAspect::ensureSerializedAndGetError(ZELError* outError) {
    if (!valueSortList_) return true;
    if (!valueSortList_->ensureSerializedAndGetError(outError)) return false;
    // Two files of one list would leave a stale one to be read, should the escaped one go.
    if (!legacySortFileURL_.empty()) {
        if (ZELFileSystem::shared().unlink(legacySortFileURL_) != 0 && errno != ENOENT) {
            return ZELSetError(outError, ZELError::errorWithErrno(
                                             errno, "removing the sort file " + legacySortFileURL_));
        }
        legacySortFileURL_.clear();
    }
    return true;
}

void ZELAspect::invalidate() {
    db_.store(nullptr);
    if (valueSortList_) valueSortList_->invalidate();
    valueSortList_.reset();
}

std::shared_ptr<ZELTokenizer> ZELAspect::aspectValueTokenizer() const {
    std::lock_guard<std::mutex> guard(tokenizerLock_);
    return tokenizer_;
}

void ZELAspect::setAspectValueTokenizer(std::shared_ptr<ZELTokenizer> tokenizer) {
    std::lock_guard<std::mutex> guard(tokenizerLock_);
    tokenizer_ = std::move(tokenizer);
}

uint64_t ZELAspect::aspectBitCount() const { return valueSortList_ ? valueSortList_->count() : 0; }

namespace {

// Brings what the lookups of an item's tokens will read into the processor's cache in stages,
// the reads of each stage in flight together: the ID cache's entries, the value store's slots
// of the IDs found there, their records, then the records' keys and written forms. Token by
// token, a lookup would wait for each of these in turn. Changes nothing.
void prefetchForLookups(const ZELSortedList& list, const ZELAspectBitValueStorage& store,
                        const std::vector<ZELString>& normalizedValues) {
    thread_local std::vector<uint32_t> hashes;
    thread_local std::vector<ZELID> likelyIDs;
    hashes.clear();
    likelyIDs.clear();
    for (const ZELString& value : normalizedValues) {
        hashes.push_back(list.hashForKey(value));
        list.prefetchCachedIDForHash(hashes.back());
    }
    for (const uint32_t hash : hashes) {
        likelyIDs.push_back(list.likelyCachedIDForHash(hash));
        store.prefetchSlot(likelyIDs.back());
    }
    for (const ZELID id : likelyIDs) store.prefetchCachedObject(id);
    for (const ZELID id : likelyIDs) store.prefetchRecordContents(id);
}

}  // namespace

std::optional<ZELAspect::PreparedTokens> ZELAspect::preparedTokensForItem(const ZELItem& item) const {
    auto tokenizer = aspectValueTokenizer();
    if (!tokenizer) return std::nullopt;
    auto tokens = tokenizer->tokensForClientObject(item);
    if (!tokens || tokens->empty()) return std::nullopt;
    PreparedTokens prepared{std::move(*tokens), {}};
    prepared.normalizedValues.reserve(prepared.tokens.size());
    for (const ZELString& token : prepared.tokens) {
        prepared.normalizedValues.push_back(ZELNormalizedCaseInsensitiveComparisonString(token));
    }
    return prepared;
}

void ZELAspect::addAspectBitsToItemDefinition(ZELItemDefinition& definition, const ZELItem& item) {
    if (auto prepared = preparedTokensForItem(item)) addAspectBitsToItemDefinition(definition, *prepared);
}

void ZELAspect::addAspectBitsToItemDefinition(ZELItemDefinition& definition,
                                              const PreparedTokens& prepared) {
    ZELDatabase* db = database();
    if (!db || prepared.tokens.empty()) return;
    const ZELTokenSet& tokens = prepared.tokens;
    // Each token with the ID of its normalized value.
    struct FoundToken {
        ZELID aspectBitID;
        const ZELString* token;
    };
    // Kept per thread: a buffer made and freed per item costs more than the work it holds.
    thread_local std::vector<FoundToken> found;
    found.clear();
    db->accessLockedUsing([&] {
        ZELSortedList* list = valueSortList_.get();
        if (!list) return;
        if (prepared.normalizedValues.size() > 1 && db->aspectBitValueStore_) {
            prefetchForLookups(*list, *db->aspectBitValueStore_, prepared.normalizedValues);
        }
        auto normalized = prepared.normalizedValues.begin();
        for (const ZELString& token : tokens) {
            bool isNew = false;
            const ZELID id = list->assignedIDForKey(
                *normalized, [&] { return db->assignAspectBitIDForNormalizedValue(*normalized); },
                &isNew);
            ++normalized;
            if (id == 0) continue;
            if (isNew) definition.markDefinedNewAspectBit();
            found.push_back(FoundToken{id, &token});
        }
        // Written forms that share a normalized value ("Apple", "apple") each get their vote,
        // but the value's use count rises once for the item: it counts the items that carry
        // it. The stable sort keeps each value's votes in token order.
        std::stable_sort(found.begin(), found.end(), [](const FoundToken& a, const FoundToken& b) {
            return a.aspectBitID < b.aspectBitID;
        });
        for (size_t index = 0; index < found.size(); ++index) {
            const ZELID id = found[index].aspectBitID;
            const bool firstOfValue = index == 0 || found[index - 1].aspectBitID != id;
            if (firstOfValue && !definition.containsAspectBitID(id)) {
                db->incrementUseCountForAspectBitID(id, found[index].token);
            } else {
                db->upvoteCanonicalStringForAspectBitID(id, *found[index].token);
            }
        }
    });
    if (found.empty()) return;
    thread_local std::vector<ZELID> ids;
    ids.clear();
    for (const FoundToken& token : found) {
        if (ids.empty() || ids.back() != token.aspectBitID) ids.push_back(token.aspectBitID);
    }
    if (auto vector = ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()))) {
        definition.addAspectBitIDs(*vector, *this);
    }
}

ZELID ZELAspect::aspectBitIDForValue(const ZELString& text, bool assign) {
    const ZELString normalized = ZELNormalizedCaseInsensitiveComparisonString(text);
    ZELDatabase* db = database();
    if (!db) return 0;
    return db->accessLockedUsing([&]() -> ZELID {
        ZELSortedList* list = valueSortList_.get();
        if (!list) return 0;
        if (!assign) return list->assignedIDForKey(normalized);
        return list->assignedIDForKey(
            normalized, [&] { return db->assignAspectBitIDForNormalizedValue(normalized); },
            nullptr);
    });
}

ZELID ZELAspect::aspectBitIDForNormalizedValue(const ZELString& normalized,
                                               std::optional<ZELString>* outCanonicalString,
                                               uint64_t* outUseCount) {
    ZELDatabase* db = database();
    if (!db) return 0;
    return db->accessLockedUsing([&]() -> ZELID {
        ZELSortedList* list = valueSortList_.get();
        if (!list) return 0;
        const ZELID id = list->assignedIDForKey(normalized);
        if (id != 0 && (outCanonicalString || outUseCount)) {
            if (auto info = db->aspectBitValueInfoForID(id)) {
                if (outCanonicalString) *outCanonicalString = info->canonicalStringVotedMost();
                if (outUseCount) *outUseCount = info->useCount();
            }
        }
        return id;
    });
}

void ZELAspect::removeAspectBitNormalizedValue(const ZELString& normalized, ZELID aspectBitID) {
    if (valueSortList_ && valueSortList_->assignedIDForKey(normalized) == aspectBitID) {
        valueSortList_->removeAssignedIDForKey(normalized);
    }
}

void ZELAspect::enumerateCompletionsWithNormalizedPrefix(const ZELString& prefix,
                                                         const ZELIDVector* allowedAspectBitIDs,
                                                         CompletionVisitor visitor) {
    enumerateCompletions(prefix, allowedAspectBitIDs, nullptr, visitor);
}

void ZELAspect::enumerateOfferedCompletionsWithNormalizedPrefix(
    const ZELString& prefix, ZELFunctionRef<bool(ZELID)> isOffered, CompletionVisitor visitor) {
    enumerateCompletions(prefix, nullptr, &isOffered, visitor);
}

void ZELAspect::enumerateCompletions(const ZELString& prefix, const ZELIDVector* allowedAspectBitIDs,
                                     const ZELFunctionRef<bool(ZELID)>* isOffered,
                                     CompletionVisitor visitor) {
    ZELDatabase* db = database();
    if (!db || !valueSortList_ || !db->aspectBitValueStore_) return;
    valueSortList_->enumerateWithKeyPrefix(
        prefix, allowedAspectBitIDs, [&](ZELID keyID, const ZELString& key, bool& stop) {
            if (isOffered && !(*isOffered)(keyID)) return;
            // The lock is held: the record is read in place.
            const std::shared_ptr<ZELAspectBitValueInfo> info =
                db->aspectBitValueStore_->aspectBitValueInfoForID(keyID);
            const ZELString* canonical = info ? info->canonicalStringVotedMostInPlace() : nullptr;
            visitor(key, canonical ? *canonical : key, keyID, stop);
        });
}

void ZELAspect::gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const {
    gatherer.addByteCount(sizeof(*this) + name_.size() * sizeof(char16_t), ZELMemoryMetricTypeRAM);
    if (valueSortList_) valueSortList_->gatherMemoryMetrics(gatherer);
}

void ZELAspect::compactMemory(int level) {
    if (valueSortList_) valueSortList_->compactMemory(level);
}

std::string ZELAspect::description() const {
    return descriptionHead() + " \"" + ZELStringToUTF8(name_) + "\"";
}

// "aspects.plist": a dictionary with "com.tarvo.ZEL.aspectDefs" (the same string, identifying
// the file), "Version" (1), "AspectDefCount" (written, not read) and "AspectDefs" (the aspect
// definition dictionaries in the database's aspect order).
std::optional<std::vector<std::shared_ptr<ZELAspect>>> ZELAspect::aspectsLoadedFromInfoFileAtURL(
    const std::filesystem::path& url, ZELDatabase* db, ZELError* outError) {
    auto fail = [&](const char* reason) {
        ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                  ZELErrorCodeInvalidData,
                                  ZELStringWithFormat("%s in %s", reason, url.c_str())));
        return std::nullopt;
    };
    ZELValue plist;
    if (!ZELPropertyList::readFile(url, &plist, nullptr) || !plist.isDictionary()) {
        return fail("could not load");
    }
    const ZELValue* identification = plist.valueForKey(aspectDefsFileIdentifier);
    if (!identification || !identification->isString() ||
        identification->utf8Value() != aspectDefsFileIdentifier) {
        return fail("bad identifier");
    }
    const ZELValue* version = plist.valueForKey("Version");
    if (!version || !version->isNumber() || version->integerValue() != aspectDefsFileVersion) {
        return fail("unsupported version");
    }
    const ZELValue* definitions = plist.valueForKey("AspectDefs");
    if (definitions && !definitions->isArray()) return fail("could not load");
    std::vector<std::shared_ptr<ZELAspect>> aspects;
    if (definitions) {
        for (const ZELValue& definition : definitions->arrayValue()) {
            auto aspect = aspectWithDefinition(db, definition, outError);
            if (!aspect) {
                for (auto& made : aspects) made->invalidate();
                return std::nullopt;
            }
            aspects.push_back(std::move(aspect));
        }
    }
    return aspects;
}

bool ZELAspect::saveInfoForAspects(const std::vector<std::shared_ptr<ZELAspect>>& aspects,
                                   const std::filesystem::path& url, ZELError* outError) {
    ZELValue::Array definitions;
    for (const auto& aspect : aspects) definitions.push_back(aspect->aspectDefinitionDictionary());
    ZELValue::Dictionary plist{
        {ZELStringFromUTF8(aspectDefsFileIdentifier), ZELValue::fromUTF8(aspectDefsFileIdentifier)},
        {u"Version", ZELValue(aspectDefsFileVersion)},
        {u"AspectDefCount", ZELValue(static_cast<int64_t>(aspects.size()))},
        {u"AspectDefs", ZELValue(std::move(definitions))},
    };
    // Replaced atomically (a crash leaves the old or the new definitions, never a torn file).
    if (!ZELPropertyList::writeFile(url, ZELValue(std::move(plist)), nullptr)) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeWriteFailed,
                                         "Could not save aspect meta info file."));
    }
    return true;
}

// zel search DIR WORDS... [--save FILE.query]
#include <filesystem>
#include <map>
#include <ostream>

#include "ZELJSON.h"
#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/query/ZELQuery.h"
#include "zel/userquery/ZELUserQuery.h"
#include "zel/userquery/ZELUserQueryListEntry.h"

void ZELToolPrintUserQueryResults(ZELDatabase& database, const ZELUserQuery& userQuery,
                                  ZELToolOutput output) {
    output.out << "query: " << ZELStringToUTF8(userQuery.stringRepresentation()) << '\n';
    std::shared_ptr<ZELQuery> query = userQuery.generatedQueryForDatabase(database);
    std::vector<ZELID> itemIDs;
    if (query) {
        std::shared_ptr<ZELIDVector> matches = database.accessLockedUsing(
            [&] { return query->calculateMatchingItemIDVector(database, nullptr); });
        if (matches) matches->enumerateIDs([&](ZELID id, bool&) { itemIDs.push_back(id); });
    }
    output.out << itemIDs.size() << (itemIDs.size() == 1 ? " item\n" : " items\n");
    for (ZELID itemID : itemIDs) ZELToolWriteItemLine(database, itemID, output.out);
    output.out.flush();
}

std::shared_ptr<ZELUserQuery> ZELToolUserQueryFromWords(ZELToolOpenDatabase& opened, const std::vector<std::string>& words,
                                                        std::string* outMessage) {
    ZELDatabase& database = *opened.database;
    // As the search field makes tokens: every word is one criteria; unprefixed words share one
    // group of every aspect and a prefixed word ("title:oak") the group of its prefix, so that
    // words in the same OR-aspects widen the search as tokens of one field do.
    auto everywhere = ZELAspectTokenFieldGroup::groupWithAspects(database.allAspects());
    // The group a prefix narrows to: the schema's search prefixes first, then an aspect's own
    // identifier. None for a text that is not a prefix (the colon is then part of the word).
    std::map<ZELString, std::shared_ptr<ZELAspectTokenFieldGroup>> prefixGroups;
    auto groupForPrefix = [&](const ZELString& prefix) -> std::shared_ptr<ZELAspectTokenFieldGroup> {
        if (auto known = prefixGroups.find(prefix); known != prefixGroups.end()) return known->second;
        std::vector<std::shared_ptr<ZELAspect>> aspects;
        if (auto named = opened.settings.searchPrefixes.find(prefix);
            named != opened.settings.searchPrefixes.end()) {
            for (const ZELString& identifier : named->second) {
                if (auto aspect = database.aspectWithIdentifier(identifier)) aspects.push_back(aspect);
            }
        } else if (auto aspect = database.aspectWithIdentifier(prefix)) {
            aspects.push_back(aspect);
        }
        if (aspects.empty()) return nullptr;
        return prefixGroups[prefix] = ZELAspectTokenFieldGroup::groupWithAspects(aspects, prefix);
    };
    ZELUserQuery::CriteriaList criterias;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        auto criteria = ZELUserCriteria::criteria();
        if (word.size() > 1 && word[0] == '!') {
            criteria->setIsNegate(true);
            word.erase(0, 1);
        }
        std::shared_ptr<ZELAspectTokenFieldGroup> group = everywhere;
        if (const size_t colon = word.find(':'); colon != std::string::npos && colon > 0) {
            if (auto prefixGroup = groupForPrefix(ZELStringFromUTF8(word.substr(0, colon)))) {
                group = prefixGroup;
                word.erase(0, colon + 1);
            }
        }
        if (word.empty()) {
            *outMessage = "empty search word \"" + words[i] + "\"";
            return nullptr;
        }
        criteria->setSearchTerms({ZELStringFromUTF8(word)});
        criteria->setAspectGroups({group});
        criterias.push_back(std::move(criteria));
    }
    auto userQuery = ZELUserQuery::query();
    userQuery->addUserCriterias(criterias);
    return userQuery;
}

int ZELToolSearch(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::vector<std::string> words;
    std::string savePath;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--save") {
            if (i + 1 >= arguments.size()) return ZELToolUsageError(output, "--save needs FILE.query");
            savePath = arguments[++i];
        } else {
            words.push_back(arguments[i]);
        }
    }
    if (words.size() < 2) return ZELToolUsageError(output, "search needs DIR and at least one word");
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(words[0], &message);
    if (!opened) return ZELToolFail(output, message);
    words.erase(words.begin());

    std::shared_ptr<ZELUserQuery> userQuery = ZELToolUserQueryFromWords(*opened, words, &message);
    if (!userQuery) return ZELToolUsageError(output, message);

    if (!savePath.empty()) {
        auto entry = ZELUserQueryListEntry::entryWithTitle(
            ZELStringFromUTF8(std::filesystem::path(savePath).stem().string()), userQuery);
        ZELError error;
        if (!ZELPropertyList::writeFile(savePath, entry->plistSerialization(), &error)) {
            return ZELToolFail(output, savePath + ": " + ZELToolErrorText(error));
        }
    }
    ZELToolPrintUserQueryResults(*opened->database, *userQuery, output);
    return ZELToolExitSuccess;
}

// zel dump DIR
#include <map>
#include <ostream>

#include <nlohmann/json.hpp>

#include "ZELJSON.h"
#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/tokenizer/ZELTokenizer.h"

namespace {

std::vector<ZELID> idsOf(const std::shared_ptr<ZELIDVector>& vector) {
    std::vector<ZELID> ids;
    if (!vector) return ids;
    ids.reserve(vector->count());
    vector->enumerateIDs([&](ZELID id, bool&) { ids.push_back(id); });
    return ids;
}

// A text as a JSON string literal, so that spaces and control characters stay visible.
std::string quoted(const ZELString& text) {
    return nlohmann::json(ZELStringToUTF8(text)).dump();
}

std::string tokenizerSummary(const ZELAspect& aspect) {
    std::shared_ptr<ZELTokenizer> tokenizer = aspect.aspectValueTokenizer();
    if (!tokenizer) return "no tokenizer";
    std::string summary = tokenizer->className();
    if (!tokenizer->clientObjectValueGetter().empty()) summary += ", key " + quoted(ZELStringFromUTF8(tokenizer->clientObjectValueGetter()));
    if (aspect.isUsedToDetectDuplicates()) summary += ", detects duplicates";
    return summary;
}

// "ID \"Canonical\" (normalized) uses N".
std::string termText(ZELDatabase& database, ZELID aspectBitID, const ZELString& normalized,
                     const std::optional<ZELString>& canonical) {
    std::shared_ptr<ZELAspectBitValueInfo> info = database.aspectBitValueInfoForID(aspectBitID);
    std::string text = std::to_string(aspectBitID) + " " + quoted(canonical ? *canonical : normalized);
    if (canonical && *canonical != normalized) text += " (" + quoted(normalized) + ")";
    return text + " uses " + (info ? std::to_string(info->useCount()) : std::string("?"));
}

}  // namespace

int ZELToolDump(const std::vector<std::string>& arguments, ZELToolOutput output) {
    if (arguments.size() != 1 || arguments[0].rfind("--", 0) == 0) return ZELToolUsageError(output, "dump needs DIR");
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(arguments[0], &message);
    if (!opened) return ZELToolFail(output, message);
    ZELDatabase& database = *opened->database;
    const std::vector<std::shared_ptr<ZELAspect>> aspects = database.allAspects();
    const std::vector<ZELID> itemIDs = idsOf(database.allExistingItemIDs());

    output.out << "database " << quoted(ZELStringFromUTF8(database.identifier())) << ": " << itemIDs.size()
               << (itemIDs.size() == 1 ? " item, " : " items, ") << aspects.size()
               << (aspects.size() == 1 ? " aspect\n" : " aspects\n");

    // Every term of every aspect, in the order of the aspect's sorted list.
    for (const std::shared_ptr<ZELAspect>& aspect : aspects) {
        struct Term {
            ZELID id;
            ZELString normalized;
            ZELString canonical;
        };
        std::vector<Term> terms;
        database.accessLockedUsing([&] {
            aspect->enumerateCompletionsWithNormalizedPrefix(
                ZELString(), nullptr, [&](const ZELString& normalized, const ZELString& canonical, ZELID id, bool&) {
                    terms.push_back({id, normalized, canonical});
                });
        });
        output.out << "\naspect " << aspect->aspectID() << " " << quoted(aspect->aspectIdentifier()) << " ("
                   << tokenizerSummary(*aspect) << "): " << terms.size() << (terms.size() == 1 ? " term\n" : " terms\n");
        for (const Term& term : terms) {
            output.out << "  " << termText(database, term.id, term.normalized, term.canonical) << '\n';
        }
    }

    // Every item with its record and its terms, grouped by aspect in aspect order.
    for (ZELID itemID : itemIDs) {
        output.out << '\n';
        ZELToolWriteItemLine(database, itemID, output.out);
        std::map<uint32_t, std::vector<std::string>> termsByAspectID;
        std::vector<std::string> unknown;
        for (ZELID aspectBitID : idsOf(database.aspectIDVectorForItemID(itemID))) {
            std::shared_ptr<ZELAspect> aspect;
            const std::optional<ZELString> canonical = database.aspectBitCanonicalValueForID(aspectBitID, &aspect);
            const std::optional<ZELString> normalized = database.aspectBitNormalizedValueForID(aspectBitID);
            if (!aspect || !normalized) {
                unknown.push_back(std::to_string(aspectBitID));
                continue;
            }
            termsByAspectID[aspect->aspectID()].push_back(termText(database, aspectBitID, *normalized, canonical));
        }
        for (const std::shared_ptr<ZELAspect>& aspect : aspects) {
            const auto found = termsByAspectID.find(aspect->aspectID());
            if (found == termsByAspectID.end()) continue;
            output.out << "  " << ZELStringToUTF8(aspect->aspectIdentifier()) << ":\n";
            for (const std::string& term : found->second) output.out << "    " << term << '\n';
        }
        if (!unknown.empty()) {
            output.out << "  unknown term IDs:";
            for (const std::string& id : unknown) output.out << ' ' << id;
            output.out << '\n';
        }
    }
    output.out.flush();
    return ZELToolExitSuccess;
}

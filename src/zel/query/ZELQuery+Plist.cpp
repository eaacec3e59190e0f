// The property-list form of a query (version 1), described in docs/FORMATS.md, "Query
// property lists":
//
//   {"version": 1.0, "query": node}
//   node     := term | {"operator": "AND" | "OR" | "NOT", "operands": [node, ...]}
//   term     := aspect identifier + ": " + the aspect bit's canonical value
//
// The empty query is written as an empty dictionary under "query".

#include <charconv>
#include <cmath>
#include <ctime>
#include <set>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELError.h"
#include "zel/query/ZELQuery.h"

const char16_t* const ZELQueryPlistKey_Version = u"version";
const char16_t* const ZELQueryPlistKey_Query = u"query";
const char16_t* const ZELQueryPlistKey_Operator = u"operator";
const char16_t* const ZELQueryPlistKey_Operands = u"operands";
const char16_t* const ZELQueryPlistOperatorValue_AND = u"AND";
const char16_t* const ZELQueryPlistOperatorValue_OR = u"OR";
const char16_t* const ZELQueryPlistOperatorValue_NOT = u"NOT";
const char16_t* const ZELQueryPlistAspectValueDelimiter = u": ";

ZELString ZELQueryPlistOperatorValueForBooleanOperator(int32_t operation) {
    switch (operation) {
        case ZELBooleanOperationAND: return ZELQueryPlistOperatorValue_AND;
        case ZELBooleanOperationOR: return ZELQueryPlistOperatorValue_OR;
        case ZELBooleanOperationNOT: return ZELQueryPlistOperatorValue_NOT;
        default: return ZELString();
    }
}

bool ZELQueryPlistOperatorValueGetBooleanOperator(const ZELString* name,
                                                  ZELBooleanOperation* outOperation,
                                                  ZELError* outError) {
    if (name) {
        for (ZELBooleanOperation operation :
             {ZELBooleanOperationAND, ZELBooleanOperationOR, ZELBooleanOperationNOT}) {
            if (*name == ZELQueryPlistOperatorValueForBooleanOperator(operation)) {
                if (outOperation) *outOperation = operation;
                return true;
            }
        }
    }
    const std::string text = name ? ZELStringToUTF8(*name) : "(null)";
    return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                     ZELErrorCodeInvalidData,
                                     ZELStringWithFormat(
                                         "ZELQuery serialization has unknown operator \"%s\".",
                                         text.c_str())));
}

// ---- Writing ----

ZELValue ZELQuery::plistSerialization(ZELDatabase* database) const {
    ZELValue node = plistSerializationImplementation(database);
    if (node.isNone()) return ZELValue();
    return ZELValue(ZELValue::Dictionary{{ZELQueryPlistKey_Version, ZELValue(1.0)},
                                         {ZELQueryPlistKey_Query, std::move(node)}});
}

ZELValue ZELQuery::plistSerializationImplementation(ZELDatabase* database) const {
    std::optional<ZELValue::Array> operands = plistSerializationOperands(database);
    if (!operands) return ZELValue();
    // A node of one term is written as the term alone (its operation does not matter), and so
    // is a one-term AND or OR node below it; a negation always keeps its dictionary.
    if (booleanOperation() != ZELBooleanOperationNOT && operands->size() == 1) {
        const ZELValue& only = operands->front();
        if (only.isString()) return only;
        if (only.isDictionary()) {
            const ZELValue* name = only.valueForKey(ZELQueryPlistKey_Operator);
            const ZELValue* inner = only.valueForKey(ZELQueryPlistKey_Operands);
            if (name && name->isString() &&
                (name->stringValue() == ZELQueryPlistOperatorValue_AND ||
                 name->stringValue() == ZELQueryPlistOperatorValue_OR) &&
                inner && inner->isArray() && inner->arrayValue().size() == 1 &&
                inner->arrayValue().front().isString()) {
                return inner->arrayValue().front();
            }
        }
    }
    return ZELValue(ZELValue::Dictionary{
        {ZELQueryPlistKey_Operator,
         ZELValue(ZELQueryPlistOperatorValueForBooleanOperator(booleanOperation()))},
        {ZELQueryPlistKey_Operands, ZELValue(std::move(*operands))}});
}

// ---- Reading ----

namespace {

// The text of a property-list value in a message.
std::string valueText(const ZELValue& value) {
    switch (value.kind()) {
        case ZELValue::Kind::None: return "(null)";
        case ZELValue::Kind::Boolean: return value.booleanValue() ? "1" : "0";
        case ZELValue::Kind::Integer:
            return ZELStringWithFormat("%lld", static_cast<long long>(value.integerValue()));
        case ZELValue::Kind::Real: {
            char buffer[32];
            auto end = std::to_chars(buffer, buffer + sizeof buffer, value.realValue()).ptr;
            return std::string(buffer, end);
        }
        case ZELValue::Kind::String: return value.utf8Value();
        case ZELValue::Kind::Date: {
            const double seconds = std::floor(value.dateValue().timeIntervalSince1970);
            std::time_t time = std::isfinite(seconds) ? static_cast<std::time_t>(seconds) : 0;
            std::tm parts{};
            char buffer[40] = "";
            if (gmtime_r(&time, &parts)) std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &parts);
            return buffer;
        }
        case ZELValue::Kind::Data: {
            std::string text = "<";
            for (size_t index = 0; index < value.dataValue().size(); ++index) {
                if (index > 0 && index % 4 == 0) text += " ";
                text += ZELStringWithFormat("%02x", value.dataValue()[index]);
            }
            return text + ">";
        }
        case ZELValue::Kind::Array: {
            std::string text = "(";
            for (size_t index = 0; index < value.arrayValue().size(); ++index) {
                text += index > 0 ? ",\n    " : "\n    ";
                text += valueText(value.arrayValue()[index]);
            }
            return text + (value.arrayValue().empty() ? ")" : "\n)");
        }
        case ZELValue::Kind::Dictionary: {
            std::string text = "{";
            for (const auto& [key, element] : value.dictionaryValue()) {
                text += "\n    " + ZELStringToUTF8(key) + " = " + valueText(element) + ";";
            }
            return text + (value.dictionaryValue().empty() ? "}" : "\n}");
        }
        case ZELValue::Kind::Object:
            return value.objectValue() ? value.objectValue()->description() : "(null)";
    }
    return "";
}

bool failInvalid(ZELError* outError, const std::string& message) {
    return ZELSetError(outError,
                       ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, message));
}

// The reader of node dictionaries and term strings; the database lock is held by the caller
// for dictionary-form queries.
class ZELQueryPlistReader {
public:
    ZELQueryPlistReader(ZELDatabase* database, ZELError* outError)
        : database_(database), outError_(outError) {}

    // The aspect bit ID of "identifier: value"; 0 on failure, with the error.
    ZELID termID(const ZELString& term) {
        const size_t delimiter = term.find(ZELQueryPlistAspectValueDelimiter);
        if (delimiter == ZELString::npos) {
            failInvalid(outError_,
                        ZELStringWithFormat("ZELQuery serialization is invalid for the aspect "
                                            "value string \"%s\".",
                                            ZELStringToUTF8(term).c_str()));
            return 0;
        }
        const ZELString identifier = term.substr(0, delimiter);
        const ZELString value =
            term.substr(delimiter + std::char_traits<char16_t>::length(ZELQueryPlistAspectValueDelimiter));
        auto aspect = database_ ? database_->aspectWithIdentifier(identifier) : nullptr;
        if (!aspect) {
            ZELSetError(outError_, ZELError::errorWithZELErrorCode(
                                       ZELErrorCodeUnknownSearchCriterion,
                                       ZELStringWithFormat("The aspect \"%s\" is unknown, and "
                                                           "cannot be used for search criteria.",
                                                           ZELStringToUTF8(identifier).c_str())));
            return 0;
        }
        const ZELID id = aspect->aspectBitIDForValue(value, false);
        if (id == 0) {
            ZELSetError(outError_,
                        ZELError::errorWithZELErrorCode(
                            ZELErrorCodeUnknownSearchCriterion,
                            ZELStringWithFormat("The selector \"%s\" does not occur for the \"%s\" "
                                                "aspect, and cannot be used as a search condition.",
                                                ZELStringToUTF8(value).c_str(),
                                                ZELStringToUTF8(aspect->displayName()).c_str())));
        }
        return id;
    }

    // A node dictionary; null on failure, with the error.
    std::shared_ptr<ZELQuery> node(const ZELValue& dictionary) {
        const ZELValue* nameValue = dictionary.valueForKey(ZELQueryPlistKey_Operator);
        const ZELString* name =
            (nameValue && nameValue->isString()) ? &nameValue->stringValue() : nullptr;
        ZELBooleanOperation operation = ZELBooleanOperationAND;
        if (!ZELQueryPlistOperatorValueGetBooleanOperator(name, &operation, outError_)) {
            return nullptr;
        }
        const ZELValue* operandsValue = dictionary.valueForKey(ZELQueryPlistKey_Operands);
        static const ZELValue::Array noOperands;
        const ZELValue::Array& operands =
            (operandsValue && operandsValue->isArray()) ? operandsValue->arrayValue() : noOperands;

        ZELQuery::QueryList subqueries;
        std::shared_ptr<ZELIDVector> ids;
        if (!readOperands(operands, &subqueries, &ids)) return nullptr;

        // A negation of several operands negates their disjunction.
        const ZELBooleanOperation joining =
            operation == ZELBooleanOperationNOT ? ZELBooleanOperationOR : operation;
        auto joined = !subqueries.empty() ? ZELQuery::queryCombiningQueries(subqueries, joining)
                                          : ZELQuery::queryMatchingIDsInVector(ids.get(), joining);
        if (operation == ZELBooleanOperationNOT) return ZELQuery::queryNegatingQuery(joined);
        return joined;
    }

private:
    // Nested nodes go to `outSubqueries` in order; terms to `outIDs`, unless there are nested
    // nodes too: then the terms follow them, one match node each in ascending ID order.
    bool readOperands(const ZELValue::Array& operands, ZELQuery::QueryList* outSubqueries,
                      std::shared_ptr<ZELIDVector>* outIDs) {
        std::set<ZELID> ids;
        for (const ZELValue& operand : operands) {
            if (operand.isDictionary()) {
                auto subquery = node(operand);
                if (!subquery) return false;
                outSubqueries->push_back(std::move(subquery));
            } else if (operand.isString()) {
                const ZELID id = termID(operand.stringValue());
                if (id == 0) return false;
                ids.insert(id);
            } else {
                return failInvalid(outError_,
                                   ZELStringWithFormat("ZELQuery serialization has unknown operand: %s",
                                                       valueText(operand).c_str()));
            }
        }
        if (outSubqueries->empty() && ids.empty()) {
            return failInvalid(outError_, "ZELQuery serialization cannot contain empty operands.");
        }
        if (!outSubqueries->empty()) {
            for (ZELID id : ids) outSubqueries->push_back(ZELQuery::queryMatchingID(id));
            return true;
        }
        const std::vector<ZELID> sorted(ids.begin(), ids.end());
        *outIDs = ZELIDVector::vectorWithIDs(sorted.data(), static_cast<uint32_t>(sorted.size()));
        return *outIDs != nullptr;
    }

    ZELDatabase* const database_;
    ZELError* const outError_;
};

}  // namespace

std::shared_ptr<ZELQuery> ZELQuery::queryWithPlistSerialization(const ZELValue& dictionary,
                                                                ZELDatabase* database,
                                                                ZELError* outError) {
    // The version is read as a 32-bit real, and any 1.x is accepted.
    float version = 0;
    if (const ZELValue* value = dictionary.valueForKey(ZELQueryPlistKey_Version);
        value && value->isNumber()) {
        version = static_cast<float>(value->realValue());
    }
    if (!(std::trunc(version) == 1.0f)) {
        failInvalid(outError, ZELStringWithFormat(
                                  "ZELQuery serializaion has unsupported version=%.2f",
                                  static_cast<double>(version)));
        return nullptr;
    }

    ZELQueryPlistReader reader(database, outError);
    const ZELValue* node = dictionary.valueForKey(ZELQueryPlistKey_Query);
    if (node && node->isString()) {
        const ZELID id = reader.termID(node->stringValue());
        return id == 0 ? nullptr : queryMatchingID(id);
    }
    if (node && node->isDictionary()) {
        if (node->dictionaryValue().empty()) return emptyQuery();
        if (!database) return reader.node(*node);
        return database->accessLockedUsing([&] { return reader.node(*node); });
    }
    failInvalid(outError, "Expected dictionary or string for query object.");
    return nullptr;
}

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"
#include "zel/platform/ZELValue.h"

class ZELAspect;
class ZELDatabase;
class ZELError;
class ZELIDVector;
class ZELItemResultSet;

// The argument `type` of the description operations.
enum ZELQueryDescriptionType : int {
    ZELQueryDescriptionTypeBrief = 0,  // "ZELQuery_MatchIDs<0x...>"
    ZELQueryDescriptionTypeUser = 1,   // "Title AND \"annual report\"", shown to the user
    ZELQueryDescriptionTypeDebug = 2,  // the head, then the tree with aspect names
};

// The keys and operator names of the property-list form of a query (docs/FORMATS.md, "Query
// property lists"). Stored and exchanged; never change.
extern const char16_t* const ZELQueryPlistKey_Version;           // u"version"
extern const char16_t* const ZELQueryPlistKey_Query;             // u"query"
extern const char16_t* const ZELQueryPlistKey_Operator;          // u"operator"
extern const char16_t* const ZELQueryPlistKey_Operands;          // u"operands"
extern const char16_t* const ZELQueryPlistOperatorValue_AND;     // u"AND"
extern const char16_t* const ZELQueryPlistOperatorValue_OR;      // u"OR"
extern const char16_t* const ZELQueryPlistOperatorValue_NOT;     // u"NOT"
extern const char16_t* const ZELQueryPlistAspectValueDelimiter;  // u": "

// "AND", "OR" or "NOT" for the three operations; "" for any other value.
ZELString ZELQueryPlistOperatorValueForBooleanOperator(int32_t operation);
// The operation named by `name` (exact, case-sensitive). Null or another name: false, with
// code 3 "ZELQuery serialization has unknown operator \"<name>\"." ("(null)" for a null name).
bool ZELQueryPlistOperatorValueGetBooleanOperator(const ZELString* name,
                                                  ZELBooleanOperation* outOperation,
                                                  ZELError* outError);

// A query: a tree of immutable nodes that says which items to find. Leaves name aspect bit IDs
// (ZELQuery_MatchIDs), inner nodes combine children by AND or OR (ZELQuery_SubQueries) or
// negate one (ZELQuery_Negation); ZELQuery_Empty matches nothing. Nodes are made only by the
// factories below, never change afterwards and are shared (a child may belong to several
// trees), so a finished tree may be read and evaluated from any thread.
class ZELQuery : public ZELObject {
public:
    using QueryList = std::vector<std::shared_ptr<ZELQuery>>;
    using AspectList = std::vector<std::shared_ptr<ZELAspect>>;

    // ---- Factories ----

    static std::shared_ptr<ZELQuery> emptyQuery();
    // ID 0: the empty query; else a match node AND over {id}.
    static std::shared_ptr<ZELQuery> queryMatchingID(ZELID aspectBitID);
    // An empty (or null) vector: the empty query; else a match node over a copy of `vector`.
    static std::shared_ptr<ZELQuery> queryMatchingIDsInVector(const ZELIDVector* vector,
                                                              ZELBooleanOperation operation);
    static std::shared_ptr<ZELQuery> queryMatchingIDsInVector(const ZELIDVector& vector,
                                                              ZELBooleanOperation operation) {
        return queryMatchingIDsInVector(&vector, operation);
    }
    // No queries: the empty query. One: that very query. Only match nodes, each of
    // `operation` or holding one ID: one match node over their union. Otherwise a sub-queries
    // node over the list in order.
    static std::shared_ptr<ZELQuery> queryCombiningQueries(const QueryList& queries,
                                                           ZELBooleanOperation operation);
    // A negation node, without simplification (a double negation stays double).
    static std::shared_ptr<ZELQuery> queryNegatingQuery(std::shared_ptr<ZELQuery> query);
    // The match node of the value's aspect bit in the aspect (looked up, never assigned); the
    // empty query for an unknown aspect or value. Takes the database lock.
    static std::shared_ptr<ZELQuery> queryMatchingValue(const ZELString& value,
                                                        const ZELString& aspectIdentifier,
                                                        ZELDatabase& database);
    // Reads the property-list form (a dictionary holding "version" and "query"); null, with
    // the error, on any failure (nothing is partly built). A null database knows no aspect.
    static std::shared_ptr<ZELQuery> queryWithPlistSerialization(const ZELValue& dictionary,
                                                                 ZELDatabase* database,
                                                                 ZELError* outError);

    // ---- Common operations ----

    ZELBooleanOperation booleanOperation() const { return operation_; }
    // The number of subqueries: 0 for empty and match nodes, 1 for a negation; 0 for any query
    // without criteria, since those are all equal.
    uint64_t hash() const;
    // The same node; or, when this node has criteria, a node of the same kind with equal
    // contents; or, when it has none, another query without criteria. The boolean operation
    // takes no part. Other objects are never equal.
    bool isEqual(const ZELObject& other) const;
    bool isEqual(const std::shared_ptr<ZELQuery>& other) const { return other && isEqual(*other); }
    // descriptionWithDatabase(null, debug).
    std::string description() const override;
    // The database, when given, turns aspect bit IDs into "aspect=value" texts.
    std::string descriptionWithDatabase(ZELDatabase* database, ZELQueryDescriptionType type) const;
    // {"version": 1.0, "query": node}; none when the node cannot be written. Terms whose value
    // the database (may be null) does not know are left out.
    ZELValue plistSerialization(ZELDatabase* database) const;

    // ---- Evaluation (ZELQuery+Evaluation.cpp) ----

    // Evaluates the tree without constraint, holding the database lock, and wraps the answer
    // in a result set.
    std::shared_ptr<ZELItemResultSet> resultSetInDatabase(
        const std::shared_ptr<ZELDatabase>& database) const;
    // An equivalent tree with like nodes merged and negations moved behind their siblings;
    // the node itself when nothing changes.
    std::shared_ptr<ZELQuery> queryByOptimizingOperations() const;
    // The query without the terms outside `aspects` (restricting) or inside them (removing).
    // An empty aspect list answers the query unchanged; otherwise the database of the first
    // aspect is used, holding its lock.
    std::shared_ptr<ZELQuery> queryByRestrictingConstraintsToAspects(const AspectList& aspects) const;
    std::shared_ptr<ZELQuery> queryByRemovingConstraintsForAspects(const AspectList& aspects) const;
    // Requires (both): the database lock is held.
    std::shared_ptr<ZELQuery> queryByRestrictingConstraintsToAspects(const AspectList& aspects,
                                                                     ZELDatabase& database) const;
    std::shared_ptr<ZELQuery> queryByRemovingConstraintsForAspects(const AspectList& aspects,
                                                                   ZELDatabase& database) const;

    // ---- Overridden by the node kinds ----

    // `other` is a node of this kind with equal contents. Base: false.
    virtual bool isEqualToNonEmptyQuery(const ZELQuery& other) const;
    // The details of the description. Base: "".
    virtual std::string descriptionImplementation(ZELDatabase* database,
                                                  ZELQueryDescriptionType type) const;
    virtual bool hasAnyCriteria() const;
    // The children; null for nodes without them (empty and match nodes).
    virtual const QueryList* subqueries() const;
    // The aspect bit IDs of a match node; null for other kinds.
    virtual std::shared_ptr<ZELIDVector> aspectBitIDs() const;
    // One node equivalent to this node and `other` joined by this node's operation; null when
    // the pair cannot be merged. Callers only flatten nodes of the same operation.
    virtual std::shared_ptr<ZELQuery> queryByFlatteningWithQuery(
        const std::shared_ptr<ZELQuery>& other) const;
    // The restricting (keepInside true) or removing (false) transformation.
    // Requires: the database lock is held.
    virtual std::shared_ptr<ZELQuery> queryByFilteringConstraints(const AspectList& aspects,
                                                                  ZELDatabase& database,
                                                                  bool keepInside) const;
    // The item IDs matched; `constraint` (may be null) bounds the answer of negations, which
    // otherwise subtract from all existing items. Null for a node that cannot be evaluated.
    // Requires: the database lock is held.
    virtual std::shared_ptr<ZELIDVector> calculateMatchingItemIDVector(
        ZELDatabase& database, const ZELIDVector* constraint) const;
    // The node's property-list value (a term string or a node dictionary); none when it
    // cannot be written. Base: the general rule over plistSerializationOperands.
    virtual ZELValue plistSerializationImplementation(ZELDatabase* database) const;
    // The operands of the node dictionary; none when there are none to write. Base: none.
    virtual std::optional<ZELValue::Array> plistSerializationOperands(ZELDatabase* database) const;

protected:
    explicit ZELQuery(ZELBooleanOperation operation) : operation_(operation) {}

    // This node as a shared query (nodes are always owned by a std::shared_ptr).
    std::shared_ptr<ZELQuery> selfQuery() const;

private:
    // The database-less forms: the database of the first aspect, holding its lock.
    std::shared_ptr<ZELQuery> queryByFilteringConstraintsLocked(const AspectList& aspects,
                                                                bool keepInside) const;

    const ZELBooleanOperation operation_;
};

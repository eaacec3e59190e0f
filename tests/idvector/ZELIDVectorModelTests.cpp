// Every representation of the ID vector family, and every mix of them, against std::set.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELIDVector_BitBlock.h"
#include "zel/idvector/ZELIDVector_CArray.h"
#include "zel/idvector/ZELIDVector_IndexSet.h"
#include "zel/idvector/ZELMutableIDVector.h"

namespace {

using IDs = std::vector<ZELID>;
using Model = std::set<ZELID>;

enum class Kind { Array, MutableArray, IndexSet, MutableIndexSet, BitBlock };
constexpr Kind kAllKinds[] = {Kind::Array, Kind::MutableArray, Kind::IndexSet,
                              Kind::MutableIndexSet, Kind::BitBlock};
constexpr Kind kMutableKinds[] = {Kind::MutableArray, Kind::MutableIndexSet, Kind::BitBlock};

std::shared_ptr<ZELIDVector> makeVector(Kind kind, const Model& model) {
    const IDs ids(model.begin(), model.end());
    const auto count = static_cast<uint32_t>(ids.size());
    switch (kind) {
        case Kind::Array: return ZELIDVector_CArray::vectorWithIDs(ids.data(), count);
        case Kind::MutableArray: return ZELMutableIDVector_CArray::vectorWithIDs(ids.data(), count);
        case Kind::IndexSet: return ZELIDVector_IndexSet::vectorWithIDs(ids.data(), count);
        case Kind::MutableIndexSet: return ZELMutableIDVector_IndexSet::vectorWithIDs(ids.data(), count);
        case Kind::BitBlock: return ZELIDVector_BitBlock::vectorWithIDs(ids.data(), count);
    }
    return nullptr;
}

std::shared_ptr<ZELMutableIDVector> makeMutableVector(Kind kind, const Model& model) {
    return std::static_pointer_cast<ZELMutableIDVector>(makeVector(kind, model));
}

// Random sets of varied shape: empty, tiny, sparse, dense, runs of consecutive IDs (the
// index-set form's strength), over small and large ranges, of very different sizes (so that
// the galloping paths run too).
Model randomModel(std::mt19937& random) {
    Model model;
    const uint32_t shape = random() % 6;
    if (shape == 0) return model;
    static const ZELID limits[] = {16, 200, 5000, 1000000};
    const ZELID limit = limits[random() % 4];
    std::uniform_int_distribution<ZELID> pick(0, limit - 1);
    static const uint32_t bounds[] = {3, 30, 300, 1000};
    const uint32_t sizeClass = random() % 4;
    const uint32_t size = (sizeClass == 0 ? 1 : 0) + random() % bounds[sizeClass];
    if (shape == 1) {
        // Runs.
        for (uint32_t run = 0; run < 200 && model.size() < size; ++run) {
            const ZELID start = pick(random);
            const ZELID length = 1 + random() % 40;
            for (ZELID id = start; id < start + length && id < limit; ++id) model.insert(id);
        }
        return model;
    }
    for (uint32_t n = 0; n < size; ++n) model.insert(pick(random));
    return model;
}

IDs idsOf(const ZELIDVector& vector) {
    IDs ids;
    vector.enumerateIDsUsingBlock([&](ZELID id, bool&) { ids.push_back(id); });
    return ids;
}

Model unionOf(const Model& a, const Model& b) {
    Model out = a;
    out.insert(b.begin(), b.end());
    return out;
}

Model intersectionOf(const Model& a, const Model& b) {
    Model out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.end()));
    return out;
}

Model differenceOf(const Model& a, const Model& b) {
    Model out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.end()));
    return out;
}

// Every query of `vector` agrees with `model`.
void expectMatches(const Model& model, const ZELIDVector& vector) {
    const IDs expected(model.begin(), model.end());
    ASSERT_EQ(expected, idsOf(vector)) << vector.className();
    ASSERT_EQ(expected.size(), vector.count());
    ASSERT_EQ(expected.empty() ? 0 : expected.front(), vector.smallestID());
    ASSERT_EQ(expected.empty() ? 0 : expected.back(), vector.largestID());
    IDs buffer(expected.size() + 1);
    ASSERT_EQ(expected.size(), vector.getIDs(buffer.data(), static_cast<uint32_t>(buffer.size())));
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
    IDs fast;
    vector.enumerateIDs([&](ZELID id, bool&) { fast.push_back(id); });
    ASSERT_EQ(expected, fast);
    for (ZELID probe : {0u, 1u, 15u, 16u, 199u, 4999u, 999999u, 0x7FFFFFFEu}) {
        ASSERT_EQ(model.count(probe) != 0, vector.containsID(probe)) << probe;
    }
    for (size_t index = 0; index < expected.size(); index += 1 + expected.size() / 8) {
        ASSERT_TRUE(vector.containsID(expected[index]));
        ASSERT_EQ(model.count(expected[index] + 1) != 0, vector.containsID(expected[index] + 1));
    }
}

class ZELIDVectorModel : public ::testing::Test {
protected:
    std::mt19937 random_{20240601};

    Kind anyKind() { return kAllKinds[random_() % 5]; }
    Kind anyMutableKind() { return kMutableKinds[random_() % 3]; }
};

}  // namespace

TEST_F(ZELIDVectorModel, QueriesAndComparisons) {
    for (int round = 0; round < 1500; ++round) {
        const Model a = randomModel(random_);
        // Often related sets, so that subsets and equal sets come up.
        const uint32_t relation = random_() % 4;
        const Model b = relation == 0   ? a
                        : relation == 1 ? intersectionOf(a, randomModel(random_))
                                        : randomModel(random_);
        const auto va = makeVector(anyKind(), a);
        const auto vb = makeVector(anyKind(), b);
        expectMatches(a, *va);

        const bool superset = std::includes(a.begin(), a.end(), b.begin(), b.end());
        ASSERT_EQ(superset, va->isSupersetForVector(*vb));
        ASSERT_EQ(superset, va->containsVector(*vb));
        ASSERT_EQ(superset, vb->isSubsetOfVector(*va));
        ASSERT_EQ(!intersectionOf(a, b).empty(), va->intersectsVector(*vb));
        ASSERT_EQ(a == b, va->isEqual(*vb));
        ASSERT_EQ(a == b, *vb == *va);
        if (a == b) {
            ASSERT_EQ(va->hash(), vb->hash());
        }
    }
}

TEST_F(ZELIDVectorModel, SetAlgebraReturningNewVectors) {
    for (int round = 0; round < 800; ++round) {
        const Model a = randomModel(random_);
        const Model b = random_() % 5 == 0 ? a : randomModel(random_);
        const auto va = makeVector(anyKind(), a);
        const auto vb = makeVector(anyKind(), b);

        const auto unionVector = va->vectorByUnion(*vb);
        expectMatches(unionOf(a, b), *unionVector);
        if (!a.empty() && !b.empty()) {
            ASSERT_FALSE(unionVector->isMutable());
        }

        const auto intersection = va->vectorByIntersection(*vb);
        expectMatches(intersectionOf(a, b), *intersection);
        ASSERT_FALSE(intersection->isMutable());

        const auto difference = va->vectorBySubtracting(*vb);
        expectMatches(differenceOf(a, b), *difference);
        ASSERT_TRUE(difference->isMutable());
        // The operands stay as they were.
        expectMatches(a, *va);
        expectMatches(b, *vb);
    }
}

TEST_F(ZELIDVectorModel, InPlaceMutation) {
    for (int round = 0; round < 400; ++round) {
        Model model = randomModel(random_);
        const auto vector = makeMutableVector(anyMutableKind(), model);
        for (int step = 0; step < 6; ++step) {
            const Model other = randomModel(random_);
            const auto otherVector = makeVector(anyKind(), other);
            const IDs otherIDs(other.begin(), other.end());
            const auto otherCount = static_cast<uint32_t>(otherIDs.size());
            switch (random_() % 7) {
                case 0:
                    vector->addIDs(otherIDs.data(), otherCount);
                    model = unionOf(model, other);
                    break;
                case 1:
                    vector->removeIDs(otherIDs.data(), otherCount);
                    model = differenceOf(model, other);
                    break;
                case 2:
                    vector->unionWithVector(*otherVector);
                    model = unionOf(model, other);
                    break;
                case 3:
                    vector->intersectWithVector(*otherVector);
                    model = intersectionOf(model, other);
                    break;
                case 4:
                    vector->subtractVector(*otherVector);
                    model = differenceOf(model, other);
                    break;
                case 5: {
                    const ZELID id = static_cast<ZELID>(random_() % 3000);
                    vector->addID(id);
                    model.insert(id);
                    break;
                }
                default: {
                    const ZELID id = model.empty() || random_() % 2
                                         ? static_cast<ZELID>(random_() % 3000)
                                         : *std::next(model.begin(), random_() % model.size());
                    vector->removeID(id);
                    model.erase(id);
                    break;
                }
            }
            expectMatches(model, *vector);
            expectMatches(other, *otherVector);
        }
        // Copies keep what the vector holds.
        expectMatches(model, *vector->copy());
        expectMatches(model, *vector->mutableCopy());
    }
}

TEST_F(ZELIDVectorModel, ManyWayUnionAndIntersection) {
    for (int round = 0; round < 400; ++round) {
        const size_t operandCount = random_() % 7;
        std::vector<std::shared_ptr<ZELIDVector>> vectors;
        std::vector<Model> models;
        const Model shared = randomModel(random_);
        for (size_t n = 0; n < operandCount; ++n) {
            // Operands share part of their IDs so that intersections are seldom empty.
            Model model = randomModel(random_);
            if (random_() % 2) model = unionOf(model, shared);
            models.push_back(model);
            vectors.push_back(makeVector(anyKind(), model));
        }
        if (operandCount > 2 && random_() % 4 == 0) {
            // The same operand twice.
            vectors.push_back(vectors.front());
            models.push_back(models.front());
        }

        Model expectedUnion;
        Model expectedIntersection = models.empty() ? Model() : models.front();
        for (const auto& model : models) {
            expectedUnion = unionOf(expectedUnion, model);
            expectedIntersection = intersectionOf(expectedIntersection, model);
        }
        expectMatches(expectedUnion, *ZELIDVector::unionOfVectors(vectors));
        expectMatches(expectedIntersection, *ZELIDVector::intersectionOfVectors(vectors));
        for (size_t n = 0; n < models.size(); ++n) expectMatches(models[n], *vectors[n]);
    }
}

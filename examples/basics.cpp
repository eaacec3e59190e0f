// A small host program: builds a few ID vectors, combines them and prints their descriptions,
// then gathers what they cost in memory into a diagnostic report.

#include <cstdio>
#include <memory>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELIDVector_BitBlock.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/stream/ZELDiagnosticCollector.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

namespace {

void show(const char* label, const ZELIDVector& vector) {
    std::printf("%-22s %s\n", label, vector.description().c_str());
}

}  // namespace

int main() {
    // Items carrying two terms, as a query would find them.
    const ZELID redIDs[] = {1, 2, 3, 5, 8, 13, 21};
    const ZELID largeIDs[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    const auto red = ZELIDVector::vectorWithIDs(redIDs, 7);
    const auto large = ZELIDVector::vectorWithIDs(largeIDs, 16);
    show("red", *red);
    show("large", *large);

    show("red AND large", *red->vectorByIntersection(*large));
    show("red OR large", *red->vectorByUnion(*large));
    show("red NOT large", *red->vectorBySubtracting(*large));

    // A growable vector, changed in place.
    const auto picked = ZELMutableIDVector::vectorWithIDsInString("34, 1; 21 3");
    picked->addID(55);
    picked->removeID(1);
    picked->intersectWithVector(*ZELIDVector::vectorWithIDsInString("3 21 34 55 89"));
    show("picked", *picked);
    std::printf("picked is a subset of red: %s\n", picked->isSubsetOfVector(*red) ? "yes" : "no");

    // Many-way operations, across representations.
    const std::vector<std::shared_ptr<ZELIDVector>> operands = {
        red, large, picked, ZELIDVector_BitBlock::vectorWithIDs(redIDs + 4, 3)};
    show("union of four", *ZELIDVector::unionOfVectors(operands));
    show("intersection of three", *ZELIDVector::intersectionOfVectors({red, large, operands[3]}));

    // Diagnostics: what the vectors hold in memory, and a warning, in one report.
    ZELMemoryMetricsGatherer gatherer;
    ZELDiagnosticCollector collector;
    for (const auto& vector : operands) {
        gatherer.addByteCountToRAM(vector->byteCountInActiveRAM());
        collector.addRequiredMemoryByteCount(vector->byteCountInActiveRAM());
        if (vector->memoryResidentUnusedByteCount() > 0) {
            collector.reportWarning(vector->className() + " holds spare capacity");
        }
    }
    collector.reportDiagnosticMessage(*picked);
    std::printf("memory: %s\n%s\n", gatherer.description().c_str(),
                collector.allCollectedInformationDump().c_str());
    return 0;
}

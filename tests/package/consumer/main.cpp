// A host program outside the source tree: it sees only the installed headers and library.
#include <cstdio>

#include "zel/idvector/ZELIDVector.h"

int main() {
    const ZELID ids[] = {3, 5, 8};
    auto vector = ZELIDVector::vectorWithIDs(ids, 3);
    std::printf("count=%u\n", vector->count());
    return vector->containsID(5) ? 0 : 1;
}

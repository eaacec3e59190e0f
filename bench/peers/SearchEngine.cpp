#include "SearchEngine.h"

#include "FTS5SearchEngine.h"
#include "XapianSearchEngine.h"
#include "ZELSearchEngine.h"

#include <cstdlib>

std::unique_ptr<SearchEngine> makeSearchEngine(const std::string& name) {
    if (name == "zel") return std::make_unique<ZELSearchEngine>(1);
    if (name.rfind("zel-t", 0) == 0 && name.size() > 5) {
        char* end = nullptr;
        const unsigned long threads = std::strtoul(name.c_str() + 5, &end, 10);
        if (*end == '\0' && threads >= 1 && threads <= 256) {
            return std::make_unique<ZELSearchEngine>(static_cast<unsigned>(threads));
        }
    }
    if (name == "fts5-none") return std::make_unique<FTS5SearchEngine>(false);
    if (name == "fts5-full") return std::make_unique<FTS5SearchEngine>(true);
    if (name == "xapian") return std::make_unique<XapianSearchEngine>();
    return nullptr;
}

const std::vector<std::string>& allSearchEngineNames() {
    static const std::vector<std::string> names = {"zel", "fts5-none", "fts5-full", "xapian"};
    return names;
}

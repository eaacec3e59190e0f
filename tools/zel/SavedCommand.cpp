// zel saved FOLDER [--db DIR [--run TITLE]]
#include <ostream>

#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "zel/platform/TarvoSecureURL.h"
#include "zel/userquery/ZELUserQuery.h"
#include "zel/userquery/ZELUserQueryList.h"

namespace {

// Entries (with their searches when a database is open) and sublists, indented by depth.
void printList(ZELUserQueryList& list, ZELDatabase* database, int depth, ZELToolOutput output) {
    list.ensureLoaded();
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    for (const auto& entry : list.entries()) {
        output.out << indent << ZELStringToUTF8(entry->title().value_or(u""));
        if (database) {
            ZELError error;
            auto query = entry->userQueryWithDatabase(*database, &error);
            output.out << ": " << (query ? ZELStringToUTF8(query->stringRepresentation())
                                         : "unreadable: " + ZELToolErrorText(error));
        }
        output.out << '\n';
    }
    for (const auto& sublist : list.sublists()) {
        output.out << indent << ZELStringToUTF8(sublist->title().value_or(u"")) << "/\n";
        printList(*sublist, database, depth + 1, output);
    }
}

// The entry named by "Title" or "Sub/Title".
std::shared_ptr<ZELUserQueryListEntry> findEntry(ZELUserQueryList& list, const std::string& path) {
    list.ensureLoaded();
    const size_t slash = path.find('/');
    if (slash == std::string::npos) {
        for (const auto& entry : list.entries()) {
            if (entry->title() && ZELStringToUTF8(*entry->title()) == path) return entry;
        }
        return nullptr;
    }
    for (const auto& sublist : list.sublists()) {
        if (sublist->title() && ZELStringToUTF8(*sublist->title()) == path.substr(0, slash)) {
            return findEntry(*sublist, path.substr(slash + 1));
        }
    }
    return nullptr;
}

}  // namespace

int ZELToolSaved(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::string folder, databaseFolder, runTitle;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--db" || argument == "--run") {
            if (i + 1 >= arguments.size()) return ZELToolUsageError(output, argument + " needs a value");
            (argument == "--db" ? databaseFolder : runTitle) = arguments[++i];
        } else if (folder.empty() && argument.rfind("--", 0) != 0) {
            folder = argument;
        } else {
            return ZELToolUsageError(output, "unexpected argument \"" + argument + "\"");
        }
    }
    if (folder.empty()) return ZELToolUsageError(output, "saved needs FOLDER");
    if (!runTitle.empty() && databaseFolder.empty()) return ZELToolUsageError(output, "--run needs --db DIR");

    ZELError error;
    auto location = TarvoSecureURL::secureURLCapturingBookmarkForURL(folder, true, &error);
    auto list = location ? ZELUserQueryList::listWithContentsOfFolder(
                               location, ZELUserQueryList::LoadFlagLoadSubfolders, &error)
                         : nullptr;
    if (!list) return ZELToolFail(output, ZELToolErrorText(error));

    std::optional<ZELToolOpenDatabase> opened;
    if (!databaseFolder.empty()) {
        std::string message;
        opened = ZELToolOpenDatabaseInFolder(databaseFolder, &message);
        if (!opened) return ZELToolFail(output, message);
    }
    if (runTitle.empty()) {
        printList(*list, opened ? opened->database.get() : nullptr, 0, output);
        output.out.flush();
        return ZELToolExitSuccess;
    }
    auto entry = findEntry(*list, runTitle);
    if (!entry) return ZELToolFail(output, "no saved search \"" + runTitle + "\" in " + folder);
    auto query = entry->userQueryWithDatabase(*opened->database, &error);
    if (!query) return ZELToolFail(output, runTitle + ": " + ZELToolErrorText(error));
    ZELToolPrintUserQueryResults(*opened->database, *query, output);
    return ZELToolExitSuccess;
}

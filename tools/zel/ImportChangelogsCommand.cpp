// zel import-changelogs DIR [FILES...]
#include <chrono>
#include <cstdio>
#include <ostream>

#include "ZELTool.h"
#include "ZELToolChangelogImport.h"
#include "zel/database/ZELDatabase.h"

int ZELToolImportChangelogs(const std::vector<std::string>& arguments, ZELToolOutput output) {
    for (const std::string& argument : arguments) {
        if (argument.rfind("--", 0) == 0)
            return ZELToolUsageError(output, "import-changelogs: unknown option " + argument);
    }
    if (arguments.empty()) return ZELToolUsageError(output, "import-changelogs needs DIR");
    const std::string& folder = arguments[0];
    std::vector<std::string> files(arguments.begin() + 1, arguments.end());
    if (files.empty()) files = ZELToolInstalledChangelogFiles();

    const auto started = std::chrono::steady_clock::now();
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenChangelogDatabase(folder, &message);
    if (!opened) return ZELToolFail(output, message);
    std::optional<ZELToolChangelogImport> import =
        ZELToolImportChangelogFiles(*opened, files, output, &message);
    if (!import) return ZELToolFail(output, folder + ": " + message + " (nothing was saved)");
    ZELDatabase& database = *opened->database;
    if (!database.ensureSerialized()) {
        return ZELToolFail(output, folder + ": cannot save the database: " +
                                       ZELToolErrorText(database.lastSerializationError()));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    output.out << "read " << import->files << (import->files == 1 ? " file" : " files");
    if (import->unreadableFiles) output.out << " (" << import->unreadableFiles << " unreadable)";
    output.out << ": " << import->read.entries
               << (import->read.entries == 1 ? " entry, " : " entries, ")
               << import->read.skippedEntries << " malformed skipped, "
               << import->read.undatedEntries << " without a date\n";
    output.out << "stored " << import->added.added
               << (import->added.added == 1 ? " item" : " items") << ", merged "
               << import->added.merged << (import->added.merged == 1 ? " repeat; " : " repeats; ")
               << database.itemCount() << (database.itemCount() == 1 ? " item in " : " items in ")
               << folder << '\n';
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", seconds);
    output.out << "time " << time << " s" << std::endl;
    return ZELToolExitSuccess;
}

// zel add DIR ITEMS.jsonl
#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "ZELToolRecords.h"

int ZELToolAdd(const std::vector<std::string>& arguments, ZELToolOutput output) {
    for (const std::string& argument : arguments) {
        if (argument.size() > 1 && argument.rfind("-", 0) == 0) return ZELToolUsageError(output, "add: unknown option " + argument);
    }
    if (arguments.size() != 2) return ZELToolUsageError(output, "add needs DIR and ITEMS.jsonl");
    const std::string& folder = arguments[0];
    const std::string& itemsPath = arguments[1];
    const std::string sourceName = itemsPath == "-" ? "<stdin>" : itemsPath;

    // Everything is read and checked before the first record is added.
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(folder, &message);
    if (!opened) return ZELToolFail(output, message);
    std::string text;
    if (!ZELToolReadInput(itemsPath, &text)) return ZELToolFail(output, sourceName + ": cannot read the file");
    std::optional<ZELToolRecordLines> parsed = ZELToolParseRecordLines(text, sourceName, opened->settings.dateKeys, &message);
    if (!parsed) return ZELToolFail(output, message);

    ZELDatabase& database = *opened->database;
    const size_t total = parsed->records.size();
    ZELToolProgress progress(output.err, sourceName, "records");
    ZELToolAddCounts counts;
    if (std::optional<size_t> refused = ZELToolAddRecords(database, std::move(parsed->records), opened->settings, progress, &counts)) {
        // Nothing is saved, so the folder stays as it was.
        progress.abandon();
        return ZELToolFail(output, sourceName + ":" + std::to_string(parsed->lines[*refused]) +
                                       ": the database refused the record (nothing was saved)");
    }
    progress.finish(total, total, ", saving");
    if (!database.ensureSerialized()) {
        return ZELToolFail(output, folder + ": cannot save the database: " + ZELToolErrorText(database.lastSerializationError()));
    }
    output.out << "added " << counts.added << (counts.added == 1 ? " record" : " records") << ", matched " << counts.merged
               << (counts.merged == 1 ? " duplicate" : " duplicates") << "; " << database.itemCount() << " items in "
               << folder << std::endl;
    return ZELToolExitSuccess;
}

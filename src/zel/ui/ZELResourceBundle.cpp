#include "zel/ui/ZELResourceBundle.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELLog.h"

namespace fs = std::filesystem;

ZELResourceBundle ZELResourceBundle::mainBundle() {
    return ZELResourceBundle(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/") +
                             QString::fromStdString(ZELFileManager::applicationName()));
}

std::optional<QString> ZELResourceBundle::pathForResource(const QString& name,
                                                          const QString& extension) const {
    const QString path = folder_ + '/' + name + (extension.isEmpty() ? QString() : '.' + extension);
    if (!QFileInfo(path).isFile()) return std::nullopt;
    return path;
}

std::optional<QString> ZELResourceBundle::shareableURLForResource(const QString& name,
                                                                  const QString& extension) const {
    const std::optional<QString> resource = pathForResource(name, extension);
    if (!resource) return std::nullopt;
    const fs::path source = resource->toStdString();
    std::optional<std::string> support =
        ZELFileManager::mainBundleApplicationSupportFolderURLWithCreate(true, nullptr);
    if (!support) return resource;
    const fs::path shared = fs::path(*support) / "Shared";
    if (!ZELFileManager::createDirectoryRecursivelyAtURL(shared.string(), nullptr)) return resource;

    const fs::path copy = shared / source.filename();
    std::error_code error;
    const fs::file_time_type modified = fs::last_write_time(source, error);
    if (error) return resource;
    if (fs::is_regular_file(copy, error) && fs::last_write_time(copy, error) == modified &&
        !error) {
        return QString::fromStdString(copy.string());
    }
    // The copy is built beside its place and takes it in one rename, so that a reader never
    // sees half a file; it carries the resource's time, so that the next call reuses it.
    ZELError replaceError;
    std::optional<std::string> temporary =
        ZELFileManager::temporaryItemURLForReplacingItemAtURL(copy.string(), &replaceError);
    bool copied = temporary && fs::copy_file(source, *temporary, error);
    if (copied) fs::last_write_time(*temporary, modified, error);
    copied = copied && !error &&
             ZELFileManager::replaceItemAtURL(copy.string(), *temporary, &replaceError);
    if (!copied) {
        ZELLog("could not make a shareable copy of " + source.string() + ": " +
               (error ? error.message() : replaceError.description()));
        if (temporary) fs::remove_all(fs::path(*temporary).parent_path(), error);
        return resource;
    }
    return QString::fromStdString(copy.string());
}

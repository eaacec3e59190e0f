#pragma once

#include <QString>
#include <optional>

// The folder of an application's read-only resources, and copies of them that other programs
// may be handed: a resource in the bundle may sit where others cannot reach it or may vanish
// with an update, so a shareable copy is kept in the "Shared" folder of the application-support
// folder and made again only when the resource changes. Plain value; any thread.
class ZELResourceBundle {
public:
    // The running application's bundle: "<executable folder>/../share/<application name>".
    static ZELResourceBundle mainBundle();
    explicit ZELResourceBundle(QString resourceFolder) : folder_(std::move(resourceFolder)) {}

    const QString& resourceFolder() const { return folder_; }
    // "<folder>/<name>.<extension>" when that file exists.
    std::optional<QString> pathForResource(const QString& name, const QString& extension) const;

    // None when the bundle has no such resource. Otherwise the copy in
    // "<application support>/Shared/<name>.<extension>": an existing copy whose modification
    // time equals the resource's is reused; any other is replaced by a fresh copy, written
    // atomically and given the resource's modification time. When the folder cannot be had or
    // the copy fails, the resource's own path.
    std::optional<QString> shareableURLForResource(const QString& name,
                                                   const QString& extension) const;

private:
    QString folder_;
};

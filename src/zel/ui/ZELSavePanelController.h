#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class QComboBox;
class QFileDialog;
class ZELUserDefaults;

// Prepares save panels with a "File Format:" chooser below the file list, listing the allowed
// types in the order they were added, and remembers the chosen type's identifier in the user
// defaults under `lastUsedFileTypeDefaultsKey`. Types are named by uniform type identifiers;
// those the platform knows ("public.plain-text", "public.html", ...) are mapped to MIME types,
// whose descriptions and suffixes come from QMimeDatabase; others are added with their own.
//
// The panel is a non-native QFileDialog, since native dialogs take no extra widgets. Owned
// by its creator; GUI thread only. It must outlive the panels it prepared.
class ZELSavePanelController : public QObject {
    Q_OBJECT

public:
    // The object name of the chooser, for finding it in a panel.
    static constexpr const char* formatChooserName = "ZELFileFormatChooser";

    // Remembers formats in `defaults` (not owned), ZELUserDefaults::standard() by default.
    explicit ZELSavePanelController(ZELUserDefaults* defaults = nullptr, QObject* parent = nullptr);

    // The MIME type the platform's identifier stands for, or none for an identifier it lacks.
    static std::optional<QString> mimeTypeNameForUTI(const QString& uti);
    // Appends a type the MIME database describes; a type without a description is not added.
    void addAllowedFileTypeWithUTI(const QString& uti);
    // Appends a type of the host's own: its description and file name suffixes (no dots).
    void addAllowedFileType(const QString& uti, const QString& description,
                            const QStringList& suffixes);
    const QStringList& allowedTypeNames() const { return names_; }
    const QStringList& allowedTypeUTIs() const { return utis_; }

    const QString& lastUsedFileTypeDefaultsKey() const { return defaultsKey_; }
    void setLastUsedFileTypeDefaultsKey(QString key) { defaultsKey_ = std::move(key); }

    // A new save panel (owned by the caller, a child of `parent`) prepared as below.
    QFileDialog* newPreparedSavePanel(QWidget* parent);
    // Adds the chooser with one item per allowed type, selects the remembered type (else the
    // first) and allows exactly the selected type in the panel.
    void prepareSavePanel(QFileDialog* panel);
    // The identifier of the type chosen in a prepared panel; empty without a chooser.
    static QString UTISelectedInPreparedSavePanel(const QFileDialog* panel);

private:
    void allowFileType(QFileDialog* panel, int index);
    void changeAllowedFileType(QFileDialog* panel, int index);

    ZELUserDefaults* defaults_;  // not owned
    QStringList names_;          // in step with utis_ and suffixes_
    QStringList utis_;
    std::vector<QStringList> suffixes_;
    QString defaultsKey_;
};

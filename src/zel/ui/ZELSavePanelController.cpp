#include "zel/ui/ZELSavePanelController.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeDatabase>
#include <map>

#include "zel/platform/ZELUserDefaults.h"

namespace {

// The platform's type identifiers that have a MIME type.
const std::map<QString, QString>& utiMimeTypes() {
    static const std::map<QString, QString> types = {
        {"public.plain-text", "text/plain"},
        {"public.utf8-plain-text", "text/plain"},
        {"public.rtf", "text/rtf"},
        {"public.html", "text/html"},
        {"public.xml", "application/xml"},
        {"public.json", "application/json"},
        {"public.comma-separated-values-text", "text/csv"},
        {"com.adobe.pdf", "application/pdf"},
        {"public.png", "image/png"},
        {"public.jpeg", "image/jpeg"},
        {"public.tiff", "image/tiff"},
        {"com.microsoft.word.doc", "application/msword"},
        {"com.apple.property-list", "application/x-plist"},
        {"public.zip-archive", "application/zip"},
    };
    return types;
}

}  // namespace

ZELSavePanelController::ZELSavePanelController(ZELUserDefaults* defaults, QObject* parent)
    : QObject(parent), defaults_(defaults ? defaults : &ZELUserDefaults::standard()) {}

std::optional<QString> ZELSavePanelController::mimeTypeNameForUTI(const QString& uti) {
    const auto known = utiMimeTypes().find(uti);
    if (known == utiMimeTypes().end()) return std::nullopt;
    return known->second;
}

void ZELSavePanelController::addAllowedFileTypeWithUTI(const QString& uti) {
    const std::optional<QString> mimeName = mimeTypeNameForUTI(uti);
    if (!mimeName) return;
    const QMimeType type = QMimeDatabase().mimeTypeForName(*mimeName);
    if (!type.isValid() || type.comment().isEmpty()) return;
    addAllowedFileType(uti, type.comment(), type.suffixes());
}

void ZELSavePanelController::addAllowedFileType(const QString& uti, const QString& description,
                                                const QStringList& suffixes) {
    names_.append(description);
    utis_.append(uti);
    suffixes_.push_back(suffixes);
}

QFileDialog* ZELSavePanelController::newPreparedSavePanel(QWidget* parent) {
    auto* panel = new QFileDialog(parent);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    prepareSavePanel(panel);
    return panel;
}

void ZELSavePanelController::prepareSavePanel(QFileDialog* panel) {
    panel->setOption(QFileDialog::DontUseNativeDialog);
    auto* accessory = new QWidget(panel);
    auto* row = new QHBoxLayout(accessory);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("File Format:"), accessory);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFixedWidth(100);
    auto* chooser = new QComboBox(accessory);
    chooser->setObjectName(QLatin1String(formatChooserName));
    for (int i = 0; i < utis_.size(); ++i) chooser->addItem(names_[i], utis_[i]);
    row->addWidget(label);
    row->addWidget(chooser, 1);
    if (auto* grid = qobject_cast<QGridLayout*>(panel->layout())) {
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    } else {
        panel->layout()->addWidget(accessory);
    }

    int selected = 0;
    if (!defaultsKey_.isEmpty()) {
        const ZELValue remembered = defaults_->objectForKey(defaultsKey_.toStdString());
        if (remembered.isString()) {
            selected = std::max(0, static_cast<int>(utis_.indexOf(
                                       QString::fromStdU16String(remembered.stringValue()))));
        }
    }
    chooser->setCurrentIndex(selected);
    allowFileType(panel, chooser->currentIndex());
    connect(chooser, &QComboBox::currentIndexChanged, panel,
            [this, panel](int index) { changeAllowedFileType(panel, index); });
}

QString ZELSavePanelController::UTISelectedInPreparedSavePanel(const QFileDialog* panel) {
    const auto* chooser = panel->findChild<QComboBox*>(QLatin1String(formatChooserName));
    return chooser ? chooser->currentData().toString() : QString();
}

void ZELSavePanelController::allowFileType(QFileDialog* panel, int index) {
    if (index < 0 || index >= utis_.size()) return;
    QStringList patterns;
    for (const QString& suffix : suffixes_[index]) patterns.append(QStringLiteral("*.") + suffix);
    panel->setNameFilter(names_[index] + QStringLiteral(" (") + patterns.join(' ') +
                         QStringLiteral(")"));
    panel->setDefaultSuffix(suffixes_[index].value(0));
}

void ZELSavePanelController::changeAllowedFileType(QFileDialog* panel, int index) {
    allowFileType(panel, index);
    if (defaultsKey_.isEmpty() || index < 0 || index >= utis_.size()) return;
    defaults_->setObject(defaultsKey_.toStdString(), ZELValue(utis_[index].toStdU16String()));
    defaults_->synchronize(nullptr);
}

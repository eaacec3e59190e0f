#include "zel/ui/ZELAlert.h"

#include <QMessageBox>

void ZELAlert_ShowWithWindow(QMessageBox* alert, QWidget* window,
                             std::function<void(int result)> didEnd) {
    alert->setAttribute(Qt::WA_DeleteOnClose);
    if (didEnd) QObject::connect(alert, &QMessageBox::finished, alert, std::move(didEnd));
    if (window) {
        alert->setParent(window, alert->windowFlags() | Qt::Sheet);
        alert->open();  // window-modal
    } else {
        alert->setWindowModality(Qt::ApplicationModal);
        alert->show();
    }
}

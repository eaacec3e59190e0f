#include "zel/ui/ZELReportingApplication.h"

#include "zel/ui/ZELErrorReporter.h"

ZELReportingApplication::ZELReportingApplication(int& argc, char** argv)
    : QApplication(argc, argv) {
    ZELErrorReporter::installExceptionHandler();
}

bool ZELReportingApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ZELErrorReporter::instance().reportUncaughtException(std::current_exception());
        return false;
    }
}

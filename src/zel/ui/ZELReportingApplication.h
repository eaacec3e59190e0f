#pragma once

#include <QApplication>

// The application object of a host that lets the error reporter see exceptions escaping Qt
// event handlers: each one is handed to ZELErrorReporter::reportUncaughtException and the
// event counts as not handled, so the event loop goes on. Making it installs the reporter's
// exception handler. One per process, made and used on the GUI thread.
class ZELReportingApplication : public QApplication {
    Q_OBJECT

public:
    ZELReportingApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

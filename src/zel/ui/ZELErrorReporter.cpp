#include "zel/ui/ZELErrorReporter.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "zel/platform/ZELException.h"
#include "zel/platform/ZELLog.h"

namespace {

std::atomic<bool> gHandlerDisabled{false};
std::once_flag gInstallOnce;
std::terminate_handler gPreviousTerminateHandler = nullptr;

// Runs when an exception leaves a thread's outermost frame or noexcept code. The process is
// in no state to run an event loop, so the report is only logged; then the process ends as
// it would have without us.
[[noreturn]] void terminateHandler() {
    std::string message = "terminate called without an active exception";
    if (std::exception_ptr exception = std::current_exception()) {
        message = "uncaught exception " + ZELErrorReporter::exceptionMessage(exception);
    }
    ZELLog("ERROR, " +
           ZELErrorReporter::reportText(message, message, ZELErrorReporter::currentStackSymbols()));
    if (gPreviousTerminateHandler) gPreviousTerminateHandler();
    std::abort();
}

std::string demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return status == 0 && text ? std::string(text.get()) : std::string(name);
}

}  // namespace

ZELErrorReporter& ZELErrorReporter::instance() {
    static ZELErrorReporter* reporter = new ZELErrorReporter;  // never destroyed: used at exit
    return *reporter;
}

void ZELErrorReporter::installExceptionHandler() {
    gHandlerDisabled = false;
    std::call_once(gInstallOnce,
                   [] { gPreviousTerminateHandler = std::set_terminate(terminateHandler); });
}

void ZELErrorReporter::disableExceptionHandler() {
    gHandlerDisabled = true;
}

void ZELErrorReporter::setUserFeedbackCallback(FeedbackCallback callback) {
    std::lock_guard<std::mutex> hold(lock_);
    feedback_ = std::move(callback);
}

bool ZELErrorReporter::isDisabled() const {
    std::lock_guard<std::mutex> hold(lock_);
    return disabledCount_ > 0;
}

void ZELErrorReporter::adjustDisabledCount(int64_t delta) {
    std::lock_guard<std::mutex> hold(lock_);
    disabledCount_ += delta;
}

void ZELErrorReporter_AdjustDisabledCount(int64_t delta) {
    ZELErrorReporter::instance().adjustDisabledCount(delta);
}

void ZELErrorReporter::submitUserFeedback(const std::string& errorMessage,
                                          const std::string& internalMessage,
                                          std::optional<std::vector<std::string>> stackLines) {
    FeedbackCallback feedback;
    {
        // The pending mark is tested and taken in one hold of the lock, so that of two
        // threads reporting at once only one raises an alert.
        std::lock_guard<std::mutex> hold(lock_);
        if (isHandlingException_) {
            ZELLog(
                "*** currently asking user to submit feedback for existing error, ignoring "
                "request");
            return;
        }
        feedback = feedback_;
        if (!feedback) isHandlingException_ = true;
    }
    const std::string report =
        reportText(errorMessage, internalMessage, stackLines ? *stackLines : currentStackSymbols());
    ZELLog("ERROR, " + report);
    if (feedback) {
        feedback(errorMessage, report);
        return;
    }
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!application) {
        ZELLog("no application to show the error to, discarding reporting for " + errorMessage);
        alertDidEnd();
        return;
    }
    QMetaObject::invokeMethod(
        application,
        [this, errorMessage, internalMessage, report] {
            showAlert(errorMessage, internalMessage, report);
        },
        Qt::QueuedConnection);
}

void ZELErrorReporter::submitUserFeedbackForException(std::exception_ptr exception) {
    submitUserFeedback(exceptionMessage(exception));
}

bool ZELErrorReporter::reportUncaughtException(std::exception_ptr exception) {
    std::string name;
    try {
        std::rethrow_exception(exception);
    } catch (const ZELException& zelException) {
        name = zelException.name();
    } catch (...) {
    }
    if (isDisabled() || isIgnoredExceptionName(name)) return false;
    submitUserFeedbackForException(exception);
    return true;
}

bool ZELErrorReporter::isIgnoredExceptionName(const std::string& name) {
    return name == "ZELCaptureCallStackException";
}

std::string ZELErrorReporter::exceptionMessage(std::exception_ptr exception) {
    try {
        std::rethrow_exception(exception);
    } catch (const ZELException& zelException) {
        return zelException.name() + ": " + zelException.reason();
    } catch (const std::exception& other) {
        return demangled(typeid(other).name()) + ": " + other.what();
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return (type ? demangled(type->name()) : std::string("unknown exception")) +
               ": (no description)";
    }
}

std::string ZELErrorReporter::reportText(const std::string& errorMessage,
                                         const std::string& internalMessage,
                                         const std::vector<std::string>& stackLines) {
    std::string report = errorMessage + "\nStack for error " + internalMessage + ": \n";
    for (const std::string& line : stackLines) report += line + "\n";
    return report;
}

std::vector<std::string> ZELErrorReporter::currentStackSymbols() {
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    std::unique_ptr<char*, void (*)(void*)> symbols(::backtrace_symbols(frames, count), std::free);
    std::vector<std::string> lines;
    for (int i = 0; symbols && i < count; ++i) lines.emplace_back(symbols.get()[i]);
    return lines;
}

QMessageBox* ZELErrorReporter::newAlert(const std::string& internalMessage,
                                        const std::string& report) {
    auto* alert = new QMessageBox(QMessageBox::Critical, QStringLiteral("Error"),
                                  QStringLiteral("An internal error has occurred: \n") +
                                      QString::fromStdString(internalMessage));
    alert->setInformativeText(
        QStringLiteral("If you copy the error information to the clipboard, please paste it into "
                       "an email and send it "
                       "to us, along with a description of what triggered the problem."));
    QPushButton* copy =
        alert->addButton(QString::fromLatin1(copyButtonTitle), QMessageBox::AcceptRole);
    alert->addButton(QString::fromLatin1(dontCopyButtonTitle), QMessageBox::RejectRole);
    alert->setDefaultButton(copy);
    QObject::connect(copy, &QPushButton::clicked, alert, [report] {
        QGuiApplication::clipboard()->setText(QString::fromStdString(report));
    });
    return alert;
}

void ZELErrorReporter::showAlert(const std::string& errorMessage,
                                 const std::string& internalMessage, const std::string& report) {
    if (gHandlerDisabled) {
        ZELLog(
            "exception handler has been disabled since exception occurred, discarding reporting "
            "for " +
            errorMessage);
        alertDidEnd();
        return;
    }
    QMessageBox* alert = newAlert(internalMessage, report);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(alert, &QMessageBox::finished, alert, [this] { alertDidEnd(); });
    alert->open();
}

void ZELErrorReporter::alertDidEnd() {
    std::lock_guard<std::mutex> hold(lock_);
    isHandlingException_ = false;
}

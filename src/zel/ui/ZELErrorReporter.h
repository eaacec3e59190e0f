#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QMessageBox;

// The one place where an internal error or an uncaught exception is shown to the user: the
// error is logged with a stack trace, then handed to the host's feedback callback or shown in
// an alert that offers to copy the report to the clipboard. Only one alert is pending at a
// time; reports made meanwhile are logged and dropped.
//
// One shared instance lives for the whole process. Any thread may submit; the alert is shown
// on the GUI thread. The feedback callback, the disabled count and the "alert pending" mark
// are guarded by the instance's own lock.
class ZELErrorReporter {
public:
    // Called with the error message and the full report text, on the submitting thread.
    using FeedbackCallback =
        std::function<void(const std::string& errorMessage, const std::string& report)>;

    static constexpr const char* copyButtonTitle = "Copy Error To Clipboard";
    static constexpr const char* dontCopyButtonTitle = "Don't Copy";

    static ZELErrorReporter& instance();

    // Makes the reporter the handler of uncaught exceptions: std::set_terminate (the handler
    // logs the report and aborts; it never opens a dialog) and, through
    // ZELReportingApplication::notify, exceptions escaping Qt event handlers. Idempotent.
    static void installExceptionHandler();
    // Alerts not yet shown are discarded (logged) from now on; the terminate handler stays.
    static void disableExceptionHandler();

    void setUserFeedbackCallback(FeedbackCallback callback);
    // Reporting through the exception-handler path is off while the count is above 0.
    bool isDisabled() const;
    void adjustDisabledCount(int64_t delta);

    // Logs "ERROR, <report>", then calls the feedback callback or raises the alert. Without
    // stack lines the calling thread's stack is taken.
    void submitUserFeedback(const std::string& errorMessage, const std::string& internalMessage,
                            std::optional<std::vector<std::string>> stackLines = std::nullopt);
    void submitUserFeedback(const std::string& errorMessage) {
        submitUserFeedback(errorMessage, errorMessage);
    }
    // Message "<name>: <description>" of the exception; the stack is the catcher's.
    void submitUserFeedbackForException(std::exception_ptr exception);

    // The exception-handler path: submits the exception unless reporting is disabled or the
    // exception is one of the ignored kinds. Answers whether it was submitted.
    bool reportUncaughtException(std::exception_ptr exception);
    static bool isIgnoredExceptionName(const std::string& name);
    // "<name>: <description>": a ZELException's name and reason, else the demangled type name
    // and what().
    static std::string exceptionMessage(std::exception_ptr exception);

    // "<errorMessage>\nStack for error <internalMessage>: \n<lines, one a line>".
    static std::string reportText(const std::string& errorMessage,
                                  const std::string& internalMessage,
                                  const std::vector<std::string>& stackLines);
    // The symbols of the calling thread's stack, innermost first.
    static std::vector<std::string> currentStackSymbols();
    // The alert for a report; not yet shown.
    static QMessageBox* newAlert(const std::string& internalMessage, const std::string& report);

private:
    ZELErrorReporter() = default;
    void showAlert(const std::string& errorMessage, const std::string& internalMessage,
                   const std::string& report);
    void alertDidEnd();

    mutable std::mutex lock_;
    FeedbackCallback feedback_;         // guarded by lock_
    int64_t disabledCount_ = 0;         // guarded by lock_
    bool isHandlingException_ = false;  // guarded by lock_; set from the check to the alert's end
};

// Adds the signed delta to the shared reporter's disabled count.
void ZELErrorReporter_AdjustDisabledCount(int64_t delta);

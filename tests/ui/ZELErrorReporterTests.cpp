// The error reporter: the alert's text and clipboard copy, one alert for reports made at once,
// the feedback callback, and exceptions escaping event handlers.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QTest>
#include <thread>

#include "support/ZELTestLogCapture.h"
#include "zel/platform/ZELException.h"
#include "zel/ui/ZELErrorReporter.h"

namespace {

class ZELErrorReporterTest : public ::testing::Test {
protected:
    void TearDown() override {
        ZELErrorReporter::instance().setUserFeedbackCallback(nullptr);
        ZELErrorReporter::installExceptionHandler();
        for (QMessageBox* alert : alerts()) alert->done(0);
        QApplication::processEvents();
    }

    static std::vector<QMessageBox*> alerts() {
        QApplication::processEvents();
        std::vector<QMessageBox*> shown;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* alert = qobject_cast<QMessageBox*>(widget); alert && alert->isVisible())
                shown.push_back(alert);
        }
        return shown;
    }
    static void click(QMessageBox* alert, const char* title) {
        for (QAbstractButton* button : alert->buttons()) {
            if (button->text() == QLatin1String(title)) QTest::mouseClick(button, Qt::LeftButton);
        }
        QApplication::processEvents();
    }
    size_t logCount(std::string_view start) {
        const std::vector<std::string> lines = log_.lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.starts_with(start); });
    }

    ZELTestLogCapture log_;
};

TEST_F(ZELErrorReporterTest, AlertShowsTheInternalMessageAndCopiesTheReport) {
    QGuiApplication::clipboard()->setText("before");
    ZELErrorReporter::instance().submitUserFeedback(
        "disk full", "store 3 refused a write", std::vector<std::string>{"frame one", "frame two"});
    auto shown = alerts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]->text().toStdString(),
              "An internal error has occurred: \nstore 3 refused a write");
    EXPECT_EQ(
        logCount(
            "ERROR, disk full\nStack for error store 3 refused a write: \nframe one\nframe two\n"),
        1u);
    click(shown[0], ZELErrorReporter::copyButtonTitle);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              "disk full\nStack for error store 3 refused a write: \nframe one\nframe two\n");
    EXPECT_TRUE(alerts().empty());

    // The alert's end clears the mark: the next report is shown; "Don't Copy" copies nothing.
    ZELErrorReporter::instance().submitUserFeedback("second");
    shown = alerts();
    ASSERT_EQ(shown.size(), 1u);
    click(shown[0], ZELErrorReporter::dontCopyButtonTitle);
    EXPECT_TRUE(alerts().empty());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("disk full"));
}

TEST_F(ZELErrorReporterTest, ReportsMadeAtOnceRaiseOneAlert) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> ready{0};
        auto report = [&] {
            ++ready;
            while (ready < 2) std::this_thread::yield();
            ZELErrorReporter::instance().submitUserFeedback("failure", "failure",
                                                            std::vector<std::string>{});
        };
        std::thread first(report), second(report);
        first.join();
        second.join();
        auto shown = alerts();
        ASSERT_EQ(shown.size(), 1u) << "round " << round;
        EXPECT_EQ(logCount("*** currently asking user to submit feedback for existing error, "
                           "ignoring request"),
                  static_cast<size_t>(round + 1));
        click(shown[0], ZELErrorReporter::dontCopyButtonTitle);
    }
}

TEST_F(ZELErrorReporterTest, FeedbackCallbackTakesTheReportAndNoAlertIsShown) {
    std::vector<std::pair<std::string, std::string>> received;
    ZELErrorReporter::instance().setUserFeedbackCallback(
        [&](const std::string& message, const std::string& report) {
            received.emplace_back(message, report);
        });
    for (int i = 0; i < 2; ++i)
        ZELErrorReporter::instance().submitUserFeedback("m", "i", std::vector<std::string>{"f"});
    EXPECT_TRUE(alerts().empty());
    ASSERT_EQ(received.size(), 2u);  // the pending mark was never set
    EXPECT_EQ(received[1],
              (std::pair<std::string, std::string>{"m", "m\nStack for error i: \nf\n"}));
}

TEST_F(ZELErrorReporterTest, DisabledHandlerDiscardsThePendingAlert) {
    ZELErrorReporter::instance().submitUserFeedback("late", "late", std::vector<std::string>{});
    ZELErrorReporter::disableExceptionHandler();
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(logCount("exception handler has been disabled since exception occurred, discarding "
                       "reporting for late"),
              1u);
    ZELErrorReporter::instance().submitUserFeedback("again");  // the mark was cleared
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(logCount("exception handler has been disabled"), 2u);
}

// An object whose event handler throws what it is given.
class ZELThrowingObject : public QObject {
public:
    std::function<void()> thrower;
    bool event(QEvent*) override {
        thrower();
        return true;
    }
};

TEST_F(ZELErrorReporterTest, ExceptionsEscapingEventHandlersAreReportedUnlessDisabledOrIgnored) {
    std::vector<std::string> messages;
    ZELErrorReporter::instance().setUserFeedbackCallback(
        [&](const std::string& message, const std::string&) { messages.push_back(message); });
    struct Case {
        std::function<void()> thrower;
        int64_t disabledCount;
        const char* expected;  // null: not reported
    };
    const Case cases[] = {
        {[] { ZELRaise(ZELInternalInconsistencyException, "boom"); }, 0,
         "ZELInternalInconsistencyException: boom"},
        {[] { throw std::runtime_error("bad"); }, 0, "std::runtime_error: bad"},
        {[] { throw 7; }, 0, "int: (no description)"},
        {[] { ZELRaise(ZELInternalInconsistencyException, "boom"); }, 1, nullptr},
        {[] { ZELRaise("ZELCaptureCallStackException", "capture"); }, 0, nullptr},
    };
    for (const Case& c : cases) {
        messages.clear();
        ZELErrorReporter_AdjustDisabledCount(c.disabledCount);
        ZELThrowingObject object;
        object.thrower = c.thrower;
        QEvent event(QEvent::User);
        EXPECT_FALSE(QCoreApplication::sendEvent(&object, &event));
        ZELErrorReporter_AdjustDisabledCount(-c.disabledCount);
        EXPECT_EQ(messages,
                  c.expected ? std::vector<std::string>{c.expected} : std::vector<std::string>{});
    }
}

}  // namespace

// The terminate handler only logs and ends the process: no event loop runs, no dialog opens.
TEST(ZELErrorReporterDeathTest, TerminateHandlerLogsAndLeaves) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ZELErrorReporter::installExceptionHandler();
            ZELErrorReporter::instance().setUserFeedbackCallback(
                [](const std::string&, const std::string&) {});
            std::thread([] { throw std::runtime_error("lost"); }).join();
        },
        "ERROR, uncaught exception std::runtime_error: lost\nStack for error");
}

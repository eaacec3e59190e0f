// The widget tests run inside one application object (which hands exceptions escaping event
// handlers to the error reporter), on the offscreen platform unless the
// environment names another (xcb under Xvfb, for focus and placement).

#include <gtest/gtest.h>

#include <cstdio>

#include "zel/ui/ZELReportingApplication.h"

namespace {

// The offscreen platform reports each window feature it lacks (raising, keyboard grabs);
// those lines are dropped, everything else is printed.
void printMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(printMessage);
    ZELReportingApplication application(argc, argv);
    return RUN_ALL_TESTS();
}

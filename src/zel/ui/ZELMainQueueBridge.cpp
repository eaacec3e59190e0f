#include "zel/ui/ZELMainQueueBridge.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>

#include "zel/platform/ZELMainQueue.h"

namespace {

std::atomic<bool> installed{false};

}  // namespace

void ZELMainQueueBridge::install() {
    if (installed.exchange(true)) {
        ZELMainQueue::markCurrentThreadAsMain();
        return;
    }
    ZELMainQueue::markCurrentThreadAsMain();
    ZELMainQueue::setPoster([](ZELMainQueue::Task task) {
        // The application object is looked up for each task: a test or host may make a new one
        // after the first is gone. Without one, the task has no loop to run in and is dropped.
        if (QCoreApplication* application = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
        }
    });
}

bool ZELMainQueueBridge::isInstalled() {
    return installed.load();
}

namespace {

void installWhenTheApplicationStarts() {
    ZELMainQueueBridge::install();
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(installWhenTheApplicationStarts)

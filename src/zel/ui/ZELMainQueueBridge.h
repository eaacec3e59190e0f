#pragma once

// Connects the library's main-thread queue (ZELMainQueue) to the Qt event loop: every task
// queued for the main thread is posted into the application object and runs on the GUI
// thread, which is marked as main. Without it, result-set reports and delayed database
// notifications would wait in the queue forever. The widgets library installs it when the
// application object is made; `install` is for hosts that create their widgets in another
// order. Process-wide; call on the GUI thread while a QCoreApplication exists.
class ZELMainQueueBridge {
public:
    ZELMainQueueBridge() = delete;

    // Idempotent.
    static void install();
    static bool isInstalled();
};

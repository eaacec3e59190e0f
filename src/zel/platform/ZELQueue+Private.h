#pragma once

#include <exception>
#include <functional>

#include "zel/platform/ZELLog.h"

// Runs one task of a background queue. An exception escaping a task would end its thread and
// with it the process, so it is logged instead (a ZELException's what() is "name: reason")
// and the queue goes on with its next task.
inline void ZELRunBackgroundTask(const std::function<void()>& task, const char* queueName) {
    try {
        task();
    } catch (const std::exception& exception) {
        ZELLogFormat("uncaught exception in a task of %s: %s", queueName, exception.what());
    } catch (...) {
        ZELLogFormat("uncaught exception in a task of %s", queueName);
    }
}

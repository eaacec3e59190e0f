#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

// The main thread's queue: work that must run on the main thread (result-set reports,
// delegate calls, token-field updates) is handed to `async` from any thread. By default the
// tasks wait in a FIFO until the host drains it on its main thread; a host with an event loop
// installs a poster instead (the Qt layer posts each task into its loop). Process-wide; every
// function may be called on any thread, except `drain` and `waitAndDrain` (main thread only).
//
// The main thread is the thread that last called `markCurrentThreadAsMain` or, when no thread
// ever did, the first thread that called `drain` or `waitAndDrain`. Until then no thread is
// main. A host with an event loop calls `markCurrentThreadAsMain` when it installs its poster.
class ZELMainQueue {
public:
    using Task = std::function<void()>;
    using Poster = std::function<void(Task)>;

    // Rounds one `drain` runs at most; see `drain`.
    static constexpr int kMaxDrainRounds = 16;

    ZELMainQueue() = delete;

    // Queues `task` (an empty function is ignored), or hands it to the poster when one is set.
    static void async(Task task);

    // Runs the waiting tasks on the calling thread, oldest first, and answers how many ran.
    // Tasks queued meanwhile (by the tasks themselves or by other threads) run in the same
    // call, in rounds: each round runs what was queued before the round began. After
    // kMaxDrainRounds rounds the call returns even if tasks remain, so a task that queues
    // itself again cannot trap the caller. A task may drain in turn; the nested call takes
    // from the same FIFO, so the order holds. An exception from a task propagates to the
    // caller; the tasks after it stay queued.
    static size_t drain();

    // Waits until at least one task is queued or `timeout` passes, then drains. Answers
    // whether any task ran.
    static bool waitAndDrain(std::chrono::milliseconds timeout);

    // Installs the host's poster: later tasks go to it instead of the FIFO, and the tasks
    // already waiting are handed to it at once, oldest first. Install it before other threads
    // queue work: a task queued while the waiting ones are handed over may overtake them. An
    // empty function restores the FIFO.
    static void setPoster(Poster poster);

    static void markCurrentThreadAsMain();
    static bool isMainThread();
};

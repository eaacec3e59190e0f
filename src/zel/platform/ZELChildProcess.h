#pragma once

#include <string>
#include <vector>

#include "zel/platform/ZELError.h"

// What a finished child process left: its exit status (the code it passed to exit, or 128 plus
// the signal number when a signal ended it) and everything it wrote to standard output.
struct ZELChildProcessResult {
    int exitStatus = 0;
    std::string standardOutput;
};

// Runs command-line tools (which, unzip, lsof) synchronously on the calling thread. Any thread
// may run a child process; nothing is shared between runs.
class ZELChildProcess {
  public:
    // Starts the executable at `launchPath` (no search of PATH) with `arguments` (not counting
    // the program name, which is `launchPath`) and the process's environment; standard input
    // reads /dev/null, standard output is collected, standard error is the caller's. Waits for
    // the child to end. Answers false with an error when the child cannot be started or its
    // output cannot be read; a child that ran and failed is a success with its exit status.
    static bool run(const std::string& launchPath, const std::vector<std::string>& arguments,
                    ZELChildProcessResult* outResult, ZELError* outError);
};

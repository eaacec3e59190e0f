#include "zel/platform/ZELChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

extern char** environ;

namespace {

// The error for the errno of the call that just failed. errno is read before anything else
// runs, as building the message may allocate and change it.
ZELError errnoError(const char* action, const std::string& path) {
    const int errnoValue = errno;
    return ZELError::errorWithErrno(errnoValue, action + path);
}

// Reads until end of file. Answers 0, or the errno of the failed read.
int readAll(int fd, std::string& output) {
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0) {
            output.append(buffer, static_cast<size_t>(count));
        } else if (count == 0) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
}

// Waits for `pid` to end. Answers 0 with its exit status, or the errno of the failed wait.
int waitForExit(pid_t pid, int& exitStatus) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return errno;
    }
    if (WIFEXITED(status)) {
        exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exitStatus = 128 + WTERMSIG(status);
    } else {
        exitStatus = status;
    }
    return 0;
}

// Starts the child with stdin on /dev/null and stdout on `outputFd`. The child starts with no
// blocked signals and the default SIGPIPE action, whatever the host's threads have set up.
// Answers 0, or the error number of the failed spawn.
int spawn(const std::string& launchPath, const std::vector<std::string>& arguments, int outputFd,
          pid_t& pid) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(launchPath.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const int result =
        posix_spawn(&pid, launchPath.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

}  // namespace

bool ZELChildProcess::run(const std::string& launchPath, const std::vector<std::string>& arguments,
                          ZELChildProcessResult* outResult, ZELError* outError) {
    // Both ends close on exec, so that children started meanwhile by other threads do not keep
    // the write end open (which would hold off the end of file); the dup2 onto the child's
    // standard output clears the flag for that one descriptor.
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return ZELSetError(outError, errnoError("could not make a pipe to read ", launchPath));
    }
    pid_t pid = 0;
    const int spawnError = spawn(launchPath, arguments, pipeEnds[1], pid);
    close(pipeEnds[1]);
    if (spawnError != 0) {
        close(pipeEnds[0]);
        return ZELSetError(outError,
                           ZELError::errorWithErrno(spawnError, "could not launch " + launchPath));
    }

    // The output is drained completely before waiting, so a child writing more than the pipe
    // holds never blocks on a parent that waits for it.
    ZELChildProcessResult result;
    const int readError = readAll(pipeEnds[0], result.standardOutput);
    close(pipeEnds[0]);
    const int waitError = waitForExit(pid, result.exitStatus);
    if (readError != 0) {
        return ZELSetError(outError, ZELError::errorWithErrno(
                                         readError, "could not read the output of " + launchPath));
    }
    if (waitError != 0) {
        return ZELSetError(outError,
                           ZELError::errorWithErrno(waitError, "could not wait for " + launchPath));
    }
    if (outResult) *outResult = std::move(result);
    return true;
}

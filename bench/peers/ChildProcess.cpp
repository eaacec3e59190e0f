#include "ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

// The value of a "Name:   1234 kB" line of /proc/self/status, in bytes; 0 when absent.
uint64_t statusBytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, name.size() + 1, name + ":") == 0) {
            return std::stoull(line.substr(name.size() + 1)) * 1024;
        }
    }
    return 0;
}

bool writeAll(int descriptor, const std::string& bytes) {
    for (size_t written = 0; written < bytes.size();) {
        const ssize_t count = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<size_t>(count);
    }
    return true;
}

// Everything readable from `descriptor` up to its end.
std::string readAll(int descriptor) {
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        bytes.append(buffer, static_cast<size_t>(count));
    }
    return bytes;
}

// Waits for the child and unpacks its answer: '+' and the bytes, or '-' and an error text.
std::string childAnswer(pid_t child, const std::string& answer) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        throw std::runtime_error("child process died of signal " +
                                 std::to_string(WTERMSIG(status)));
    }
    if (answer.empty()) throw std::runtime_error("child process answered nothing");
    if (answer[0] == '-') throw std::runtime_error(answer.substr(1));
    return answer.substr(1);
}

// The first byte tells the answer ('+') from an error text ('-').
std::string answerOf(const std::function<std::string()>& work) {
    try {
        return "+" + work();
    } catch (const std::exception& error) {
        return std::string("-") + error.what();
    }
}

void throwSystemError(const char* call) {
    throw std::runtime_error(std::string(call) + ": " + std::strerror(errno));
}

}  // namespace

std::string runInChildProcess(const std::function<std::string()>& work) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) throwSystemError("pipe");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throwSystemError("fork");
    if (child == 0) {
        ::close(pipeEnds[0]);
        const std::string answer = answerOf(work);
        std::fflush(nullptr);
        ::_exit(writeAll(pipeEnds[1], answer) ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    const std::string answer = readAll(pipeEnds[0]);
    ::close(pipeEnds[0]);
    return childAnswer(child, answer);
}

std::string runInFreshProcess(const char* childModeArgument, const std::string& request) {
    int requestEnds[2];
    int answerEnds[2];
    if (::pipe(requestEnds) != 0) throwSystemError("pipe");
    if (::pipe(answerEnds) != 0) throwSystemError("pipe");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throwSystemError("fork");
    if (child == 0) {
        // Standard input from the request pipe, descriptor 3 into the answer pipe.
        const int answerEnd = ::dup(answerEnds[1]);
        if (::dup2(requestEnds[0], 0) < 0 || ::dup2(answerEnd, 3) < 0) ::_exit(127);
        for (const int end : {requestEnds[0], requestEnds[1], answerEnds[0], answerEnds[1], answerEnd}) {
            if (end > 3) ::close(end);
        }
        ::execl("/proc/self/exe", "zel_bench_peers", childModeArgument, nullptr);
        ::_exit(127);
    }
    ::close(requestEnds[0]);
    ::close(answerEnds[1]);
    // The child reads the whole request before it writes, so writing first cannot block both.
    const bool sent = writeAll(requestEnds[1], request);
    ::close(requestEnds[1]);
    const std::string answer = readAll(answerEnds[0]);
    ::close(answerEnds[0]);
    if (!sent && answer.empty()) throw std::runtime_error("fresh child process took no request");
    return childAnswer(child, answer);
}

int answerFreshProcessRequest(const std::function<std::string(const std::string&)>& work) {
    const std::string request = readAll(0);
    const std::string answer = answerOf([&] { return work(request); });
    std::fflush(nullptr);
    return writeAll(3, answer) ? 0 : 1;
}

uint64_t residentBytes() {
    return statusBytes("VmRSS");
}

uint64_t peakResidentBytes() {
    return statusBytes("VmHWM");
}

bool resetPeakResidentBytes() {
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return static_cast<bool>(clearRefs);
}

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

}  // namespace

std::string runInChildProcess(const std::function<std::string()>& work) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        ::close(pipeEnds[0]);
        // The first byte tells the answer ('+') from an error text ('-').
        std::string answer;
        try {
            answer = "+" + work();
        } catch (const std::exception& error) {
            answer = std::string("-") + error.what();
        }
        std::fflush(nullptr);
        ::_exit(writeAll(pipeEnds[1], answer) ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    std::string answer;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        answer.append(buffer, static_cast<size_t>(count));
    }
    ::close(pipeEnds[0]);
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

#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Runs `work` in a forked child process and answers the bytes it returned, so that each
// engine's work starts from the same parent state and its memory is measured on its own.
// The child ends with _exit after `work` (nothing else of it runs); an exception in `work`,
// or the child's death, throws std::runtime_error in the parent with the reason.
// Requires: the parent runs no other thread (fork copies only the calling thread).
std::string runInChildProcess(const std::function<std::string()>& work);

// Runs this program afresh (its own image, none of the parent's memory) with the single
// argument `childModeArgument`, hands it `request` on its standard input and answers the bytes
// it wrote to descriptor 3 (see answerFreshProcessRequest); errors as runInChildProcess.
std::string runInFreshProcess(const char* childModeArgument, const std::string& request);
// In such a fresh process: reads the request from standard input, runs `work` on it and
// writes its answer (or the text of an exception it throws) to descriptor 3. Answers the exit
// status.
int answerFreshProcessRequest(const std::function<std::string(const std::string&)>& work);

// The resident set size of this process (VmRSS), in bytes.
uint64_t residentBytes();
// The peak resident set size of this process (VmHWM), in bytes.
uint64_t peakResidentBytes();
// Lowers the peak resident set size to the present one (Linux "clear_refs" 5), so that a
// forked child measures its own peak rather than its parent's; false when refused.
bool resetPeakResidentBytes();

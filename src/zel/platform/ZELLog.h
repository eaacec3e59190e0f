#pragma once

#include <functional>
#include <string_view>

// The platform log: one plain line per call, written to standard error unless a host (or a
// test) installs a sink of its own. Thread-safe.
void ZELLog(std::string_view line);
void ZELLogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces the sink for every later line; an empty function restores standard error.
// Answers the previous sink.
using ZELLogSink = std::function<void(std::string_view line)>;
ZELLogSink ZELSetLogSink(ZELLogSink sink);

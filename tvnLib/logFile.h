// The trace-log entry points of the runtime library.
//
// The library's classes report construction, destruction, warnings and the
// text of every EXCPT_UDP here. A line reaches `TraceSink` when one is
// installed; the driver installs none, so by default the calls cost one
// pointer test. Tests install a sink to watch the lines.
#pragma once

#include <cstdarg>

#if defined(__GNUC__)
#define TVN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TVN_PRINTF(fmt, args)
#endif

// level: 0 exception, 1 trace, 2 warning. category: bit mask, 1 tasks, 2 UDP.
using TraceSinkFn = void (*)(int level, unsigned category, const char* text);
extern TraceSinkFn TraceSink;

void LogException(unsigned category, const char* format, ...) TVN_PRINTF(2, 3);
void LogTrace(unsigned category, const char* format, ...) TVN_PRINTF(2, 3);
void LogWarning(unsigned category, const char* format, ...) TVN_PRINTF(2, 3);

#include "logFile.h"

#include <cstdio>

TraceSinkFn TraceSink = nullptr;

namespace {

void Log(int level, unsigned category, const char* format, va_list args) {
  TraceSinkFn sink = TraceSink;
  if (sink == nullptr) return;
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  sink(level, category, line);
}

}  // namespace

#define TVN_LOG_ENTRY(name, level)                           \
  void name(unsigned category, const char* format, ...) {    \
    va_list args;                                            \
    va_start(args, format);                                  \
    Log(level, category, format, args);                      \
    va_end(args);                                            \
  }

TVN_LOG_ENTRY(LogException, 0)
TVN_LOG_ENTRY(LogTrace, 1)
TVN_LOG_ENTRY(LogWarning, 2)

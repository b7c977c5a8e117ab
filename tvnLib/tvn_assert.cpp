#include "tvn_assert.h"

#include "echo.h"
#include "os.h"

void TvnAssert(const char* format, int line) {
  EchoShow(3);
  EchoPrint(format, line);
  osExitProcess(0);
}

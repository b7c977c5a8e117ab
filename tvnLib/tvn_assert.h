// The assertion handler of the runtime library.
#pragma once

// Shows the text in the echo window (maximised, when there is one) and ends
// the process at once with exit code 0. `format` holds one %d for `line`.
[[noreturn]] void TvnAssert(const char* format, int line);

// Fails with the runtime's fixed text. The expression and the file are given
// as literals, and the line is the assertion's fixed number, so that an
// assertion keeps its identity however its file is edited.
#define TVN_ASSERT_FAIL(exprText, fileText, line) \
  TvnAssert("Assertion failed: " exprText ",\nFile: " fileText "\nLine: %d\n", line)

#define TVN_ASSERT(cond, exprText, fileText, line) \
  do {                                             \
    if (!(cond)) TVN_ASSERT_FAIL(exprText, fileText, line); \
  } while (0)

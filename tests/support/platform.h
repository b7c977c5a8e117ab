// What a test can expect of the platform it runs on.
#pragma once

#include <string>

// True where the echo, once created, writes each line to standard error
// (POSIX); false where it is a window (Windows).
bool EchoReachesStderr();

// `text` where echo lines reach standard error, else "" (matches anything):
// the expected output of a death test.
inline std::string OnStderr(const std::string& text) { return EchoReachesStderr() ? text : ""; }

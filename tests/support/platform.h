// What a test can expect of the platform it runs on.
#pragma once

#include <cstdint>
#include <string>

// True where the echo, once created, writes each line to standard error
// (POSIX); false where it is a window (Windows).
bool EchoReachesStderr();

// `text` where echo lines reach standard error, else "" (matches anything):
// the expected output of a death test.
inline std::string OnStderr(const std::string& text) { return EchoReachesStderr() ? text : ""; }

// Makes every wait on socket `s` fail at once, as a socket closed under its
// waiter does; RepairSocket puts a working socket back under the same
// number, so that its owner can still close it. (POSIX closes the number
// and later reuses it; Windows closes the socket and leaves it closed.)
void BreakSocket(intptr_t s);
void RepairSocket(intptr_t s);

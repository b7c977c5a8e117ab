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

// Makes every wait on socket `s` fail at once until RestoreSocketWaits.
// POSIX: the descriptor limit drops to 0, so that every poll in the process
// fails with EINVAL while the socket itself stays untouched. Windows: the
// socket is closed under its waiter (and stays closed).
void FailSocketWaits(intptr_t s);
void RestoreSocketWaits();

// Lets the process open no further files or sockets until RestoreOpenFiles
// (POSIX, through its descriptor limit); false where that cannot be done.
bool RefuseNewDescriptors();
void RestoreOpenFiles();

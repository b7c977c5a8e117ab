// Start-up and shut-down of the runtime library, called by the driver's
// process attach and detach on the loader's thread while no other thread of
// the library runs.
#pragma once

// The driver's settings key under HKEY_CURRENT_USER.
extern const char kDriverSettingsKey[];

// Allocates the task slot and opens the echo window when the "echo" setting
// is 1. 1 for success, 0 when no thread-local slot is left.
int LibStartup();

// Writes the last two echo lines, destroys the echo window and frees the
// task slot. Returns 1.
int LibShutdown();

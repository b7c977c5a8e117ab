// Writing the driver's settings where the driver reads them, for the
// settings helper (the driver itself never writes). One implementation per
// platform: the settings file on POSIX, HKEY_CURRENT_USER on Windows.
#pragma once

#include <string>
#include <vector>

#include "reg_text.h"

// The full path of the driver's key as a .reg file names it.
std::string DriverKeyPath();

// Applies `changes` to the driver's settings; *where says where they went.
bool StoreSettings(const std::vector<RegChange>& changes, std::string* where, std::string* error);

// Puts the file `from` in the place of `to` in one step where the system
// can: a reader sees the old file or the new one, never none.
bool ReplaceFileWith(const std::string& from, const std::string& to);

// Applies `changes` to the .reg file at `path` (made when missing), keeping
// everything else in it; `utf16` writes it as regedit does.
bool StoreSettingsFile(const std::string& path, const std::vector<RegChange>& changes, bool utf16, std::string* error);

#include "../library_version.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

// Where the installer records the folder that it put PvTrivane.dll into.
const char kInstallKey[] = "Software\\Orvell Stagecraft\\Trivane - Previsa Protocol Driver";

std::string RecordedDriverFolder() {
  char folder[MAX_PATH] = {};
  DWORD size = sizeof folder;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kInstallKey, "DriverFolder", RRF_RT_REG_SZ, nullptr, folder, &size) !=
      ERROR_SUCCESS)
    return "";
  return folder;
}

}  // namespace

LibraryVersion ReadLibraryVersion(const std::string& path) {
  LibraryVersion v;
  v.path = path;
  v.exists = FileExists(path);
  DWORD handle = 0;
  const DWORD size = v.exists ? GetFileVersionInfoSizeA(path.c_str(), &handle) : 0;
  std::vector<char> info(size);
  if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return v;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
                  fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
    v.fileVersion = text;
  }
  char* product = nullptr;
  if (VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductVersion", reinterpret_cast<void**>(&product),
                     &length) &&
      product != nullptr && length > 0)
    v.build = product;
  return v;
}

std::string InstalledLibrary(const char* argv0) {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string beside = ProgramFolder(n > 0 && n < sizeof self ? self : argv0) + "\\PvTrivane.dll";
  const std::string folder = RecordedDriverFolder();
  if (FileExists(beside) || folder.empty()) return beside;
  return folder + "\\PvTrivane.dll";
}

#include "../library_version.h"

#include <unistd.h>

LibraryVersion ReadLibraryVersion(const std::string& path) {
  LibraryVersion v;
  v.path = path;
  v.exists = FileExists(path);
  if (v.exists) v.build = BuildTextInFile(path);
  return v;
}

std::string InstalledLibrary(const char* argv0) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) self[n] = '\0';
  const std::string beside = ProgramFolder(n > 0 ? self : argv0) + "/libPvTrivane.so";
  if (FileExists(beside)) return beside;
  // The library folder of the Debian package (set by tools/CMakeLists.txt).
  return PV_INSTALLED_LIBRARY;
}

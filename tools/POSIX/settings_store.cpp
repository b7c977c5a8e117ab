#include "../settings_store.h"

#include <sys/stat.h>

#include <cstdio>

#include "../../tvnLib/os.h"

namespace {

// Makes every folder on the way to `path`'s file.
void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
}

}  // namespace

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool StoreSettings(const std::vector<RegChange>& changes, std::string* where, std::string* error) {
  char path[512];
  bool exists = false;
  osRegistryLocation(path, sizeof path, &exists);
  *where = path;
  if (path[0] == '\0') {
    *error = "no settings file: set PVTRIVANE_REGISTRY or HOME";
    return false;
  }
  MakeFolders(path);
  return StoreSettingsFile(path, changes, false, error);
}

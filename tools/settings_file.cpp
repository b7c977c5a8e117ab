#include <cstdio>
#include <fstream>
#include <iterator>

#include "../tvnLib/lib_startup.h"
#include "settings_store.h"

std::string DriverKeyPath() { return std::string("HKEY_CURRENT_USER\\") + kDriverSettingsKey; }

bool StoreSettingsFile(const std::string& path, const std::vector<RegChange>& changes, bool utf16, std::string* error) {
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) text = RegBytesToUtf8(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  }
  const std::string edited = EditRegText(text, DriverKeyPath(), changes);
  // Written beside and renamed over, so that a driver reading the file at
  // that moment sees the old settings or the new, never half of them.
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = "cannot write " + temporary;
      return false;
    }
    out << (utf16 ? Utf8ToRegUtf16(edited) : edited);
    if (!out.flush()) {
      *error = "cannot write " + temporary;
      return false;
    }
  }
  if (!ReplaceFileWith(temporary, path)) {
    *error = "cannot replace " + path;
    return false;
  }
  return true;
}

#include "../settings_store.h"

#include <windows.h>

#include "../../tvnLib/lib_startup.h"

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool StoreSettings(const std::vector<RegChange>& changes, std::string* where, std::string* error) {
  *where = DriverKeyPath();
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDriverSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    *error = "cannot open " + *where + " for writing";
    return false;
  }
  bool ok = true;
  for (const RegChange& c : changes) {
    LONG result = ERROR_SUCCESS;
    if (c.kind == RegChange::Remove) {
      result = RegDeleteValueA(key, c.name.c_str());
      if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
    } else if (c.kind == RegChange::Dword) {
      const DWORD value = c.dword;
      result = RegSetValueExA(key, c.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    } else {
      result = RegSetValueExA(key, c.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(c.text.c_str()),
                              static_cast<DWORD>(c.text.size() + 1));
    }
    if (result != ERROR_SUCCESS) {
      *error = "cannot write \"" + c.name + "\" (error " + std::to_string(result) + ")";
      ok = false;
    }
  }
  RegCloseKey(key);
  return ok;
}

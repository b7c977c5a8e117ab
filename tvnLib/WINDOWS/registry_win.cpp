// The registry part of the platform contract on Win32: the real registry,
// read only.
#include "win_common.h"

#include "../os.h"

namespace {
HKEY RootKey(OsRegRoot root) {
  return root == OsRegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}
}  // namespace

OsRegKey osRegOpen(OsRegRoot root, const char* path, bool readAccess) {
  HKEY key = nullptr;
  const LONG result = readAccess ? RegOpenKeyExA(RootKey(root), path, 0, KEY_READ, &key)
                                 : RegOpenKeyA(RootKey(root), path, &key);
  return result == ERROR_SUCCESS ? key : nullptr;
}

void osRegClose(OsRegKey key) {
  if (key != nullptr) RegCloseKey(static_cast<HKEY>(key));
}

bool osRegQueryValue(OsRegKey key, const char* name, void* data, uint32_t* size) {
  DWORD bytes = *size;
  const LONG result =
      RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, nullptr, static_cast<BYTE*>(data), &bytes);
  if (result != ERROR_SUCCESS) return false;
  *size = bytes;
  return true;
}

bool osRegEnumKey(OsRegKey key, uint32_t index, char* name, uint32_t capacity) {
  return RegEnumKeyA(static_cast<HKEY>(key), index, name, capacity) == ERROR_SUCCESS;
}

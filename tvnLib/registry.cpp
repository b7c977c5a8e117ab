#include "registry.h"

#include <new>

int RegReadString(OsRegRoot root, const char* name, char** out, const char* subkey) {
  OsRegKey key = osRegOpen(root, subkey, true);
  if (key == nullptr) return -1;
  uint32_t size = 0;
  if (!osRegQueryValue(key, name, nullptr, &size)) {
    osRegClose(key);
    return -1;
  }
  char* text = new (std::nothrow) char[size + 1];
  if (text == nullptr) {
    osRegClose(key);
    return -1;
  }
  uint32_t read = size;
  if (!osRegQueryValue(key, name, text, &read)) read = 0;
  text[read < size ? read : size] = '\0';
  osRegClose(key);
  *out = text;
  return 0;
}

int RegReadDword(OsRegRoot root, const char* name, uint32_t* out, const char* subkey) {
  OsRegKey key = osRegOpen(root, subkey, true);
  if (key == nullptr) return -1;
  uint32_t value = 0;
  uint32_t size = sizeof value;
  const bool ok = osRegQueryValue(key, name, &value, &size);
  osRegClose(key);
  if (!ok) return -1;
  *out = value;
  return 0;
}

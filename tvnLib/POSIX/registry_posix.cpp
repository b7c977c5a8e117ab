// The registry part of the platform contract on POSIX, over RegFile. The
// file is read afresh at every open, so that a changed file takes effect at
// the driver's next settings read, as a changed registry would.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "../os.h"
#include "reg_file.h"

namespace {

struct PosixRegKey {
  RegFile file;
  OsRegRoot root;
  std::string path;
};

PosixRegKey* KeyOf(OsRegKey key) { return static_cast<PosixRegKey*>(key); }

}  // namespace

OsRegKey osRegOpen(OsRegRoot root, const char* path, bool) {
  std::unique_ptr<PosixRegKey> key(new PosixRegKey{RegFile::Load(), root, path != nullptr ? path : ""});
  if (!key->file.HasKey(root, key->path)) return nullptr;
  return key.release();
}

void osRegClose(OsRegKey key) { delete KeyOf(key); }

bool osRegQueryValue(OsRegKey key, const char* name, void* data, uint32_t* size) {
  PosixRegKey* k = KeyOf(key);
  const std::vector<uint8_t>* value = k->file.Value(k->root, k->path, name != nullptr ? name : "");
  if (value == nullptr) return false;
  const uint32_t bytes = static_cast<uint32_t>(value->size());
  if (data != nullptr) {
    if (*size < bytes) {
      *size = bytes;
      return false;
    }
    if (bytes != 0) std::memcpy(data, value->data(), bytes);
  }
  *size = bytes;
  return true;
}

bool osRegEnumKey(OsRegKey key, uint32_t index, char* name, uint32_t capacity) {
  PosixRegKey* k = KeyOf(key);
  const std::vector<std::string> names = k->file.Subkeys(k->root, k->path);
  if (index >= names.size() || names[index].size() + 1 > capacity) return false;
  std::memcpy(name, names[index].c_str(), names[index].size() + 1);
  return true;
}

void osRegistryLocation(char* out, size_t capacity, bool* exists) {
  const std::string path = RegFile::Location();
  std::snprintf(out, capacity, "%s", path.empty() ? "(no settings file: HOME is not set)" : path.c_str());
  *exists = !path.empty() && access(path.c_str(), R_OK) == 0;
}

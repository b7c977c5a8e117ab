// Arbitrary bytes as the POSIX settings file: the parser must never crash,
// hang or read out of bounds, whatever the encoding, quoting, continuation
// lines or value sizes, and what it reports must be consistent: every
// subkey it lists exists, and no value is larger than the text it came from.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tvnLib/POSIX/reg_file.h"

namespace {

const char* const kSettings = "Software\\Orvell Stagecraft\\Trivane - Previsa Protocol Driver\\Settings";
const char* const kNames[] = {"ip", "Trivane1", "Trivane2", "Trivane32", "Autofocus", "echo", "Blob", ""};

void Check(bool condition) {
  if (!condition) std::abort();
}

void Walk(const RegFile& file, OsRegRoot root, const std::string& path, size_t inputSize, int depth) {
  if (depth > 8) return;
  for (const char* name : kNames) {
    const std::vector<uint8_t>* value = file.Value(root, path, name);
    if (value != nullptr) Check(value->size() <= inputSize + 4);
  }
  for (const std::string& sub : file.Subkeys(root, path)) {
    Check(!sub.empty());
    const std::string child = path.empty() ? sub : path + "\\" + sub;
    Check(file.HasKey(root, child));
    Walk(file, root, child, inputSize, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const RegFile file = RegFile::Parse(bytes);
  for (OsRegRoot root : {OsRegRoot::CurrentUser, OsRegRoot::LocalMachine}) {
    Walk(file, root, "", size, 0);
    Walk(file, root, kSettings, size, 0);
  }
  return 0;
}

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

void Walk(const RegFile& file, OsRegRoot root, const std::string& path, size_t inputSize, int depth) {
  if (depth > 8) return;
  for (const char* name : kNames) {
    const std::vector<uint8_t>* value = file.Value(root, path, name);
    if (value != nullptr && value->size() > inputSize + 4) std::abort();
  }
  for (const std::string& sub : file.Subkeys(root, path)) {
    const std::string child = path.empty() ? sub : path + "\\" + sub;
    if (sub.empty() || !file.HasKey(root, child)) std::abort();
    Walk(file, root, child, inputSize, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RegFile file = RegFile::Parse(std::string(reinterpret_cast<const char*>(data), size));
  for (OsRegRoot root : {OsRegRoot::CurrentUser, OsRegRoot::LocalMachine}) {
    Walk(file, root, "", size, 0);
    Walk(file, root, kSettings, size, 0);
  }
  return 0;
}

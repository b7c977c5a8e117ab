#include "library_version.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "pv_version.h"

namespace {
// Written by driver/build_text.cpp in front of the version text.
const char kMarker[] = "@(#)PvTrivane ";
}  // namespace

const char* ToolVersion() { return PV_VERSION_TEXT; }

bool FileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f != nullptr) std::fclose(f);
  return f != nullptr;
}

std::string ProgramFolder(const char* argv0) {
  const std::string path = argv0 != nullptr ? argv0 : "";
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string BuildTextInFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "";
  std::vector<char> bytes;
  char block[65536];
  for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.insert(bytes.end(), block, block + n);
  std::fclose(f);
  const size_t m = sizeof kMarker - 1;
  for (size_t i = 0; i + m < bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], kMarker, m) != 0) continue;
    std::string text;
    for (size_t j = i + m; j < bytes.size() && bytes[j] > ' ' && bytes[j] < 127 && text.size() < 64; ++j)
      text.push_back(bytes[j]);
    return text;
  }
  return "";
}

std::string LibraryVersionText(const LibraryVersion& v) {
  if (!v.exists) return v.path + ": not found";
  std::string text = v.path + ":";
  if (!v.fileVersion.empty()) text += " file version " + v.fileVersion + ",";
  text += v.build.empty() ? " carries no build information" : " build " + v.build;
  return text;
}

// Which build a driver library file is, for the technician: the release and
// build that the file carries (Windows: its version resource, as the file's
// properties show it; elsewhere the text that the build puts inside the
// library). One implementation of the reading per platform.
#pragma once

#include <string>

struct LibraryVersion {
  std::string path;
  bool exists = false;      // the file is there
  std::string fileVersion;  // Windows: the resource's numbers, "3.13.0.0"
  std::string build;        // "3.13.0+g1a2b3c4"; empty when the file carries none
};

LibraryVersion ReadLibraryVersion(const std::string& path);

// The driver library that the host loads, as far as a tool can know: the one
// next to the program when there is one (a build folder), else where the
// installer put it (Windows: the folder it recorded; Linux: the library
// folder of the package).
std::string InstalledLibrary(const char* argv0);

// "PATH: file version 3.13.0.0, build 3.13.0+g1a2b3c4", or what is missing.
std::string LibraryVersionText(const LibraryVersion& v);

// This program's own release and build, for --version.
const char* ToolVersion();

// Used by the platform files: the build text inside a library file, or "".
std::string BuildTextInFile(const std::string& path);
bool FileExists(const std::string& path);
std::string ProgramFolder(const char* argv0);

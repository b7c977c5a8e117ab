// The driver's settings for a test: the registry file on POSIX, the real
// (wine) registry on Windows, written through the platform's own means. The
// driver itself only reads. Starts empty and removes what it wrote.
#pragma once

#include <cstdint>
#include <string>

#include "tvnLib/os.h"

// In a program that a test starts: reads the settings the test wrote (on
// Windows the test process's registry keys are redirected; POSIX passes the
// settings file in the environment already).
void UseParentTestRegistry();

class TestRegistry {
 public:
  TestRegistry();
  ~TestRegistry();
  TestRegistry(const TestRegistry&) = delete;
  TestRegistry& operator=(const TestRegistry&) = delete;

  void SetString(OsRegRoot root, const std::string& path, const std::string& name, const std::string& value);
  void SetDword(OsRegRoot root, const std::string& path, const std::string& name, uint32_t value);
  // Removes every key this registry can hold for the driver and the host.
  void Clear();

  // Values of the driver key, the common case.
  void Setting(const std::string& name, uint32_t value);
  void Setting(const std::string& name, const std::string& value);
  // One installed host release with its "ReleaseVer" text.
  void HostRelease(const std::string& subkey, const std::string& releaseVer);

 private:
  struct Impl;
  Impl* m_impl;
};

// Makes sure the process starts from an empty registry (test main).
void UseEmptyTestRegistry();

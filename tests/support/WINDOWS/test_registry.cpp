// The test registry on Windows: the real registry (wine's, here), written
// with the Win32 API. So that a test run never touches the user's own
// settings, HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of the test process are
// redirected to two empty keys under HKCU\Software\PvTrivaneTests.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "../test_registry.h"

struct TestRegistry::Impl {};

namespace {

const char kTestRoot[] = "Software\\PvTrivaneTests";

HKEY Root(OsRegRoot root) { return root == OsRegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

void Set(OsRegRoot root, const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(Root(root), path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

HKEY CreateUnderTestRoot(const char* name) {
  HKEY key = nullptr;
  const std::string path = std::string(kTestRoot) + "\\" + name;
  RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

}  // namespace

void UseEmptyTestRegistry() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot);
  UseParentTestRegistry();
}

void UseParentTestRegistry() {
  HKEY user = CreateUnderTestRoot("user");
  HKEY machine = CreateUnderTestRoot("machine");
  RegOverridePredefKey(HKEY_CURRENT_USER, user);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
  RegCloseKey(user);
  RegCloseKey(machine);
}

TestRegistry::TestRegistry() : m_impl(new Impl) { UseEmptyTestRegistry(); }

TestRegistry::~TestRegistry() {
  UseEmptyTestRegistry();
  delete m_impl;
}

void TestRegistry::SetString(OsRegRoot root, const std::string& path, const std::string& name,
                             const std::string& value) {
  Set(root, path, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void TestRegistry::SetDword(OsRegRoot root, const std::string& path, const std::string& name, uint32_t value) {
  Set(root, path, name, REG_DWORD, &value, sizeof value);
}

void TestRegistry::Clear() { UseEmptyTestRegistry(); }

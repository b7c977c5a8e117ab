// The test registry on POSIX: a .reg file rewritten at every change, named
// by PVTRIVANE_REGISTRY.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include "../test_registry.h"

struct TestRegistry::Impl {
  std::string path;
  // key path (with root) -> value name -> line text of the value
  std::map<std::string, std::map<std::string, std::string>> keys;

  void Write() const {
    std::ofstream out(path, std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\n\n";
    for (const auto& key : keys) {
      out << "[" << key.first << "]\n";
      for (const auto& value : key.second) out << "\"" << value.first << "\"=" << value.second << "\n";
      out << "\n";
    }
  }
};

namespace {
std::string RootName(OsRegRoot root) {
  return root == OsRegRoot::CurrentUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\";
}
std::string Quote(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + "\"";
}
}  // namespace

TestRegistry::TestRegistry() : m_impl(new Impl) {
  char pattern[] = "/tmp/pvtrivane-test-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd >= 0) close(fd);
  m_impl->path = pattern;
  m_impl->Write();
  setenv("PVTRIVANE_REGISTRY", m_impl->path.c_str(), 1);
}

TestRegistry::~TestRegistry() {
  std::remove(m_impl->path.c_str());
  UseEmptyTestRegistry();
  delete m_impl;
}

void TestRegistry::SetString(OsRegRoot root, const std::string& path, const std::string& name,
                             const std::string& value) {
  m_impl->keys[RootName(root) + path][name] = Quote(value);
  m_impl->Write();
}

void TestRegistry::SetDword(OsRegRoot root, const std::string& path, const std::string& name, uint32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "dword:%08x", value);
  m_impl->keys[RootName(root) + path][name] = text;
  m_impl->Write();
}

void TestRegistry::Clear() {
  m_impl->keys.clear();
  m_impl->Write();
}

void UseEmptyTestRegistry() { setenv("PVTRIVANE_REGISTRY", "/nonexistent/pvtrivane-test.reg", 1); }

void UseParentTestRegistry() {}

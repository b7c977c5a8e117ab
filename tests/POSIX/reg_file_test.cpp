// The POSIX stand-in for the registry: the .reg text format.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tvnLib/POSIX/reg_file.h"
#include "tvnLib/os.h"

namespace {

const char kPath[] = "Software\\Orvell Stagecraft\\Trivane - Previsa Protocol Driver\\Settings";

std::string Text(const RegFile& file, const std::string& name, const std::string& path = kPath,
                 OsRegRoot root = OsRegRoot::CurrentUser) {
  const std::vector<uint8_t>* v = file.Value(root, path, name);
  return v == nullptr ? "<none>" : std::string(v->begin(), v->end());
}

// A DWORD value's four bytes, as stored.
std::string Dword(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

TEST(RegFile, ReadsTextsDwordsAndHexAsRegeditWritesThem) {
  const RegFile file = RegFile::Parse(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Orvell Stagecraft\\Trivane - Previsa Protocol Driver\\Settings]\r\n"
      "\"ip\"=\"127.0.0.1\"\r\n"
      "\"Trivane1\"=dword:0000001f\r\n"
      "\"quoted\"=\"a \\\"b\\\" c\\\\d\"\r\n"
      "\"bytes\"=hex:01,02,\\\r\n"
      "  03\r\n");
  EXPECT_EQ(Text(file, "ip"), std::string("127.0.0.1\0", 10));
  EXPECT_EQ(Text(file, "Trivane1"), Dword(31));
  EXPECT_EQ(Text(file, "TRIVANE1"), Dword(31));  // names ignore case
  EXPECT_EQ(Text(file, "quoted"), std::string("a \"b\" c\\d\0", 10));
  EXPECT_EQ(Text(file, "bytes"), std::string("\x01\x02\x03", 3));
  EXPECT_TRUE(file.HasKey(OsRegRoot::CurrentUser, "software\\orvell stagecraft"));
  EXPECT_FALSE(file.HasKey(OsRegRoot::LocalMachine, "Software"));
  std::string wide = "\xFF\xFE";  // UTF-16, as regedit exports
  for (char c : std::string("[HKEY_CURRENT_USER\\X]\r\n\"v\"=dword:00000002\r\n")) wide.append({c, '\0'});
  EXPECT_EQ(Text(RegFile::Parse(wide), "v", "X"), Dword(2));
}

TEST(RegFile, SkipsMalformedLinesAndEnumeratesDirectSubkeysInRegeditOrder) {
  const RegFile file = RegFile::Parse(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard Lighting Limited\\Previsa\\Release b]\n"
      "\"ReleaseVer\"=\"Release 15\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard Lighting Limited\\Previsa\\A12\\deeper]\n"
      "[HKLM\\SOFTWARE\\Halvard Lighting Limited\\Previsa\\c]\n"
      "[HKEY_CURRENT_USER\\Software\\Orvell Stagecraft\\Trivane - Previsa Protocol Driver\\Settings]\n"
      "\"broken=\"x\"\n"
      "\"Trivane2\"=dword:zz\n"
      "\"Trivane3\"=dword:123456789\n"
      "garbage line\n"
      "\"ip\"=\"10.0.0.1\n"
      "\"echo\"=dword:00000001\n"
      "[HKEY_CLASSES_ROOT\\Ignored]\n"
      "\"echo\"=dword:00000002\n"
      "[-HKEY_CURRENT_USER\\Deleted]\n"
      "\"Trivane2\"=dword:00000002\n"
      "[HKEY_CURRENT_USER\\Software\\\\Orvell]\n"  // an empty key name: not a key
      "\"Trivane2\"=dword:00000003\n");
  EXPECT_EQ(Text(file, "echo"), Dword(1));
  for (const std::string& sub : file.Subkeys(OsRegRoot::CurrentUser, "Software")) EXPECT_FALSE(sub.empty());
  EXPECT_EQ(Text(file, "Trivane2"), "<none>");
  EXPECT_EQ(Text(file, "Trivane3"), "<none>");
  EXPECT_EQ(Text(file, "ip"), "<none>");
  EXPECT_EQ(file.Subkeys(OsRegRoot::LocalMachine, "SOFTWARE\\Halvard Lighting Limited\\Previsa"),
            (std::vector<std::string>{"A12", "c", "Release b"}));
  EXPECT_EQ(Text(file, "releasever", "SOFTWARE\\Halvard Lighting Limited\\Previsa\\release B", OsRegRoot::LocalMachine),
            std::string("Release 15\0", 11));
}

TEST(RegFile, FindsTheFileThroughTheEnvironmentAndReadsTheShippedExample) {
  setenv("PVTRIVANE_REGISTRY", PV_SOURCE_DIR "/config/settings-example.reg", 1);
  const RegFile example = RegFile::Load();
  EXPECT_EQ(Text(example, "ip"), std::string("192.168.1.20\0", 13));
  EXPECT_EQ(Text(example, "Trivane3"), Dword(3));
  EXPECT_EQ(Text(example, "echo"), Dword(0));
  EXPECT_EQ(Text(example, "Autofocus"), "<none>");  // commented out
  // A subkey's name fills the caller's buffer up to its terminator, not
  // beyond; a value that does not fit is not read, and its size is told.
  const std::string driverKey = std::string(kPath).substr(0, std::string(kPath).rfind('\\'));
  const OsRegKey driver = osRegOpen(OsRegRoot::CurrentUser, driverKey.c_str(), true),
                 settings = osRegOpen(OsRegRoot::CurrentUser, kPath, true);
  char name[9];
  uint32_t size = sizeof name;
  EXPECT_EQ((std::vector<uint32_t>{osRegEnumKey(driver, 0, name, 9), osRegEnumKey(driver, 0, name, 8),
                                   osRegQueryValue(settings, "ip", name, &size), size}),
            (std::vector<uint32_t>{true, false, false, 13}));
  EXPECT_STREQ(name, "Settings");
  osRegClose(driver), osRegClose(settings);
  setenv("PVTRIVANE_REGISTRY", "/some/file.reg", 1);
  EXPECT_EQ(RegFile::Location(), "/some/file.reg");
  unsetenv("PVTRIVANE_REGISTRY");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(RegFile::Location(), "/cfg/pvtrivane/registry.reg");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/user", 1);
  EXPECT_EQ(RegFile::Location(), "/home/user/.config/pvtrivane/registry.reg");
  setenv("PVTRIVANE_REGISTRY", "/nonexistent/pvtrivane-test.reg", 1);
  EXPECT_FALSE(RegFile::Load().HasKey(OsRegRoot::CurrentUser, "Software"));
}

}  // namespace

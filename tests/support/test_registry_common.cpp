#include "test_registry.h"

#include "driver/settings.h"
#include "tvnLib/lib_startup.h"

void TestRegistry::Setting(const std::string& name, uint32_t value) {
  SetDword(OsRegRoot::CurrentUser, kDriverSettingsKey, name, value);
}

void TestRegistry::Setting(const std::string& name, const std::string& value) {
  SetString(OsRegRoot::CurrentUser, kDriverSettingsKey, name, value);
}

void TestRegistry::HostRelease(const std::string& subkey, const std::string& releaseVer) {
  SetString(OsRegRoot::LocalMachine, std::string(kHostKey) + "\\" + subkey, "ReleaseVer", releaseVer);
}

#include "lib_startup.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "echo.h"
#include "os.h"
#include "os_ctask.h"
#include "registry.h"

const char kDriverSettingsKey[] = "Software\\Orvell Stagecraft\\Trivane - Previsa Protocol Driver\\Settings";

uint32_t TaskTlsIndex = kOsTlsInvalid;

namespace {

// Library tables that this driver never fills; shut-down empties them.
std::map<int, std::unique_ptr<char[]>> DirMap;
std::vector<std::unique_ptr<uint8_t[]>> HostTable;

void ClrDirMap() { DirMap.clear(); }
void ClearHosttable() { HostTable.clear(); }

}  // namespace

int LibStartup() {
  TaskTlsIndex = osTlsAlloc();
  if (TaskTlsIndex == kOsTlsInvalid) return 0;
  uint32_t echo = 0;
  if (RegReadDword(OsRegRoot::CurrentUser, "echo", &echo, kDriverSettingsKey) != 0 || echo != 1)
    return 1;
  EchoCreate("Trivane previsa driver Echo", osHostInstance(), osLogoIcon());
  EchoMove(10, 10, 300, 200);
  EchoShow(9);
  return 1;
}

int LibShutdown() {
  EchoPrint("ClrDirMap();");
  ClrDirMap();
  ClearHosttable();
  EchoPrint("ClearHosttable();");
  EchoDestroy();
  if (TaskTlsIndex != kOsTlsInvalid) {
    osTlsFree(TaskTlsIndex);
    TaskTlsIndex = kOsTlsInvalid;
  }
  return 1;
}

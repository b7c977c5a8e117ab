// The built driver library loaded by path, as the host loads it: its
// exports, its process attach and detach.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "support/test_registry.h"
#include "tools/console_sim.h"
#include "tools/driver_api.h"
#include "tvnLib/os_net.h"

namespace {

std::string LibraryPath() { return PV_LIBRARY_PATH; }

TEST(Library, ExportsAllEntryPointsAndRunsAttachOnLoad) {
  TestRegistry registry;
  registry.HostRelease("Previsa 13", "Release 13");
  DriverApi api;
  std::string error;
  ASSERT_TRUE(api.Load(LibraryPath(), &error)) << error;
  // Attach settled the autofocus kind from the registry.
  EXPECT_EQ(api.GetDriverCaps(), 0x9u);
  uint32_t major = 0, minor = 0;
  api.GetVersionInfo(&major, &minor);
  EXPECT_EQ(minor, 311u);
  api.Unload();

  registry.Clear();  // a fresh load settles again
  ASSERT_TRUE(api.Load(LibraryPath(), &error)) << error;
  EXPECT_EQ(api.GetDriverCaps(), 0x201u);
  api.Unload();
}

TEST(Library, AFailedLoadLeavesTheHostsSocketLayerAlone) {
  // Windows refuses the load and calls detach all the same; POSIX loads a
  // library that stays inactive.
  osSetEnvironment("PVTRIVANE_FAULTS", "attach-fails");
  DriverApi api;
  std::string error;
  api.Load(LibraryPath(), &error);
  api.Unload();
  osSetEnvironment("PVTRIVANE_FAULTS", "");
  const OsSocket s = osUdpSocket();
  EXPECT_NE(s, kOsInvalidSocket) << "the failed load shut the host's sockets down";
  osSocketClose(s);
}

TEST(Library, UnloadingEndsTheSessionsOfTheLibrary) {
  TestRegistry registry;
  registry.Setting("ip", "127.0.0.1");
  registry.Setting("Trivane1", 12u);
  SimOptions options;
  options.console = 12;
  options.rateHz = 20;
  ConsoleSimulator sim(options);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;

  DriverApi api;
  ASSERT_TRUE(api.Load(LibraryPath(), &error)) << error;
  api.Init();
  static PDIList list;
  std::memset(&list, 0, sizeof list);
  ASSERT_EQ(api.StartDetect(1, &list), 0);
  ASSERT_EQ(api.Connect(&list.Records[0]), 12);
  bool levels = false;
  for (int i = 0; i < 200 && !levels; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (api.LockPortBuffer(12, 0) != 0) continue;
    uint8_t* buffer = nullptr;
    if (api.GetPortBuffer(12, 0, &buffer) == 512 && buffer != nullptr)
      for (int c = 0; c < 512; ++c) levels = levels || buffer[c] != 0;
    api.UnlockPortBuffer(12, 0);
  }
  EXPECT_TRUE(levels);
  const auto start = std::chrono::steady_clock::now();
  api.Unload();  // without Disconnect: detach ends the session
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  const size_t seen = sim.ControlPackets().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  EXPECT_EQ(sim.ControlPackets().size(), seen);  // no heartbeat after the unload
}

}  // namespace

// The built driver library loaded by path, as the host loads it: its
// exports, its process attach and detach.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "support/test_registry.h"
#include "tools/console_sim.h"
#include "tools/driver_api.h"
#include "tvnLib/os_net.h"

namespace {

TEST(Library, AFailedAttachLeavesTheHostAloneEachLoadAttachesAfreshAndUnloadEndsTheSessions) {
  // Windows refuses the load and calls detach all the same; POSIX loads a
  // library that stays inactive.
  osSetEnvironment("PVTRIVANE_FAULTS", "attach-fails");
  DriverApi api;
  std::string error;
#ifndef _WIN32
  testing::internal::CaptureStderr();
#endif
  api.Load(PV_LIBRARY_PATH, &error);
  api.Unload();
#ifndef _WIN32
  EXPECT_NE(testing::internal::GetCapturedStderr().find("could not start and stays inactive"), std::string::npos);
#endif
  osSetEnvironment("PVTRIVANE_FAULTS", "");
  const OsSocket s = osUdpSocket();
  EXPECT_NE(s, kOsInvalidSocket) << "the failed load shut the host's sockets down";
  osSocketClose(s);

  TestRegistry registry;
  registry.HostRelease("Previsa 13", "Release 13");
  ASSERT_TRUE(api.Load(PV_LIBRARY_PATH, &error)) << error;
  EXPECT_EQ(api.GetDriverCaps(), 0x9u);  // attach read the host's releases
  api.Unload();

  registry.Clear();  // a fresh load settles again
  registry.Setting("ip", "127.0.0.1");
  registry.Setting("Trivane1", 12u);
  SimOptions options;
  options.console = 12;
  options.rateHz = 20;
  ConsoleSimulator sim(options);
  ASSERT_TRUE(sim.Start(&error)) << error;
  ASSERT_TRUE(api.Load(PV_LIBRARY_PATH, &error)) << error;
  EXPECT_EQ(api.GetDriverCaps(), 0x201u);
  api.Init();
  const auto list = std::make_unique<PDIList>();
  ASSERT_EQ(api.StartDetect(1, list.get()), 0);
  ASSERT_EQ(api.Connect(&list->Records[0]), 12);
  bool levels = false;
  for (int i = 0; i < 200 && !levels; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    uint8_t* buffer = nullptr;
    if (api.LockPortBuffer(12, 0) != 0) continue;
    levels = api.GetPortBuffer(12, 0, &buffer) == 512 && buffer != nullptr &&
             std::any_of(buffer, buffer + 512, [](uint8_t level) { return level != 0; });
    api.UnlockPortBuffer(12, 0);
  }
  EXPECT_TRUE(levels);
  const auto start = std::chrono::steady_clock::now();
  api.Unload();  // without Disconnect: detach ends the session
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  const size_t seen = sim.ControlPackets().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // beyond a heartbeat period
  EXPECT_EQ(sim.ControlPackets().size(), seen);                  // no heartbeat after the unload
}

}  // namespace

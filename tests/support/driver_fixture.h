// A driver in a known state for a test: settings in a fresh test registry,
// the process-wide values as at load, no sessions, message boxes recorded.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_state.h"
#include "driver/pvtrivane.h"
#include "driver/settings.h"
#include "sessions/port_map.h"
#include "support/echo_capture.h"
#include "support/test_registry.h"
#include "support/timing.h"
#include "tvnLib/ipaddress.h"
#include "tvnLib/os.h"

class DriverTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetDriverState();
    Boxes().clear();
    DriverMessageBox = [](const char* text, const char* caption) { Boxes().push_back(std::string(caption) + ": " + text); };
  }
  void TearDown() override {
    ClearPortMap();
    ResetDriverState();
    DriverMessageBox = osMessageBox;
  }

  // The settings for console sessions on loopback.
  void LoopbackSettings(uint32_t console1, uint32_t console2 = 0, uint32_t console3 = 0) {
    registry.Setting("ip", "127.0.0.1");
    if (console1 != 0) registry.Setting("Trivane1", console1);
    if (console2 != 0) registry.Setting("Trivane2", console2);
    if (console3 != 0) registry.Setting("Trivane3", console3);
    Init();
  }

  static std::vector<std::string>& Boxes() {
    static std::vector<std::string> boxes;
    return boxes;
  }

  EchoCapture echo;
  TestRegistry registry;
};

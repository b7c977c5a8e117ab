// Console sessions against the console simulator on loopback: a fixture
// with a simulator per console and the host's way of reading a port.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "sessions/ports.h"
#include "support/driver_fixture.h"
#include "support/timing.h"
#include "tools/console_sim.h"

// A console simulator started on loopback with `options`.
inline std::unique_ptr<ConsoleSimulator> StartedSimulator(const SimOptions& options) {
  std::unique_ptr<ConsoleSimulator> sim(new ConsoleSimulator(options));
  std::string error;
  EXPECT_TRUE(sim->Start(&error)) << error;
  return sim;
}

class Session : public DriverTest {
 protected:
  // A simulated console; without a rate it sends levels only when the test
  // sets them.
  std::unique_ptr<ConsoleSimulator> Simulator(uint32_t console, bool accept = true, int universes = 1,
                                              double rateHz = 0, SimPattern pattern = SimPattern::Static) {
    SimOptions options;
    options.console = console;
    options.universes = universes;
    options.rateHz = rateHz;
    options.pattern = pattern;
    options.neverAccept = !accept;
    return StartedSimulator(options);
  }

  // Console `console` on loopback, connected by the host, its receiver
  // running.
  std::unique_ptr<ConsoleSimulator> ConnectedConsole(uint8_t console) {
    LoopbackSettings(console);
    auto sim = Simulator(console);
    PDI pdi = Record(console);
    EXPECT_EQ(Connect(&pdi), console);
    EXPECT_TRUE(Eventually([&] { return GetNumChannels(console, 0) == 512; }));
    return sim;
  }

  static PDI Record(uint8_t console) {
    PDI pdi;
    std::memset(&pdi, 0, sizeof pdi);
    pdi.Data[0] = console;
    return pdi;
  }

  // Sends `levels` for `universe` until the host reads them from the port:
  // the receiver joins its group a moment after it is created, as a
  // console's stream would fill in.
  bool Delivered(ConsoleSimulator& sim, uint16_t handle, int universe, const std::vector<uint8_t>& levels) {
    return Eventually([&] {
      sim.SetLevels(universe, levels.data());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      return ReadPort(handle, universe) == levels;
    });
  }

  // The Receiving field of the latest heartbeat the console saw, -1 before
  // the first.
  static int LastReceiving(const ConsoleSimulator& sim) {
    int receiving = -1;
    for (const SimControlPacket& p : sim.ControlPackets())
      if (p.type == PD_HEARTBEAT) receiving = static_cast<int>(p.receiving);
    return receiving;
  }

  // 512 levels that differ from channel to channel and from seed to seed.
  static std::vector<uint8_t> Pattern(uint8_t seed) {
    std::vector<uint8_t> levels(512);
    for (int c = 0; c < 512; ++c) levels[c] = static_cast<uint8_t>(seed + c * 3);
    return levels;
  }

  static bool AllZero(const uint8_t* p) { return std::count(p, p + 512, 0) == 512; }

  // Reads one port as the host does; empty when the port is not readable.
  static std::vector<uint8_t> ReadPort(uint16_t handle, int port) {
    std::vector<uint8_t> levels;
    if (LockPortBuffer(handle, port) != 0) return levels;
    uint8_t* buffer = nullptr;
    if (GetPortBuffer(handle, port, &buffer) == 512 && buffer != nullptr) levels.assign(buffer, buffer + 512);
    UnlockPortBuffer(handle, port);
    return levels;
  }
};

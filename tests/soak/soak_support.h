// What the soak tests share: the length knob, a console that keeps no
// packets, a raw multicast sender on loopback and a wait for a counter.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "support/platform.h"
#include "support/session_fixture.h"
#include "tvnLib/ipaddress.h"

// Sanitizers keep freed memory and shadow of their own, and an emulator
// (PV_EMULATED set) its translated code: resident memory says nothing about
// the driver there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

inline bool MemoryIsTheDrivers() { return !kSanitized && std::getenv("PV_EMULATED") == nullptr; }

// Resident memory may grow by at most this much over a soak.
constexpr int64_t kFlatRssBytes = 4 << 20;

// `count` stretched (or, in slow builds, shrunk) by PV_SOAK_SCALE, 1 when
// unset; at least `least`.
inline int Scaled(int count, int least = 1) {
  const char* text = std::getenv("PV_SOAK_SCALE");
  const double scale = text != nullptr && std::atof(text) > 0 ? std::atof(text) : 1.0;
  return std::max(least, static_cast<int>(count * scale));
}

// A streaming console that answers every heartbeat (after `acceptDelayMs`,
// or never) and keeps no packets, so that the test's own memory stays flat.
inline std::unique_ptr<ConsoleSimulator> SoakConsole(uint32_t console, int universes, double rateHz,
                                                     int acceptDelayMs = 0, bool accepts = true) {
  SimOptions options;
  options.console = console;
  options.universes = universes;
  options.rateHz = rateHz;
  options.acceptDelayMs = acceptDelayMs;
  options.acceptIntervalMs = 0;
  options.neverAccept = !accepts;
  options.keepPackets = false;
  return StartedSimulator(options);
}

// Sends any bytes to a group on loopback, and can listen to other groups
// so that their traffic is on the machine too.
class LoopbackSender {
 public:
  LoopbackSender() : m_socket(osUdpSocket()) {
    osSetMulticastIf(m_socket, MakeAddress(127, 0, 0, 1));
    osSetSockOpt(m_socket, OsSockOpt::MulticastLoop, 1);
  }
  ~LoopbackSender() {
    for (OsSocket s : m_listeners) osSocketClose(s);
    osSocketClose(m_socket);
  }
  LoopbackSender(const LoopbackSender&) = delete;
  LoopbackSender& operator=(const LoopbackSender&) = delete;

  bool Send(uint32_t group, uint16_t port, const uint8_t* data, size_t length) {
    const IPADDRESS destination(port, group);
    return osSendTo(m_socket, data, static_cast<int>(length), &destination) == static_cast<int>(length);
  }

  // Joins `group` on `port` with a socket that nobody reads.
  void Listen(uint32_t group, uint16_t port) {
    const OsSocket s = osUdpSocket();
    osSetSockOpt(s, OsSockOpt::ReuseAddr, 1);
    const IPADDRESS any(port, 0);
    osBind(s, &any);
    osMembership(s, true, group, MakeAddress(127, 0, 0, 1));
    m_listeners.push_back(s);
  }

 private:
  OsSocket m_socket;
  std::vector<OsSocket> m_listeners;
};

// Waits for `counter` to reach `target`, in short sleeps; false after
// `ms` without it.
template <typename Counter>
bool Reaches(const Counter& counter, uint64_t target, int ms = 10000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (; static_cast<uint64_t>(counter()) < target; std::this_thread::sleep_for(std::chrono::microseconds(100)))
    if (std::chrono::steady_clock::now() >= until) return false;
  return true;
}

inline std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t length) {
  std::vector<uint8_t> bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// What the soak tests share: the length knob, a raw multicast sender on
// loopback, and a reader of every level a console streams.
#pragma once

#include <cstdlib>
#include <random>
#include <vector>

#include "support/platform.h"
#include "support/session_fixture.h"
#include "tvnLib/ipaddress.h"

// PV_SOAK_SCALE stretches (or, in slow builds, shrinks) every count and
// duration of the soak tests; 1 when unset.
inline double SoakScale() {
  const char* text = std::getenv("PV_SOAK_SCALE");
  const double scale = text != nullptr ? std::atof(text) : 1.0;
  return scale > 0 ? scale : 1.0;
}

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

inline int Scaled(int count, int least = 1) {
  const int n = static_cast<int>(count * SoakScale());
  return n < least ? least : n;
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
  while (static_cast<uint64_t>(counter()) < target) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

inline std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t length) {
  std::vector<uint8_t> bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// What one console's groups carried, as a listener beside the driver heard
// it: control packets by type and who sent them (the console's acceptances
// and shutdowns, the drivers' heartbeats), DMX datagrams by what the driver
// would make of them, and for each universe its datagrams, silences and
// the time of its last datagram; every sender by address and port.
//
// Plain values, filled by one listener thread at a time (GroupWatch guards
// them with its lock) and handed out as copies. Times are milliseconds
// since the listener's start.
#pragma once

#include <cstdint>
#include <vector>

// What the driver would make of a DMX datagram sent to the console's group.
enum class DmxVerdict : int { Accepted, Version, Length, Type, Flag, Oversize, Malformed };
constexpr int kDmxVerdicts = 7;
extern const char* const DmxVerdictNames[kDmxVerdicts];

// A universe that has been silent this long is lost.
constexpr uint32_t kUniverseLostMs = 2000;

struct Sender {
  uint32_t address = 0;  // network order
  uint16_t port = 0;
  uint32_t datagrams = 0;
  uint32_t firstMs = 0;
  uint32_t lastMs = 0;
  uint32_t receiving = 0;  // heartbeats: the last Receiving flag
};

struct UniverseHealth {
  uint32_t datagrams = 0;  // datagrams the driver decodes that carry it
  uint32_t firstMs = 0;
  uint32_t lastMs = 0;
  // Silences longer than four times its usual interval (and 100 ms).
  uint32_t gaps = 0;
  uint32_t longestGapMs = 0;

  bool Lost(uint32_t nowMs) const { return datagrams > 0 && nowMs - lastMs > kUniverseLostMs; }
};

struct GroupTraffic {
  uint32_t control[8] = {};                       // by message type 0..6; 7: no control packet
  uint32_t lastAcceptMs = 0, lastShutdownMs = 0;  // valid when the count is not 0
  std::vector<Sender> controlSenders;             // of PD_ACCEPT and PD_SHUTDOWN: the console
  std::vector<Sender> drivers;                    // of heartbeats
  uint32_t dmx[kDmxVerdicts] = {};
  uint32_t lastDmxMs = 0;
  std::vector<Sender> dmxSenders;
  UniverseHealth universe[64];

  // A control datagram of `length` bytes (read zero-filled, as the driver
  // reads it).
  void AddControl(const uint8_t* datagram, int length, uint32_t source, uint16_t port, uint32_t nowMs);
  // A DMX datagram and the verdict on it.
  void AddDmx(DmxVerdict verdict, const uint8_t* datagram, int length, uint32_t source, uint16_t port, uint32_t nowMs);

  uint32_t DmxTotal() const;
  // What a console (not a driver) sent: acceptances, shutdowns, DMX.
  uint32_t FromConsole() const { return control[2] + control[4] + DmxTotal(); }
  // The console's last word was a shutdown.
  bool ShutDown() const { return control[4] > 0 && (control[2] == 0 || lastShutdownMs >= lastAcceptMs); }
  // Senders of DMX heard within kUniverseLostMs of `nowMs`.
  int LiveDmxSenders(uint32_t nowMs) const;
};

// The verdict of the driver's acceptance rule on a datagram of `length`
// bytes (its full length, also when the receive buffer cut it).
DmxVerdict JudgeDmx(const uint8_t* datagram, int length);

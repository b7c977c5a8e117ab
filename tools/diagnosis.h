// What pvtrivane-diagnose found, and how it is told: in plain words with
// the likely causes and what to do, or as one JSON object for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver_settings.h"
#include "group_watch.h"
#include "library_version.h"
#include "net_interfaces.h"

struct DMX_STATS;

// A console session's DMX counters (see DMX_STATS).
struct SnifferCounts {
  bool present = false;
  uint32_t received = 0;
  uint32_t decoded = 0;
  uint32_t dropped[5] = {};
  SnifferCounts operator-(const SnifferCounts& earlier) const;
};
SnifferCounts CountsOf(const DMX_STATS& stats);

GroupTraffic operator-(const GroupTraffic& later, const GroupTraffic& earlier);

struct ConsoleReport {
  int number;
  int slot;                 // Trivane1..3
  double acceptMs = -1;     // -1: no PD_ACCEPT within 5 s
  uint32_t heartbeats = 0;
  bool heartbeatFailed = false;  // the heartbeat sender could not set up or send
  bool stateFailed = false;      // the state receiver could not set up
  double window = 0;             // seconds the DMX was watched
  SnifferCounts driver;          // what the driver's receiver did meanwhile
  GroupTraffic heard[32];        // what the watch heard on each console's groups

  bool Streams() const { return acceptMs >= 0 && driver.decoded > 0; }
};

struct Diagnosis {
  LibraryVersion library;  // the driver library that the host loads
  std::string tool;        // this program's build, whose driver code runs the checks
  Settings settings;
  std::vector<NetInterface> interfaces;
  bool interfaceKnown = false;
  NetInterface interfaceFound;
  std::vector<std::string> firewall;
  std::string watchError;  // the group watch could not start
  std::vector<ConsoleReport> consoles;

  bool AllStream() const;
};

std::string DiagnosisText(const Diagnosis& d);
std::string DiagnosisJson(const Diagnosis& d);

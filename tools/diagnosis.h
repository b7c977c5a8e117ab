// What pvtrivane-diagnose found, and how it is told: in plain words with
// the likely causes and what to do, or as one JSON object for scripts.
// Filled by diagnose.cpp on its main thread, read once to print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "autofocus_choice.h"
#include "driver_settings.h"
#include "library_version.h"
#include "net_interfaces.h"
#include "traffic_tally.h"

struct DMX_STATS;

// A console session's DMX counters (see DMX_STATS).
struct SnifferCounts {
  bool present = false;
  uint32_t received = 0;
  uint32_t decoded = 0;
  uint32_t dropped[5] = {};
  std::vector<Sender> senders;  // as the driver counted them since it connected
  // The counts since `earlier`; a count that went down (its source was
  // replaced) counts from 0.
  SnifferCounts Since(const SnifferCounts& earlier) const;
};
SnifferCounts CountsOf(const DMX_STATS& stats);

// Where a console was heard, when not (only) on the configured interface.
struct InterfaceHeard {
  std::string name;
  uint32_t address = 0;    // the interface's; 0: no interface of this machine reaches the sender
  uint32_t sender = 0;     // one of the console's addresses heard there
  uint32_t datagrams = 0;  // from the console, in the scan
};

struct ConsoleReport {
  int number;
  int slot;                               // Trivane1..3
  bool active = false;                    // diagnose sent heartbeats to this console
  bool askedBecauseSilent = false;        // ... because nothing was heard from it
  bool driverConnected = false;           // a driver's heartbeats say Receiving 1
  double window = 0;                      // seconds its groups were watched
  uint32_t nowMs = 0;                     // the watch's clock when it ended
  GroupTraffic heard[32];                 // what the watch heard on each console's groups
  std::vector<InterfaceHeard> elsewhere;  // the scan of every interface
  // Active only.
  double acceptMs = -1;  // -1: no PD_ACCEPT within 5 s
  uint32_t heartbeats = 0;
  bool heartbeatFailed = false;  // the heartbeat sender could not set up or send
  bool stateFailed = false;      // the state receiver could not set up
  SnifferCounts driver;          // what the driver's receiver did meanwhile
  bool receiverAtEnd = false;    // the driver still received when the watch ended

  const GroupTraffic& Own() const { return heard[number]; }
  bool ShutDown() const;
  bool Streams() const;
  int Senders() const;  // DMX senders heard during the watch
};

struct Diagnosis {
  LibraryVersion library;  // the driver library that the host loads
  std::string tool;        // this program's build, whose driver code runs the checks
  Settings settings;
  AutofocusChoice autofocus;
  std::vector<NetInterface> interfaces;
  bool interfaceKnown = false;
  NetInterface interfaceFound;
  std::vector<std::string> firewall;
  std::string watchError;                    // the group watch could not start
  std::vector<std::string> settingProblems;  // for instance one number entered twice
  bool scannedAll = false;                   // every interface was scanned
  bool neverAsk = false;                     // --passive: nothing is ever sent
  std::vector<ConsoleReport> consoles;

  bool AllStream() const;
};

std::string DiagnosisText(const Diagnosis& d);
std::string DiagnosisJson(const Diagnosis& d);

// Shared by the text and the JSON.
std::string Format(const char* format, ...);
std::string AddressText(uint32_t address);
std::string SenderText(const Sender& s);

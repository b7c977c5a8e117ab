#include "diagnosis.h"

#include <cstdarg>
#include <cstdio>

#include "../protocol/dmx_sniffer.h"
#include "../tvnLib/ipaddress.h"

namespace {

std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Address(uint32_t address) {
  char text[kAddressTextSize];
  return AddressText(address, text);
}

std::string InterfaceLine(const NetInterface& i) {
  return Format("%-12s %-15s %s%s", i.name.c_str(), Address(i.address).c_str(), i.up ? "up" : "DOWN",
                i.multicast ? ", multicast" : ", NO MULTICAST");
}

uint32_t Sum(const uint32_t* values, int n) {
  uint32_t sum = 0;
  for (int i = 0; i < n; ++i) sum += values[i];
  return sum;
}

// The universes' rates, runs of equal rates together: "0-63: 44.0/s".
std::string UniverseRates(const GroupTraffic& heard, double window) {
  std::string text;
  for (int u = 0; u < 64;) {
    if (heard.universe[u] == 0) {
      ++u;
      continue;
    }
    // Counts that differ by a datagram or two (the window's edges cut a
    // frame) read as the same rate.
    auto near = [&](uint32_t a, uint32_t b) { return (a > b ? a - b : b - a) <= 2 + a / 20; };
    int last = u;
    while (last + 1 < 64 && heard.universe[last + 1] != 0 && near(heard.universe[last + 1], heard.universe[u])) ++last;
    if (!text.empty()) text += ", ";
    text += last == u ? Format("%d", u) : Format("%d-%d", u, last);
    text += Format(": %.1f/s", heard.universe[u] / window);
    u = last + 1;
  }
  return text.empty() ? "none" : text;
}

// What a console sends on its groups: acceptances, shutdowns and DMX (a
// driver's heartbeats, ours among them, are not a console's).
uint32_t ConsoleTraffic(const GroupTraffic& t) { return t.control[2] + t.control[4] + Sum(t.dmx, kDmxVerdicts); }

bool Configured(const Diagnosis& d, int number) {
  for (const ConsoleReport& c : d.consoles)
    if (c.number == number) return true;
  return false;
}

// The other consoles that talk on this interface, with their rates.
std::string OthersHeard(const Diagnosis& d, const ConsoleReport& c) {
  std::string text;
  const double w = c.window > 0 ? c.window : 1;
  for (int n = 1; n <= 31; ++n) {
    const GroupTraffic& t = c.heard[n];
    if (n == c.number || ConsoleTraffic(t) == 0) continue;
    if (!text.empty()) text += "; ";
    text += Format("console %d%s (PD_ACCEPT %u, PD_SHUTDOWN %u, DMX %.1f datagrams/s)", n,
                   Configured(d, n) ? "" : ", not configured", t.control[2], t.control[4],
                   Sum(t.dmx, kDmxVerdicts) / w);
  }
  return text;
}

// A console that talks on this interface under a number that is not
// configured: likely the one that was meant.
int Unconfigured(const Diagnosis& d, const ConsoleReport& c) {
  for (int n = 1; n <= 31; ++n)
    if (!Configured(d, n) && ConsoleTraffic(c.heard[n]) != 0) return n;
  return 0;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"' || ch == '\\') out += '\\';
    if (static_cast<unsigned char>(ch) < 0x20) {
      out += Format("\\u%04x", ch);
      continue;
    }
    out += ch;
  }
  return out + "\"";
}

}  // namespace

SnifferCounts SnifferCounts::operator-(const SnifferCounts& e) const {
  SnifferCounts d = *this;
  if (!e.present) return d;
  d.received -= e.received;
  d.decoded -= e.decoded;
  for (int i = 0; i < 5; ++i) d.dropped[i] -= e.dropped[i];
  return d;
}

SnifferCounts CountsOf(const DMX_STATS& stats) {
  SnifferCounts c;
  c.present = true;
  c.received = stats.m_received.load();
  c.decoded = stats.m_decoded.load();
  for (int i = 0; i < kDmxDropReasons; ++i) c.dropped[i] = stats.m_dropped[i].load();
  return c;
}

GroupTraffic operator-(const GroupTraffic& later, const GroupTraffic& earlier) {
  GroupTraffic d = later;
  for (int i = 0; i < 8; ++i) d.control[i] -= earlier.control[i];
  for (int i = 0; i < kDmxVerdicts; ++i) d.dmx[i] -= earlier.dmx[i];
  for (int i = 0; i < 64; ++i) d.universe[i] -= earlier.universe[i];
  return d;
}

bool Diagnosis::AllStream() const {
  if (consoles.empty()) return false;
  for (const ConsoleReport& c : consoles)
    if (!c.Streams()) return false;
  return true;
}

std::string DiagnosisText(const Diagnosis& d) {
  const Settings& s = d.settings;
  std::string t = "PvTrivane diagnose " + d.tool + "\n\n";
  t += "Driver library " + LibraryVersionText(d.library) + "\n";
  if (!d.library.build.empty() && d.library.build != d.tool)
    t += "  (another build than this program's: the checks below run this program's driver code)\n";
  t += "\n";
  t += Format("Settings, read from %s%s:\n", s.source.c_str(), s.found ? "" : " (NOT FOUND: every value is missing)");
  t += SettingsText(s) + "\n";
  if (s.ipText.empty()) {
    t += "Interface: PROBLEM: \"ip\" is not set, so the driver cannot reach any console.\n";
  } else if (!d.interfaceKnown) {
    t += Format("Interface: PROBLEM: %s is not an address of this machine.\n", s.ipText.c_str());
  } else {
    const NetInterface& i = d.interfaceFound;
    const bool good = i.up && i.multicast;
    t += Format("Interface %s: \"%s\", %s%s.%s\n", Address(i.address).c_str(), i.name.c_str(), i.up ? "up" : "DOWN",
                i.multicast ? ", multicast" : ", NOT multicast-capable", good ? " Good." : " PROBLEM.");
  }
  if (!d.interfaceKnown || !d.interfaceFound.up || !d.interfaceFound.multicast) {
    t += "  This machine's IPv4 interfaces:\n";
    for (const NetInterface& i : d.interfaces) t += "    " + InterfaceLine(i) + "\n";
    t += "  Set \"ip\" to the one that faces the consoles (pvtrivane-config --ip ADDRESS).\n";
  }
  if (!d.watchError.empty()) t += "  (the consoles' groups could not be watched: " + d.watchError + ")\n";
  t += "\nFirewall:\n";
  for (const std::string& line : d.firewall) t += "  " + line + "\n";

  if (d.consoles.empty()) t += "\nNo console is configured: set Trivane1 (1 to 31) to the console's number.\n";
  int streaming = 0;
  for (const ConsoleReport& c : d.consoles) {
    t += Format("\nConsole %d (Trivane%d):\n", c.number, c.slot);
    t += Format("  heartbeats sent: %u%s\n", c.heartbeats,
                c.heartbeatFailed ? " -- the heartbeat could not be sent (see the interface above)" : "");
    if (c.acceptMs < 0) {
      t += "  no PD_ACCEPT within 5 s.\n";
      const int other = Unconfigured(d, c);
      if (other != 0)
        t += Format("  A console talks as number %d on this interface, which is not configured: if that is the "
                    "console meant here, set Trivane%d = %d.\n", other, c.slot, other);
      t += Format("  Likely causes: the console's number is not %d; the console is on another network than %s; "
                  "a firewall blocks inbound UDP 6007; the network does not carry multicast group 236.3.3.%d "
                  "(multicast routing, IGMP snooping on a switch without a querier).\n",
                  c.number, Address(d.settings.interfaceAddr).c_str(), c.number);
    } else {
      t += Format("  PD_ACCEPT after %.1f ms\n", c.acceptMs);
      const double w = c.window > 0 ? c.window : 1;
      t += Format("  DMX: %.1f datagrams/s received by the driver, %.1f/s decoded\n", c.driver.received / w,
                  c.driver.decoded / w);
      t += "    universes (datagrams/s): " + UniverseRates(c.heard[c.number], w) + "\n";
      const uint32_t dropped = Sum(c.driver.dropped, kDmxDropReasons);
      if (dropped == 0) {
        t += "  dropped: none\n";
      } else {
        t += "  dropped:";
        for (int r = 0; r < kDmxDropReasons; ++r)
          if (c.driver.dropped[r] != 0) t += Format(" %s %u;", DmxDropNames[r], c.driver.dropped[r]);
        t += "\n";
        const GroupTraffic& own = c.heard[c.number];
        for (int v = 1; v < kDmxVerdicts; ++v)
          if (own.dmx[v] != 0) t += Format("    %u datagrams with %s\n", own.dmx[v], DmxVerdictNames[v]);
        if (own.dmx[static_cast<int>(DmxVerdict::Version)] != 0)
          t += "    The console sends DMX of another protocol version than 7: the driver cannot read it.\n";
      }
      if (c.driver.decoded == 0 && c.driver.received == 0)
        t += Format("  No DMX arrives on 236.3.2.%d:9138: is the console's DMX output on, and does the network carry "
                    "that group?\n", 32 + c.number);
    }
    if (d.interfaceKnown && d.watchError.empty()) {
      const std::string others = OthersHeard(d, c);
      t += "  other consoles heard on this interface: " + (others.empty() ? std::string("none") : others) + "\n";
    }
    t += c.Streams() ? "  STREAMING\n" : "  NOT STREAMING\n";
    streaming += c.Streams() ? 1 : 0;
  }
  t += Format("\nResult: %d of %zu configured console%s streaming.\n", streaming, d.consoles.size(),
              d.consoles.size() == 1 ? "" : "s");
  return t;
}

std::string DiagnosisJson(const Diagnosis& d) {
  const Settings& s = d.settings;
  std::string j = "{\"tool\":" + Json(d.tool) + ",\"library\":{\"path\":" + Json(d.library.path) +
                  Format(",\"exists\":%s", d.library.exists ? "true" : "false") +
                  ",\"file_version\":" + Json(d.library.fileVersion) + ",\"build\":" + Json(d.library.build) + "}";
  j += ",\"settings\":{\"source\":" + Json(s.source) + Format(",\"found\":%s", s.found ? "true" : "false");
  j += ",\"ip\":" + (s.ipText.empty() ? std::string("null") : Json(s.ipText));
  for (int i = 0; i < 3; ++i)
    j += Format(",\"Trivane%d\":", i + 1) + (s.consoleSet[i] ? Format("%u", s.consoleValue[i]) : "null");
  j += "},\"interface\":{\"address\":" + Json(Address(s.interfaceAddr));
  j += Format(",\"on_this_machine\":%s", d.interfaceKnown ? "true" : "false");
  if (d.interfaceKnown)
    j += ",\"name\":" + Json(d.interfaceFound.name) + Format(",\"up\":%s,\"multicast\":%s",
                                                            d.interfaceFound.up ? "true" : "false",
                                                            d.interfaceFound.multicast ? "true" : "false");
  j += "},\"interfaces\":[";
  for (size_t i = 0; i < d.interfaces.size(); ++i) {
    const NetInterface& n = d.interfaces[i];
    j += Format("%s{\"name\":%s,\"address\":%s,\"up\":%s,\"multicast\":%s}", i ? "," : "", Json(n.name).c_str(),
                Json(Address(n.address)).c_str(), n.up ? "true" : "false", n.multicast ? "true" : "false");
  }
  j += "],\"firewall\":[";
  for (size_t i = 0; i < d.firewall.size(); ++i) j += (i ? "," : "") + Json(d.firewall[i]);
  j += "],\"consoles\":[";
  int streaming = 0;
  for (size_t i = 0; i < d.consoles.size(); ++i) {
    const ConsoleReport& c = d.consoles[i];
    const double w = c.window > 0 ? c.window : 1;
    j += Format("%s{\"number\":%d,\"slot\":%d,\"heartbeats\":%u,\"heartbeat_failed\":%s,", i ? "," : "", c.number,
                c.slot, c.heartbeats, c.heartbeatFailed ? "true" : "false");
    j += "\"accept_ms\":" + (c.acceptMs < 0 ? std::string("null") : Format("%.1f", c.acceptMs));
    j += Format(",\"received_per_s\":%.1f,\"decoded_per_s\":%.1f,\"dropped\":{", c.driver.received / w, c.driver.decoded / w);
    for (int r = 0; r < kDmxDropReasons; ++r) j += Format("%s%s:%u", r ? "," : "", Json(DmxDropNames[r]).c_str(), c.driver.dropped[r]);
    j += "},\"verdicts\":{";
    for (int v = 0; v < kDmxVerdicts; ++v)
      j += Format("%s%s:%u", v ? "," : "", Json(DmxVerdictNames[v]).c_str(), c.heard[c.number].dmx[v]);
    j += "},\"universes_per_s\":{";
    bool first = true;
    for (int u = 0; u < 64; ++u) {
      if (c.heard[c.number].universe[u] == 0) continue;
      j += Format("%s\"%d\":%.1f", first ? "" : ",", u, c.heard[c.number].universe[u] / w);
      first = false;
    }
    j += "},\"other_consoles\":{";
    first = true;
    for (int n = 1; n <= 31; ++n) {
      const GroupTraffic& t = c.heard[n];
      if (n == c.number || ConsoleTraffic(t) == 0) continue;
      j += Format("%s\"%d\":{\"configured\":%s,\"accept\":%u,\"shutdown\":%u,\"dmx_per_s\":%.1f}", first ? "" : ",",
                  n, Configured(d, n) ? "true" : "false", t.control[2], t.control[4], Sum(t.dmx, kDmxVerdicts) / w);
      first = false;
    }
    j += Format("},\"streaming\":%s}", c.Streams() ? "true" : "false");
    streaming += c.Streams() ? 1 : 0;
  }
  j += Format("],\"streaming\":%d,\"configured\":%zu}\n", streaming, d.consoles.size());
  return j;
}

// pvtrivane-diagnose's findings in plain words, with what to do.
#include <algorithm>

#include "../protocol/dmx_stats.h"
#include "diagnosis.h"

namespace {

// What each verdict on a console's DMX means, and what to do (index: DmxVerdict).
const char* const kVerdictAdvice[kDmxVerdicts] = {
    "",
    "The console sends DMX of another protocol version than 7: the driver cannot read it. Set the console's DMX "
    "output to the protocol this driver reads (version 7), or update the console's software.",
    "The datagrams' length does not match their PayloadLength: they were cut or padded on the way, or another "
    "program sends to this group. Find the sender among those above; a capture with the Wireshark dissector shows it.",
    "The console sends other packet types than \"DMX Data new\" (24) on its DMX group; the driver reads only type 24. "
    "Set the console's DMX output to the newer format.",
    "The datagrams carry the no-decode flag: the console marks them as not to be decoded. Check the console's DMX "
    "output settings.",
    "Datagrams longer than 1468 bytes: the driver cannot take them. No console sends such datagrams: find the "
    "sender among those above.",
    "Datagrams whose universe blocks are broken: the driver applies each only up to the break, so levels may be "
    "missing. A capture with the Wireshark dissector shows where they break; check the console's software.",
};

std::string InterfaceLine(const NetInterface& i) {
  return Format("%-12s %-15s %s%s", i.name.c_str(), AddressText(i.address).c_str(), i.up ? "up" : "DOWN",
                i.multicast ? ", multicast" : ", NO MULTICAST");
}

// The universes' rates, runs of equal rates together: "0-63: 44.0/s".
std::string UniverseRates(const GroupTraffic& heard, double window) {
  std::string text;
  auto count = [&](int u) { return heard.universe[u].datagrams; };
  for (int u = 0; u < 64;) {
    if (count(u) == 0) {
      ++u;
      continue;
    }
    // Counts that differ by a datagram or two (the window's edges cut a
    // frame) read as the same rate.
    auto near = [&](uint32_t a, uint32_t b) { return (a > b ? a - b : b - a) <= 2 + a / 20; };
    int last = u;
    while (last + 1 < 64 && count(last + 1) != 0 && near(count(last + 1), count(u))) ++last;
    if (!text.empty()) text += ", ";
    text += last == u ? Format("%d", u) : Format("%d-%d", u, last);
    text += Format(": %.1f/s", count(u) / window);
    u = last + 1;
  }
  return text.empty() ? "none" : text;
}

// Lost universes and gaps, for people: which universes stopped, which
// stuttered.
std::string UniverseHealthText(const GroupTraffic& t, uint32_t nowMs) {
  std::string lost, gaps;
  for (int u = 0; u < 64; ++u) {
    const UniverseHealth& h = t.universe[u];
    if (h.Lost(nowMs))
      lost += Format("%s%d (last seen %.1f s ago)", lost.empty() ? "" : ", ", u, (nowMs - h.lastMs) / 1000.0);
    if (h.gaps > 0)
      gaps += Format("%suniverse %d: %u silence%s, the longest %.1f s", gaps.empty() ? "" : "; ", u, h.gaps,
                     h.gaps == 1 ? "" : "s", h.longestGapMs / 1000.0);
  }
  const std::string last = t.DmxTotal() == 0 ? "none" : Format("%.1f s ago", (nowMs - t.lastDmxMs) / 1000.0);
  return "    last datagram: " + last +
         "\n    lost (no datagram for over 2 s): " + (lost.empty() ? std::string("none") : lost) +
         "\n    gaps: " + (gaps.empty() ? std::string("none") : gaps) + "\n";
}

std::string Senders(const std::vector<Sender>& senders, double window) {
  std::string text;
  for (const Sender& s : senders)
    text += Format("%s%s (%.1f/s)", text.empty() ? "" : ", ", SenderText(s).c_str(), s.datagrams / window);
  return text.empty() ? "none" : text;
}

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
    if (n == c.number || t.FromConsole() == 0) continue;
    if (!text.empty()) text += "; ";
    text += Format("console %d%s (PD_ACCEPT %u, PD_SHUTDOWN %u, DMX %.1f datagrams/s)", n,
                   Configured(d, n) ? "" : ", not configured", t.control[2], t.control[4], t.DmxTotal() / w);
  }
  return text;
}

// A console that talks on this interface under a number that is not
// configured: likely the one that was meant.
int Unconfigured(const Diagnosis& d, const ConsoleReport& c) {
  for (int n = 1; n <= 31; ++n)
    if (!Configured(d, n) && c.heard[n].FromConsole() != 0) return n;
  return 0;
}

std::string Header(const Diagnosis& d) {
  const Settings& s = d.settings;
  std::string t = "PvTrivane diagnose " + d.tool + "\n\n";
  t += "Driver library " + LibraryVersionText(d.library) + "\n";
  if (!d.library.build.empty() && d.library.build != d.tool)
    t += "  (another build than this program's: the checks below run this program's driver code)\n";
  t += Format("\nSettings, read from %s%s:\n", s.source.c_str(), s.found ? "" : " (NOT FOUND: every value is missing)");
  t += SettingsText(s);
  for (const std::string& p : d.settingProblems) t += "  PROBLEM: " + p + "\n";
  t += "\nAutofocus: the driver chooses " + d.autofocus.Kind() + ".\n";
  for (const std::string& why : d.autofocus.Reasons()) t += "  " + why + "\n";
  t += "\n";
  if (s.ipText.empty()) {
    t += "Interface: PROBLEM: \"ip\" is not set, so the driver cannot reach any console.\n";
  } else if (!d.interfaceKnown) {
    t += Format("Interface: PROBLEM: %s is not an address of this machine.\n", s.ipText.c_str());
  } else {
    const NetInterface& i = d.interfaceFound;
    // Up and multicast-capable, but the consoles may talk elsewhere.
    std::string elsewhere;
    for (const ConsoleReport& c : d.consoles)
      for (const InterfaceHeard& e : c.elsewhere)
        if (e.address != 0 && e.address != i.address)
          elsewhere += Format(" PROBLEM: console %d talks on \"%s\" (%s), not here.", c.number, e.name.c_str(),
                              AddressText(e.address).c_str());
    const bool good = i.up && i.multicast && elsewhere.empty();
    t += Format("Interface %s: \"%s\", %s%s.%s\n", AddressText(i.address).c_str(), i.name.c_str(), i.up ? "up" : "DOWN",
                i.multicast ? ", multicast" : ", NOT multicast-capable",
                good                ? " Good."
                : elsewhere.empty() ? " PROBLEM."
                                    : elsewhere.c_str());
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
  return t;
}

std::string HowWatched(const Diagnosis& d, const ConsoleReport& c) {
  const std::string ip = AddressText(d.settings.interfaceAddr);
  if (!c.active) return Format("  listened %.1f s on %s without sending anything (passive)\n", c.window, ip.c_str());
  std::string t =
      c.askedBecauseSilent
          ? "  nothing was heard from it, so diagnose asked it with heartbeats, as the driver does (active)\n"
          : "  asked with heartbeats, as the driver does (--active): its PD_ACCEPT restarts the receiver "
            "of every driver connected to it\n";
  t += Format("  heartbeats sent: %u%s\n", c.heartbeats,
              c.heartbeatFailed ? " -- the heartbeat could not be sent (see the interface above)" : "");
  return t;
}

std::string NotAccepted(const Diagnosis& d, const ConsoleReport& c) {
  std::string t = "  no PD_ACCEPT within 5 s.\n";
  const int other = Unconfigured(d, c);
  if (other != 0)
    t += Format(
        "  A console talks as number %d on this interface, which is not configured: if that is the "
        "console meant here, set Trivane%d = %d.\n",
        other, c.slot, other);
  t += Format(
      "  Likely causes: the console's number is not %d; the console is on another network than %s; "
      "a firewall blocks inbound UDP 6007; the network does not carry multicast group 236.3.3.%d "
      "(multicast routing, IGMP snooping on a switch without a querier).\n",
      c.number, AddressText(d.settings.interfaceAddr).c_str(), c.number);
  return t;
}

std::string Dmx(const ConsoleReport& c) {
  const GroupTraffic& own = c.Own();
  const double w = c.window > 0 ? c.window : 1;
  std::string t;
  if (c.active) {
    t += Format("  DMX: %.1f datagrams/s received by the driver, %.1f/s decoded\n", c.driver.received / w,
                c.driver.decoded / w);
  } else {
    t += Format("  DMX: %.1f datagrams/s, %.1f/s of them as the driver decodes them\n", own.DmxTotal() / w,
                own.dmx[static_cast<int>(DmxVerdict::Accepted)] / w);
  }
  t += "    universes (datagrams/s): " + UniverseRates(own, w) + "\n" + UniverseHealthText(own, c.nowMs);
  t += "  senders: " + Senders(own.dmxSenders, w) + "\n";
  std::string list;
  for (int v = 1; v < kDmxVerdicts; ++v)
    if (own.dmx[v] != 0) list += Format(" %s %u;", DmxVerdictNames[v], own.dmx[v]);
  const uint32_t otherGroup = c.driver.dropped[static_cast<int>(DmxDrop::OtherGroup)];
  const uint32_t stopping = c.driver.dropped[static_cast<int>(DmxDrop::Stopping)];
  if (otherGroup != 0) list += Format(" %s %u;", DmxDropNames[static_cast<int>(DmxDrop::OtherGroup)], otherGroup);
  if (stopping != 0) list += Format(" %s %u;", DmxDropNames[static_cast<int>(DmxDrop::Stopping)], stopping);
  t += "  dropped:" + (list.empty() ? std::string(" none") : list) + "\n";
  for (int v = 1; v < kDmxVerdicts; ++v)
    if (own.dmx[v] != 0)
      t += Format("    %u datagrams with %s. %s\n", own.dmx[v], DmxVerdictNames[v], kVerdictAdvice[v]);
  if (otherGroup != 0)
    t += "    Datagrams of other consoles' groups reached the driver's socket (the system hands it every group joined "
         "on port 9138); the driver passes over them. Nothing to do.\n";
  if (stopping != 0)
    t += "    Datagrams that came while the driver's receiver was stopping (a shutdown or a new acceptance while the "
         "host held the levels). Harmless when rare.\n";
  return t;
}

std::string Control(const ConsoleReport& c) {
  const GroupTraffic& own = c.Own();
  std::string drivers;
  for (const Sender& s : own.drivers)
    drivers += Format("%s%s (Receiving %u)", drivers.empty() ? "" : ", ", AddressText(s.address).c_str(), s.receiving);
  return Format("  control during the watch: PD_ACCEPT %u, PD_SHUTDOWN %u; drivers heard: %s\n", own.control[2], own.control[4],
                drivers.empty() ? "none" : drivers.c_str());
}

std::string Findings(const Diagnosis& d, const ConsoleReport& c) {
  const GroupTraffic& own = c.Own();
  const double w = c.window > 0 ? c.window : 1;
  std::string t;
  if (c.ShutDown())
    t += Format(
        "  The console SHUT DOWN during the watch: PD_SHUTDOWN %u, the last %.1f s into it, and no PD_ACCEPT "
        "after it: every driver connected to it stopped receiving its DMX, and the host's levels went to 0. The "
        "console accepts again when a driver asks, or its operator reconnects it.\n",
        own.control[4], own.lastShutdownMs / 1000.0);
  if (!c.ShutDown() && own.control[4] > 0)
    t += Format(
        "  The console shut down during the watch and accepted again (PD_SHUTDOWN %u, PD_ACCEPT %u): every "
        "driver connected to it restarted its receiver, and levels it did not send again went to 0.\n",
        own.control[4], own.control[2]);
  if (c.Senders() > 1) {
    t += Format("  TWO SENDERS stream to console %d's group: %s.\n", c.number, Senders(own.dmxSenders, w).c_str());
    t += "    Two consoles (or a console and another program) use the same number: both stream into the same "
         "universes and the levels flicker between them. Give one of them another number.\n";
  }
  if (!c.active && own.FromConsole() == 0 && c.driverConnected)
    t += "  A driver is connected to this console (its heartbeats say Receiving 1) but the console sends nothing. "
         "Diagnose did not ask it: its PD_ACCEPT would restart that driver's receiver (--active does ask).\n";
  if (!c.active && own.dmx[static_cast<int>(DmxVerdict::Accepted)] > 0 && own.control[2] == 0 && !c.driverConnected)
    t += "  No driver is connected to it and no PD_ACCEPT was heard: whether it accepts a driver was not tried "
         "(--active asks it).\n";
  for (const InterfaceHeard& e : c.elsewhere) {
    if (e.address == d.settings.interfaceAddr) continue;
    if (e.address == 0) {
      t += Format("  Heard from %s, which no interface of this machine is on (%u datagrams): a routed network?\n",
                  AddressText(e.sender).c_str(), e.datagrams);
      continue;
    }
    t += Format(
        "  HEARD ON ANOTHER INTERFACE: console %d talks on \"%s\" (%s, from %s, %u datagrams), not on the "
        "configured %s. Set \"ip\" to %s (pvtrivane-config --ip %s).\n",
        c.number, e.name.c_str(), AddressText(e.address).c_str(), AddressText(e.sender).c_str(), e.datagrams,
        AddressText(d.settings.interfaceAddr).c_str(), AddressText(e.address).c_str(), AddressText(e.address).c_str());
  }
  return t;
}

std::string Verdict(const ConsoleReport& c) {
  if (c.Streams() && c.Senders() > 1) return Format("  STREAMING FROM %d SENDERS\n", c.Senders());
  if (c.Streams()) return "  STREAMING\n";
  return c.ShutDown() ? "  NOT STREAMING (shut down)\n" : "  NOT STREAMING\n";
}

}  // namespace

std::string DiagnosisText(const Diagnosis& d) {
  std::string t = Header(d);
  int streaming = 0;
  for (const ConsoleReport& c : d.consoles) {
    t += Format("\nConsole %d (Trivane%d):\n", c.number, c.slot);
    t += HowWatched(d, c);
    const bool heard = c.Own().FromConsole() != 0;
    if (c.active && c.acceptMs < 0) {
      t += NotAccepted(d, c);
    } else {
      // Diagnose's own request, answered before the watch began: the
      // control line below counts only what came during the watch.
      if (c.active) t += Format("  PD_ACCEPT %.1f ms after diagnose asked, before the watch\n", c.acceptMs);
      if (c.active || heard) t += Dmx(c);
      if (c.active && c.driver.received == 0)
        t += Format(
            "  No DMX arrives on 236.3.2.%d:9138: is the console's DMX output on, and does the network carry "
            "that group?\n",
            32 + c.number);
      if (!c.active && !heard)
        t += std::string("  nothing heard from this console") +
             (d.neverAsk ? ", and --passive sends nothing to ask it" : "") + "\n";
      if (!c.active && !heard && d.scannedAll && c.elsewhere.empty())
        t += "  not heard on any other interface either (every interface's groups were scanned)\n";
    }
    if (heard || c.active) t += Control(c);
    t += Findings(d, c);
    if (d.interfaceKnown && d.watchError.empty()) {
      const std::string others = OthersHeard(d, c);
      t += "  other consoles heard on this interface: " + (others.empty() ? std::string("none") : others) + "\n";
    }
    t += Verdict(c);
    streaming += c.Streams() && c.Senders() <= 1 ? 1 : 0;
  }
  t += Format("\nResult: %d of %zu configured console%s streaming.\n", streaming, d.consoles.size(),
              d.consoles.size() == 1 ? "" : "s");
  return t;
}

// pvtrivane-diagnose's findings as one JSON object, for scripts.
#include "../protocol/dmx_stats.h"
#include "diagnosis.h"

namespace {

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

const char* Bool(bool b) { return b ? "true" : "false"; }

std::string Senders(const std::vector<Sender>& senders, double window) {
  std::string j = "[";
  for (size_t i = 0; i < senders.size(); ++i)
    j += Format("%s{\"sender\":%s,\"per_s\":%.1f}", i ? "," : "", Json(SenderText(senders[i])).c_str(),
                senders[i].datagrams / window);
  return j + "]";
}

std::string Universes(const ConsoleReport& c, double w) {
  std::string j = "{";
  bool first = true;
  for (int u = 0; u < 64; ++u) {
    const UniverseHealth& h = c.Own().universe[u];
    if (h.datagrams == 0) continue;
    j += Format("%s\"%d\":{\"per_s\":%.1f,\"last_seen_s\":%.1f,\"lost\":%s,\"gaps\":%u,\"longest_gap_s\":%.1f}",
                first ? "" : ",", u, h.datagrams / w, (c.nowMs - h.lastMs) / 1000.0, Bool(h.Lost(c.nowMs)), h.gaps,
                h.longestGapMs / 1000.0);
    first = false;
  }
  return j + "}";
}

std::string Console(const Diagnosis& d, const ConsoleReport& c) {
  const double w = c.window > 0 ? c.window : 1;
  const GroupTraffic& own = c.Own();
  std::string j =
      Format("{\"number\":%d,\"slot\":%d,\"mode\":%s,\"asked_because_silent\":%s,\"window_s\":%.1f,", c.number, c.slot,
             c.active ? "\"active\"" : "\"passive\"", Bool(c.askedBecauseSilent), c.window);
  j += Format("\"heartbeats\":%u,\"heartbeat_failed\":%s,", c.heartbeats, Bool(c.heartbeatFailed));
  j += "\"accept_ms\":" + (c.acceptMs < 0 ? std::string("null") : Format("%.1f", c.acceptMs));
  j += Format(",\"pd_accept\":%u,\"pd_shutdown\":%u,\"shut_down\":%s,\"driver_connected\":%s", own.control[2],
              own.control[4], Bool(c.ShutDown()), Bool(c.driverConnected));
  j += Format(",\"dmx_per_s\":%.1f,\"decodable_per_s\":%.1f", own.DmxTotal() / w,
              own.dmx[static_cast<int>(DmxVerdict::Accepted)] / w);
  if (c.active)
    j += Format(",\"received_per_s\":%.1f,\"decoded_per_s\":%.1f", c.driver.received / w, c.driver.decoded / w);
  j += ",\"dropped\":{";
  for (int r = 0; r < kDmxDropReasons; ++r)
    j += Format("%s%s:%u", r ? "," : "", Json(DmxDropNames[r]).c_str(), c.driver.dropped[r]);
  j += "},\"verdicts\":{";
  for (int v = 0; v < kDmxVerdicts; ++v)
    j += Format("%s%s:%u", v ? "," : "", Json(DmxVerdictNames[v]).c_str(), own.dmx[v]);
  j += "},\"universes\":" + Universes(c, w) + ",\"senders\":" + Senders(own.dmxSenders, w);
  j += ",\"heard_on\":[";
  for (size_t i = 0; i < c.elsewhere.size(); ++i) {
    const InterfaceHeard& e = c.elsewhere[i];
    j +=
        Format("%s{\"interface\":%s,\"address\":%s,\"sender\":%s,\"datagrams\":%u}", i ? "," : "", Json(e.name).c_str(),
               Json(AddressText(e.address)).c_str(), Json(AddressText(e.sender)).c_str(), e.datagrams);
  }
  j += "],\"other_consoles\":{";
  bool first = true;
  for (int n = 1; n <= 31; ++n) {
    const GroupTraffic& t = c.heard[n];
    if (n == c.number || t.FromConsole() == 0) continue;
    bool configured = false;
    for (const ConsoleReport& o : d.consoles) configured = configured || o.number == n;
    j += Format("%s\"%d\":{\"configured\":%s,\"accept\":%u,\"shutdown\":%u,\"dmx_per_s\":%.1f}", first ? "" : ",", n,
                Bool(configured), t.control[2], t.control[4], t.DmxTotal() / w);
    first = false;
  }
  return j + Format("},\"streaming\":%s}", Bool(c.Streams() && c.Senders() <= 1));
}

}  // namespace

std::string DiagnosisJson(const Diagnosis& d) {
  const Settings& s = d.settings;
  std::string j = "{\"tool\":" + Json(d.tool) + ",\"library\":{\"path\":" + Json(d.library.path) +
                  Format(",\"exists\":%s", Bool(d.library.exists)) +
                  ",\"file_version\":" + Json(d.library.fileVersion) + ",\"build\":" + Json(d.library.build) + "}";
  j += ",\"settings\":{\"source\":" + Json(s.source) + Format(",\"found\":%s", Bool(s.found));
  j += ",\"ip\":" + (s.ipText.empty() ? std::string("null") : Json(s.ipText));
  for (int i = 0; i < 3; ++i)
    j += Format(",\"Trivane%d\":", i + 1) + (s.consoleSet[i] ? Format("%u", s.consoleValue[i]) : "null");
  j += "},\"setting_problems\":[";
  for (size_t i = 0; i < d.settingProblems.size(); ++i) j += (i ? "," : "") + Json(d.settingProblems[i]);
  j += "],\"autofocus\":{\"kind\":" + Json(d.autofocus.Kind()) + ",\"reasons\":[";
  const std::vector<std::string> reasons = d.autofocus.Reasons();
  for (size_t i = 0; i < reasons.size(); ++i) j += (i ? "," : "") + Json(reasons[i]);
  j += "]},\"interface\":{\"address\":" + Json(AddressText(s.interfaceAddr));
  j += Format(",\"on_this_machine\":%s", Bool(d.interfaceKnown));
  if (d.interfaceKnown)
    j += ",\"name\":" + Json(d.interfaceFound.name) +
         Format(",\"up\":%s,\"multicast\":%s", Bool(d.interfaceFound.up), Bool(d.interfaceFound.multicast));
  j += "},\"interfaces\":[";
  for (size_t i = 0; i < d.interfaces.size(); ++i) {
    const NetInterface& n = d.interfaces[i];
    j += Format("%s{\"name\":%s,\"address\":%s,\"up\":%s,\"multicast\":%s}", i ? "," : "", Json(n.name).c_str(),
                Json(AddressText(n.address)).c_str(), Bool(n.up), Bool(n.multicast));
  }
  j += "],\"firewall\":[";
  for (size_t i = 0; i < d.firewall.size(); ++i) j += (i ? "," : "") + Json(d.firewall[i]);
  j += Format("],\"scanned_all_interfaces\":%s,\"consoles\":[", Bool(d.scannedAll));
  int streaming = 0;
  for (size_t i = 0; i < d.consoles.size(); ++i) {
    j += (i ? "," : "") + Console(d, d.consoles[i]);
    streaming += d.consoles[i].Streams() && d.consoles[i].Senders() <= 1 ? 1 : 0;
  }
  j += Format("],\"streaming\":%d,\"configured\":%zu}\n", streaming, d.consoles.size());
  return j;
}

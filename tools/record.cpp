// pvtrivane-record: records what consoles send (their DMX and their control
// groups, the drivers' heartbeats among it) into a pcapng file with
// absolute time stamps, for Wireshark and for trivane-sim --replay. It only
// listens: nothing is sent, so a running show is never disturbed.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../protocol/dmx_sniffer.h"
#include "../protocol/pd_packet.h"
#include "../tvnLib/ipaddress.h"
#include "../tvnLib/os.h"
#include "capture_file.h"
#include "driver_settings.h"
#include "library_version.h"

namespace {

const char kUsage[] =
    "usage: pvtrivane-record --out FILE [options]\n"
    "Records what the consoles send (DMX and control, the drivers' heartbeats\n"
    "too) into a pcapng file with absolute time stamps; sends nothing.\n"
    "Replay it with: trivane-sim --replay FILE [--loop] [--console N]\n"
    "\n"
    "  --out FILE           the pcapng file to write\n"
    "  --console N          a console to record (1..31; again for more); default:\n"
    "                       the configured ones (Trivane1..3)\n"
    "  --all                every console 1..31\n"
    "  --interface A.B.C.D  the interface to listen on (default: the driver's \"ip\")\n"
    "  --seconds S          stop after S seconds (default: at Ctrl-C)\n"
    "  --registry FILE      the driver's settings file (POSIX; default as the driver)\n"
    "  --version            this program's build\n"
    "  --help               this text\n";

// Memberships per socket: Linux allows 20.
constexpr size_t kGroupsPerSocket = 16;

std::atomic<bool> g_stop{false};
void OnInterrupt() { g_stop = true; }

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The file being written and what went into it: owned by main, written by
// the receiving threads under `lock`.
struct Recording {
  std::mutex lock;
  CaptureWriter writer;
  uint32_t dmx[32] = {}, control[32] = {};
};

// Receives on `s` (which joined `groups` on `port`) into the recording.
void Receive(OsSocket s, uint16_t port, std::vector<uint32_t> groups, Recording* r) {
  std::vector<uint8_t> buffer(65536);
  while (!g_stop) {
    if (osSelect(s, false, 200000) != 1) continue;
    OsDatagram info;
    const int n = osRecvFrom(s, buffer.data(), static_cast<int>(buffer.size()), &info);
    bool ours = false;
    for (uint32_t g : groups) ours = ours || g == info.destination;
    if (n < 0 || !ours) continue;
    CapturedDatagram d;
    d.timeNs = NowNs();
    d.source = info.source;
    d.destination = info.destination;
    d.sourcePort = info.sourcePort;
    d.destinationPort = port;
    d.payload.assign(buffer.begin(), buffer.begin() + n);
    d.length = static_cast<uint32_t>(n);
    const int console = port == DmxPort ? AddressOctet(info.destination, 3) - 32 : AddressOctet(info.destination, 3);
    std::lock_guard<std::mutex> lock(r->lock);
    r->writer.Write(d);
    ++(port == DmxPort ? r->dmx : r->control)[console & 31];
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, interfaceText;
  std::vector<int> consoles;
  double seconds = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue =
        arg == "--out" || arg == "--console" || arg == "--interface" || arg == "--seconds" || arg == "--registry";
    if (takesValue && i + 1 >= argc) {
      std::fprintf(stderr, "pvtrivane-record: %s needs a value\n", arg.c_str());
      return 2;
    }
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("pvtrivane-record %s\n", ToolVersion());
      return 0;
    } else if (arg == "--out") {
      out = argv[++i];
    } else if (arg == "--console") {
      consoles.push_back(std::atoi(argv[++i]));
      if (consoles.back() < 1 || consoles.back() > 31) {
        std::fprintf(stderr, "pvtrivane-record: a console number is 1 to 31\n");
        return 2;
      }
    } else if (arg == "--all") {
      for (int n = 1; n <= 31; ++n) consoles.push_back(n);
    } else if (arg == "--interface") {
      interfaceText = argv[++i];
    } else if (arg == "--seconds") {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--registry") {
      osSetEnvironment("PVTRIVANE_REGISTRY", argv[++i]);
    } else {
      std::fprintf(stderr, "pvtrivane-record: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    }
  }
  if (out.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const Settings settings = ReadDriverSettings();
  const uint32_t interfaceAddr =
      interfaceText.empty() ? settings.interfaceAddr : ParseDottedAddress(interfaceText.c_str());
  if (consoles.empty())
    for (int i = 0; i < 3; ++i)
      if (settings.consoleSet[i] && settings.consoleValue[i] >= 1 && settings.consoleValue[i] <= 31)
        consoles.push_back(static_cast<int>(settings.consoleValue[i]));
  if (consoles.empty() || interfaceAddr == 0xFFFFFFFFu) {
    std::fprintf(stderr,
                 "pvtrivane-record: no console or no interface: give --console and --interface, or set the "
                 "driver's \"ip\" and Trivane1 (pvtrivane-config)\n");
    return 2;
  }
  int major = 0;
  if (!osNetStartup(&major)) return std::fprintf(stderr, "pvtrivane-record: sockets unavailable\n"), 1;
  osOnInterrupt(OnInterrupt);
  Recording recording;
  std::string error;
  if (!recording.writer.Open(out, std::string("pvtrivane-record ") + ToolVersion(), &error))
    return std::fprintf(stderr, "pvtrivane-record: %s\n", error.c_str()), 1;

  std::vector<OsSocket> sockets;
  std::vector<std::thread> threads;
  for (const uint16_t port : {ControlPort, DmxPort}) {
    for (size_t first = 0; first < consoles.size(); first += kGroupsPerSocket) {
      const OsSocket s = osUdpSocket();
      const IPADDRESS any(port, 0);
      osSetSockOpt(s, OsSockOpt::ReuseAddr, 1);
      osSetSockOpt(s, OsSockOpt::ReceiveBuffer, 1 << 22);
      osReportDestination(s);
      if (s == kOsInvalidSocket || osBind(s, &any) != 0)
        return std::fprintf(stderr, "pvtrivane-record: cannot listen on port %u\n", port), 1;
      std::vector<uint32_t> groups;
      for (size_t i = first; i < consoles.size() && i < first + kGroupsPerSocket; ++i) {
        groups.push_back(port == DmxPort ? DmxGroup(consoles[i]) : ConsoleGroup(static_cast<uint32_t>(consoles[i])));
        if (osMembership(s, true, groups.back(), interfaceAddr) != 0)
          return std::fprintf(stderr, "pvtrivane-record: cannot join console %d's groups on that interface\n",
                              consoles[i]),
                 1;
      }
      sockets.push_back(s);
      threads.emplace_back(Receive, s, port, groups, &recording);
    }
  }
  char address[kAddressTextSize];
  std::printf("pvtrivane-record: recording %zu console(s) on %s into %s (Ctrl-C ends)\n", consoles.size(),
              AddressText(interfaceAddr, address), out.c_str());
  std::fflush(stdout);
  const auto started = std::chrono::steady_clock::now();
  while (!g_stop &&
         (seconds < 0 || std::chrono::steady_clock::now() - started < std::chrono::duration<double>(seconds)))
    osSleepMs(50);
  g_stop = true;
  for (OsSocket s : sockets) osSocketWake(s);
  for (std::thread& t : threads) t.join();
  for (OsSocket s : sockets) osSocketClose(s);
  const bool written = recording.writer.Close();
  for (int n : consoles)
    if (recording.dmx[n] + recording.control[n] > 0)
      std::printf("  console %d: %u DMX datagrams, %u control packets\n", n, recording.dmx[n], recording.control[n]);
  std::printf("pvtrivane-record: %s\n", written ? "written" : "NOT all written (disk full?)");
  osNetCleanup();
  return written ? 0 : 1;
}

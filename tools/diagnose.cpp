// pvtrivane-diagnose: what a technician runs when no levels arrive. It reads
// the driver's settings as the driver does, checks the interface, connects
// every configured console with the driver's own session code and says, in
// plain words, what works and what does not, and what to do.
//
// Exit status 0 when every configured console streams DMX, 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../driver/driver_state.h"
#include "../protocol/dmx_sniffer.h"
#include "../sessions/ports.h"
#include "../tvnLib/ipaddress.h"
#include "../tvnLib/lib_startup.h"
#include "diagnosis.h"
#include "group_watch.h"
#include "library_version.h"
#include "net_interfaces.h"

namespace {

const char kUsage[] =
    "usage: pvtrivane-diagnose [options]\n"
    "Says why the driver gets no levels: reads its settings, checks the interface,\n"
    "connects each configured console and watches what arrives.\n"
    "\n"
    "  --seconds S       how long to watch each console's DMX (default 3)\n"
    "  --json            one JSON object instead of plain words\n"
    "  --registry FILE   settings file to read (POSIX; default as the driver)\n"
    "  --library PATH    the driver library whose build to report (default: the\n"
    "                    installed one)\n"
    "  --version         this program's build, and the driver library's\n"
    "  --help            this text\n"
    "\n"
    "Exit status 0 when every configured console streams, 1 otherwise.\n";

using Clock = std::chrono::steady_clock;

// Connects every configured console at once and waits up to 5 s for each
// acceptance, then watches the DMX for `seconds`.
void Examine(std::vector<ConsoleReport>& consoles, GroupWatch* watch, double seconds) {
  std::vector<std::unique_ptr<PORTS>> sessions;
  for (ConsoleReport& c : consoles) sessions.emplace_back(new PORTS(static_cast<uint32_t>(c.number)));
  const auto start = Clock::now();
  size_t pending = consoles.size();
  while (pending > 0 && Clock::now() - start < std::chrono::milliseconds(5000)) {
    for (size_t i = 0; i < consoles.size(); ++i) {
      if (consoles[i].acceptMs >= 0 || !sessions[i]->Ready()) continue;
      if (osWait(sessions[i]->hconnect_event, 0) != kOsWaitSignaled) continue;
      consoles[i].acceptMs =
          std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      --pending;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // The receivers start 100 ms after an acceptance: let them join first.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  std::vector<SnifferCounts> before(consoles.size());
  std::vector<GroupTraffic> watchBefore(32);
  for (size_t i = 0; i < consoles.size(); ++i) before[i] = CountsOf(sessions[i]->DmxStats);
  if (watch != nullptr)
    for (int n = 1; n <= 31; ++n) watchBefore[n] = watch->Snapshot(n);
  const auto watchStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6)));
  const double window = std::chrono::duration<double>(Clock::now() - watchStart).count();
  for (size_t i = 0; i < consoles.size(); ++i) {
    ConsoleReport& c = consoles[i];
    PORTS& session = *sessions[i];
    c.heartbeats = session.HeartbeatsSent.load();
    c.heartbeatFailed = session.HeartbeatExit.load() != 0;
    c.stateFailed = session.StateRcvExit.load() != 0;
    c.window = window;
    c.driver = CountsOf(session.DmxStats) - before[i];
    if (watch == nullptr) continue;
    for (int n = 1; n <= 31; ++n) c.heard[n] = watch->Snapshot(n) - watchBefore[n];
  }
  sessions.clear();  // each deletion closes the session's sockets and joins its threads
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  bool json = false, version = false;
  std::string library = InstalledLibrary(argv[0]);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--library" && i + 1 < argc) {
      library = argv[++i];
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--registry" && i + 1 < argc) {
      osSetEnvironment("PVTRIVANE_REGISTRY", argv[++i]);
    } else {
      std::fprintf(stderr, "pvtrivane-diagnose: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    }
  }
  if (version) {
    std::printf("pvtrivane-diagnose %s\ndriver library %s\n", ToolVersion(),
                LibraryVersionText(ReadLibraryVersion(library)).c_str());
    return 0;
  }
  int major = 0;
  if (!osNetStartup(&major)) {
    std::fprintf(stderr, "pvtrivane-diagnose: sockets unavailable\n");
    return 2;
  }
  LibStartup();

  Diagnosis d;
  d.library = ReadLibraryVersion(library);
  d.tool = ToolVersion();
  d.settings = ReadDriverSettings();
  d.interfaces = ListInterfaces();
  d.firewall = FirewallReport();
  const NetInterface* own = InterfaceWith(d.interfaces, d.settings.interfaceAddr);
  if (own != nullptr) d.interfaceFound = *own;
  d.interfaceKnown = own != nullptr;
  for (int i = 0; i < 3; ++i) {
    const uint32_t n = d.settings.consoleValue[i];
    if (!d.settings.consoleSet[i] || n < 1 || n > 31) continue;
    bool twice = false;
    for (const ConsoleReport& c : d.consoles) twice = twice || c.number == static_cast<int>(n);
    if (!twice) d.consoles.push_back(ConsoleReport{static_cast<int>(n), i + 1});
  }

  std::unique_ptr<GroupWatch> watch;
  if (d.interfaceKnown) {
    watch.reset(new GroupWatch(d.settings.interfaceAddr));
    if (!watch->Start(&d.watchError)) watch.reset();
  }
  if (!d.consoles.empty()) Examine(d.consoles, watch.get(), seconds);
  watch.reset();

  const std::string text = json ? DiagnosisJson(d) : DiagnosisText(d);
  std::fputs(text.c_str(), stdout);
  LibShutdown();
  osNetCleanup();
  return d.AllStream() ? 0 : 1;
}

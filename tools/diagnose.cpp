// pvtrivane-diagnose: what a technician runs when no levels arrive. It reads
// the driver's settings as the driver does, checks the interface, and
// listens to the consoles' groups without sending anything, so that a
// running show is never disturbed; only a console that is heard nowhere
// (or every console, with --active) is asked with heartbeats through the
// driver's own session code. It says, in plain words, what works, what does
// not and what to do.
//
// Exit status 0 when every configured console streams from one sender, 1
// otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../sessions/ports.h"
#include "../tvnLib/lib_startup.h"
#include "../tvnLib/os.h"
#include "diagnosis.h"
#include "group_watch.h"

namespace {

const char kUsage[] =
    "usage: pvtrivane-diagnose [options]\n"
    "Says why the driver gets no levels: reads its settings, checks the interface,\n"
    "listens to the consoles' groups and says what streams, without sending\n"
    "anything; a console heard nowhere is asked with heartbeats.\n"
    "\n"
    "  --seconds S       how long to listen (and to watch an asked console) (default 3)\n"
    "  --active          ask every console with heartbeats, as the driver does (its\n"
    "                    PD_ACCEPT restarts the receiver of every driver connected to it)\n"
    "  --passive         never send anything, not even to a console heard nowhere\n"
    "  --all-interfaces  also scan every interface's groups (done anyway for a\n"
    "                    console not heard on the configured one)\n"
    "  --json            one JSON object instead of plain words\n"
    "  --json-file FILE  the words, and the JSON object into FILE\n"
    "  --registry FILE   settings file to read (POSIX; default as the driver)\n"
    "  --library PATH    the driver library whose build to report (default: the\n"
    "                    installed one)\n"
    "  --version         this program's build, and the driver library's\n"
    "  --help            this text\n"
    "\n"
    "Exit status 0 when every configured console streams from one sender, 1 otherwise.\n";

using Clock = std::chrono::steady_clock;

void Sleep(double seconds) {
  std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6)));
}

// Listens on `interfaces` for `seconds`; every console's tally into each
// report (error in *error when the watch cannot start).
bool Listen(const std::vector<uint32_t>& interfaces, double seconds, std::vector<ConsoleReport*> reports,
            std::string* error) {
  GroupWatch watch(interfaces);
  if (!watch.Start(error)) return false;
  Sleep(seconds);
  for (ConsoleReport* c : reports) {
    for (int n = 1; n <= 31; ++n) c->heard[n] = watch.Snapshot(n);
    c->nowMs = watch.NowMs();
    c->window = c->nowMs / 1000.0;
  }
  return true;
}

// Scans every interface that carries multicast, and notes where each
// console in `reports` was heard.
void ScanAll(const Diagnosis& d, double seconds, const std::vector<ConsoleReport*>& reports) {
  std::vector<uint32_t> interfaces;
  for (const NetInterface& i : d.interfaces)
    if (i.up && i.multicast) interfaces.push_back(i.address);
  GroupWatch watch(interfaces);
  std::string error;
  if (interfaces.empty() || !watch.Start(&error)) return;
  Sleep(seconds);
  for (ConsoleReport* c : reports) {
    const GroupTraffic t = watch.Snapshot(c->number);
    for (const std::vector<Sender>* list : {&t.dmxSenders, &t.controlSenders}) {
      for (const Sender& s : *list) {
        const NetInterface* i = InterfaceFor(d.interfaces, s.address);
        InterfaceHeard* entry = nullptr;
        for (InterfaceHeard& e : c->elsewhere)
          if (e.address == (i != nullptr ? i->address : 0)) entry = &e;
        if (entry == nullptr) {
          c->elsewhere.push_back(
              InterfaceHeard{i != nullptr ? i->name : "", i != nullptr ? i->address : 0, s.address, 0});
          entry = &c->elsewhere.back();
        }
        entry->datagrams += s.datagrams;
      }
    }
  }
}

// Asks the consoles in `reports` with the driver's own sessions: waits up
// to 5 s for each acceptance, then watches the DMX for `seconds`.
void Ask(uint32_t interfaceAddr, double seconds, const std::vector<ConsoleReport*>& reports) {
  std::unique_ptr<GroupWatch> watch(new GroupWatch({interfaceAddr}));
  std::string error;
  if (!watch->Start(&error)) watch.reset();
  std::vector<std::unique_ptr<PORTS>> sessions;
  for (ConsoleReport* c : reports) {
    c->active = true;
    sessions.emplace_back(new PORTS(static_cast<uint32_t>(c->number)));
  }
  const auto start = Clock::now();
  size_t pending = reports.size();
  while (pending > 0 && Clock::now() - start < std::chrono::milliseconds(5000)) {
    for (size_t i = 0; i < reports.size(); ++i) {
      if (reports[i]->acceptMs >= 0 || !sessions[i]->Ready()) continue;
      if (osWait(sessions[i]->hconnect_event, 0) != kOsWaitSignaled) continue;
      reports[i]->acceptMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      --pending;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // The receivers start 100 ms after an acceptance: let them join first.
  Sleep(0.4);
  std::vector<SnifferCounts> before;
  for (const auto& s : sessions) before.push_back(CountsOf(s->DmxStats));
  if (watch) watch->Reset();
  Sleep(seconds);
  for (size_t i = 0; i < reports.size(); ++i) {
    ConsoleReport& c = *reports[i];
    PORTS& session = *sessions[i];
    c.heartbeats = session.HeartbeatsSent.load();
    c.heartbeatFailed = session.HeartbeatExit.load() != 0;
    c.stateFailed = session.StateRcvExit.load() != 0;
    c.receiverAtEnd = session.HasSniffer();
    c.driver = CountsOf(session.DmxStats).Since(before[i]);
    c.window = seconds;
    if (!watch) continue;
    for (int n = 1; n <= 31; ++n) c.heard[n] = watch->Snapshot(n);
    c.nowMs = watch->NowMs();
    c.window = c.nowMs / 1000.0;
  }
  sessions.clear();  // each deletion closes the session's sockets and joins its threads
}

// The consoles to watch, each number once; a number entered twice is told.
void ConfiguredConsoles(Diagnosis& d) {
  for (int i = 0; i < 3; ++i) {
    const uint32_t n = d.settings.consoleValue[i];
    if (!d.settings.consoleSet[i] || n < 1 || n > 31) continue;
    const ConsoleReport* first = nullptr;
    for (const ConsoleReport& c : d.consoles) first = c.number == static_cast<int>(n) ? &c : first;
    if (first == nullptr) {
      d.consoles.push_back(ConsoleReport{static_cast<int>(n), i + 1});
      continue;
    }
    d.settingProblems.push_back(Format(
        "Trivane%d and Trivane%d are both %u: detection reports console %u twice and the host's second Connect to "
        "it fails. Set Trivane%d to the other console's number, or remove it (pvtrivane-config --console%d 0).",
        first->slot, i + 1, n, n, i + 1, i + 1));
  }
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  bool json = false, version = false, active = false, passive = false, allInterfaces = false;
  std::string library = InstalledLibrary(argv[0]), jsonFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--library" && hasValue) {
      library = argv[++i];
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--json-file" && hasValue) {
      jsonFile = argv[++i];
    } else if (arg == "--active") {
      active = true;
    } else if (arg == "--passive") {
      passive = true;
    } else if (arg == "--all-interfaces") {
      allInterfaces = true;
    } else if (arg == "--seconds" && hasValue) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--registry" && hasValue) {
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
  if (active && passive) {
    std::fprintf(stderr, "pvtrivane-diagnose: --active and --passive exclude each other\n");
    return 2;
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
  d.autofocus = ReadAutofocusChoice();
  d.interfaces = ListInterfaces();
  d.firewall = FirewallReport();
  const NetInterface* own = InterfaceWith(d.interfaces, d.settings.interfaceAddr);
  if (own != nullptr) d.interfaceFound = *own;
  d.interfaceKnown = own != nullptr;
  ConfiguredConsoles(d);
  d.neverAsk = passive;

  std::vector<ConsoleReport*> all;
  for (ConsoleReport& c : d.consoles) all.push_back(&c);
  if (!active && !all.empty()) {
    if (d.interfaceKnown) Listen({d.settings.interfaceAddr}, seconds, all, &d.watchError);
    std::vector<ConsoleReport*> silent;
    for (ConsoleReport* c : all) {
      if (allInterfaces || c->Own().FromConsole() == 0) silent.push_back(c);
      for (const Sender& s : c->Own().drivers) c->driverConnected = c->driverConnected || s.receiving == 1;
    }
    d.scannedAll = !silent.empty();
    if (!silent.empty()) ScanAll(d, seconds, silent);
  }
  std::vector<ConsoleReport*> ask;
  for (ConsoleReport* c : all) {
    const bool heardElsewhere = !c->elsewhere.empty();
    const bool silent = c->Own().FromConsole() == 0 && !heardElsewhere && !c->driverConnected;
    if (active || (!passive && silent)) ask.push_back(c);
    c->askedBecauseSilent = !active && silent;
  }
  if (!ask.empty()) Ask(d.settings.interfaceAddr, seconds, ask);

  const std::string text = json ? DiagnosisJson(d) : DiagnosisText(d);
  std::fputs(text.c_str(), stdout);
  if (!jsonFile.empty()) {
    FILE* out = std::fopen(jsonFile.c_str(), "w");
    if (out != nullptr) std::fputs(DiagnosisJson(d).c_str(), out);
    if (out == nullptr || std::fclose(out) != 0)
      std::fprintf(stderr, "pvtrivane-diagnose: cannot write %s\n", jsonFile.c_str());
  }
  LibShutdown();
  osNetCleanup();
  return d.AllStream() ? 0 : 1;
}

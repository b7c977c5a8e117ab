// previsa-host: drives the driver library as the host application does.
// Loads it by path, resolves all 29 exports, runs detection, connects the
// configured consoles and polls every port at the host's rate, showing a
// live view (or, with --frames / --seconds, JSON lines for scripts).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tvnLib/os.h"
#include "autofocus_args.h"
#include "driver_api.h"
#include "driver_settings.h"
#include "group_watch.h"
#include "host_view.h"
#include "library_version.h"

namespace {

const char kUsage[] =
    "usage: previsa-host [options]\n"
    "Loads the PvTrivane driver, detects and connects the configured consoles and\n"
    "polls their 64 ports, as Previsa does.\n"
    "\n"
    "  --library PATH       the driver library (default: next to this program, else\n"
    "                       the installed one)\n"
    "  --registry FILE      settings file for the driver (POSIX; on Windows import\n"
    "                       it with regedit)\n"
    "  --rate HZ            polls per second (default 40)\n"
    "  --universe U         universe shown as a level grid (default 0)\n"
    "  --frames N           stop after N polls; prints JSON lines\n"
    "  --seconds S          stop after S seconds; prints JSON lines\n"
    "  --view               the live view also with --frames / --seconds\n"
    "  --values V           the live view's levels: dec (0-255), percent or hex (default dec)\n"
    "  --connect-only       connect, report, disconnect\n"
    "  --af-console N       console for the autofocus commands (default: first connected)\n"
    "  --midi \"F0 00 01 09 ..\"   send a MIDI autofocus message (hex bytes)\n"
    "  --fix-checksum       fill in the MIDI checksum byte\n"
    "  --blind SPOT:START:CH=LVL,CH=LVL,...   blind autofocus channel levels\n"
    "  --port P             port of the blind autofocus levels (default 0)\n"
    "  --selection SPOT:STATUS[:TYPE],...     blind autofocus selection\n"
    "  --version            this program's build, and the driver library's\n"
    "  --help               this text\n";

std::atomic<bool> g_stop{false};
void OnInterrupt() { g_stop = true; }

// Reads all ports of a console into its copy.
void Poll(const DriverApi& api, HostConsole& console, uint32_t now) {
  for (int port = 0; port < 64; ++port) {
    if (api.LockPortBuffer(console.handle, port) != 0) continue;
    uint8_t* buffer = nullptr;
    if (api.GetPortBuffer(console.handle, port, &buffer) == 512 && buffer != nullptr) {
      uint8_t* mine = console.levels.data() + 512 * port;
      if (std::memcmp(mine, buffer, 512) != 0) {
        std::memcpy(mine, buffer, 512);
        console.changed[port] = now;
      }
    }
    api.UnlockPortBuffer(console.handle, port);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string library = InstalledLibrary(argv[0]);
  std::string registry;
  double rate = 40;
  int universe = 0;
  long long frames = -1;
  double seconds = -1;
  bool view = false;
  bool connectOnly = false;
  bool version = false;
  LevelView levelView = LevelView::Decimal;
  AutofocusRequest autofocus;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "previsa-host: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    std::string error;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--library") {
      library = value();
    } else if (arg == "--registry") {
      registry = value();
    } else if (arg == "--rate") {
      rate = std::atof(value().c_str());
    } else if (arg == "--universe") {
      universe = std::atoi(value().c_str());
    } else if (arg == "--frames") {
      frames = std::atoll(value().c_str());
    } else if (arg == "--seconds") {
      seconds = std::atof(value().c_str());
    } else if (arg == "--view") {
      view = true;
    } else if (arg == "--values") {
      const std::string v = value();
      if (v != "dec" && v != "percent" && v != "hex") {
        std::fprintf(stderr, "previsa-host: --values is dec, percent or hex\n");
        return 2;
      }
      levelView = v == "dec" ? LevelView::Decimal : v == "percent" ? LevelView::Percent : LevelView::Hex;
    } else if (arg == "--connect-only") {
      connectOnly = true;
    } else if (!ParseAutofocusArg(
                   arg, [&] { return value(); }, &autofocus, &error)) {
      std::fprintf(stderr, "previsa-host: %s\n",
                   error.empty() ? ("unknown option " + arg + " (see --help)").c_str() : error.c_str());
      return 2;
    }
  }
  if (universe < 0 || universe > 63 || rate <= 0) {
    std::fprintf(stderr, "previsa-host: universe must be 0..63 and the rate above 0\n");
    return 2;
  }
  const bool json = (frames >= 0 || seconds >= 0) && !view;
  const LibraryVersion loaded = ReadLibraryVersion(library);
  if (version) {
    std::printf("previsa-host %s\ndriver library %s\n", ToolVersion(), LibraryVersionText(loaded).c_str());
    return loaded.build.empty() ? 1 : 0;
  }
  if (!registry.empty() && !SetRegistryFile(registry)) {
    std::fprintf(stderr, "previsa-host: --registry works on POSIX only; import the file with regedit\n");
    return 2;
  }

  DriverApi api;
  std::string error;
  if (!api.Load(library, &error)) {
    std::fprintf(stderr, "previsa-host: %s\n", error.c_str());
    return 1;
  }
  osOnInterrupt(OnInterrupt);
  api.Init();
  uint32_t major = 0, minor = 0;
  api.GetVersionInfo(&major, &minor);
  const char* brand = nullptr;
  api.GetBrandingString(PM_BRAND_AUTH_STR, &brand);
  std::fprintf(json ? stderr : stdout, "driver %u.%u caps 0x%x brand %s\ndriver library %s\n", major, minor,
               api.GetDriverCaps(), brand != nullptr ? brand : "?", LibraryVersionText(loaded).c_str());

  static PDIList list;
  std::memset(&list, 0, sizeof list);
  for (int32_t r = api.StartDetect(1, &list); r == 0; r = api.ContinueDetect(1, &list)) {
  }
  std::vector<HostConsole> consoles;
  for (uint32_t i = 0; i < list.Count; ++i) {
    PDI& pdi = list.Records[i];
    std::fprintf(json ? stderr : stdout, "PDI %u: ManHdl=%u Protocol=%s Model=%s Address=%s Data[0]=%u\n", i,
                 pdi.ManHdl, pdi.Protocol, pdi.Model, pdi.Address, pdi.Data[0]);
    if (pdi.Data[0] < 1 || pdi.Data[0] > 31) continue;
    const uint16_t handle = api.Connect(&pdi);
    std::fprintf(json ? stderr : stdout, "Connect(%s) = %u%s\n", pdi.Address, handle,
                 handle == 0xFFFF ? " (no answer)" : "");
    if (handle != 0xFFFF)
      consoles.push_back(HostConsole{handle, std::vector<uint8_t>(64 * 512), std::vector<uint32_t>(64)});
  }
  if (!consoles.empty() && autofocus.any()) {
    const uint16_t target = autofocus.console != 0 ? static_cast<uint16_t>(autofocus.console) : consoles[0].handle;
    SendAutofocus(api, target, autofocus, api.GetDriverCaps(), json ? stderr : stdout);
  }
  // Beside the driver, a listener on its interface tells which universes'
  // datagrams come, whatever their levels.
  GroupWatch watch({ReadDriverSettings().interfaceAddr});
  std::string watchError;
  const bool watching = !consoles.empty() && watch.Start(&watchError);
  if (!consoles.empty() && !watching)
    std::fprintf(stderr, "previsa-host: %s; universes are judged by their levels only\n", watchError.c_str());

  const uint32_t period = static_cast<uint32_t>(1000.0 / rate);
  const uint32_t started = osTickCountMs();
  uint64_t frame = 0;
  while (!connectOnly && !g_stop && !consoles.empty()) {
    const uint32_t now = osTickCountMs();
    if (seconds >= 0 && now - started >= static_cast<uint32_t>(seconds * 1000)) break;
    if (frames >= 0 && frame >= static_cast<uint64_t>(frames)) break;
    api.ServiceDevices();
    for (HostConsole& c : consoles) {
      Poll(api, c, now);
      c.watched = watching;
      if (watching) c.heard = watch.Snapshot(c.handle);
      c.heardNowMs = watch.NowMs();
    }
    ++frame;
    if (json) {
      PrintJson(stdout, consoles, frame, now - started, universe, api.GetNumChannels(consoles[0].handle, universe),
                now);
    } else {
      PrintView(stdout, consoles, frame, universe, levelView, now);
    }
    const uint32_t spent = osTickCountMs() - now;
    // A host's message loop: the echo window, when the settings ask for it,
    // is this thread's.
    if (spent < period) osPumpMessages(period - spent);
  }
  watch.Stop();
  for (const HostConsole& c : consoles) api.Disconnect(c.handle);
  api.Shutdown();
  api.Unload();
  std::fprintf(json ? stderr : stdout, "previsa-host: %llu polls, %zu console(s), ended cleanly\n",
               static_cast<unsigned long long>(frame), consoles.size());
  return consoles.empty() && !connectOnly && list.Count > 0 ? 3 : 0;
}

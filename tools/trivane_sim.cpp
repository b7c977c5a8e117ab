// trivane-sim: behaves as Trivane console N on a local interface.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "../tvnLib/ipaddress.h"
#include "../tvnLib/os.h"
#include "../tvnLib/os_net.h"
#include "console_sim.h"
#include "library_version.h"
#include "show_replay.h"

namespace {

const char kUsage[] =
    "usage: trivane-sim [options]\n"
    "Behaves as Trivane console N: answers the driver's heartbeats on 236.3.3.N:6007\n"
    "with PD_ACCEPT and streams DMX to 236.3.2.(32+N):9138.\n"
    "\n"
    "  --console N          console number 1..31 (default 1)\n"
    "  --interface A.B.C.D  local interface (default 127.0.0.1)\n"
    "  --universes U        universes 0..U-1 stream, 1..64 (default 1)\n"
    "  --rate HZ            DMX frames per second, 0 for none (default 40)\n"
    "  --pattern P          static | chase | fade | random (default chase)\n"
    "  --changed-only       send only changed channels (a full frame every second)\n"
    "  --level L            every channel's level in the static pattern (default 0)\n"
    "  --dmx-version V      protocol version in the DMX headers (default 7; others are dropped)\n"
    "  --dmx-type T         packet type in the DMX headers (default 24; others are dropped)\n"
    "  --accept-delay MS    wait before answering a heartbeat (default 0)\n"
    "  --never-accept       never answer\n"
    "  --shutdown-after MS  send PD_SHUTDOWN this long after each acceptance\n"
    "  --reaccept-after MS  accept again this long after a shutdown\n"
    "  --replay FILE        send a recorded show (pvtrivane-record, or any pcap/pcapng\n"
    "                       capture) instead of a pattern, at its recorded timing\n"
    "  --loop               replay it again and again\n"
    "  --from M             replay console M's traffic of the recording (default: the first)\n"
    "  --seconds S          end after S seconds (default: run until Ctrl-C)\n"
    "  --quiet              do not print the heartbeats\n"
    "  --version            this program's build\n"
    "  --help               this text\n"
    "\n"
    "While it runs: SIGUSR1 or the line \"s\" on standard input sends PD_SHUTDOWN,\n"
    "the line \"a\" sends PD_ACCEPT. Every control packet received is printed,\n"
    "decoded, one line each.\n";

std::atomic<bool> g_stop{false};
std::atomic<bool> g_shutdownRequest{false};

void OnInterrupt() { g_stop = true; }
void OnUserSignal() { g_shutdownRequest = true; }

bool ParsePattern(const std::string& text, SimPattern* pattern) {
  if (text == "static")
    *pattern = SimPattern::Static;
  else if (text == "chase")
    *pattern = SimPattern::Chase;
  else if (text == "fade")
    *pattern = SimPattern::Fade;
  else if (text == "random")
    *pattern = SimPattern::RandomSparse;
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  options.keepPackets = false;  // printed as they come, never stored: the simulator runs for hours
  double seconds = -1;
  bool quiet = false, loop = false;
  std::string replayFile;
  int replayFrom = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "trivane-sim: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("trivane-sim %s\n", ToolVersion());
      return 0;
    } else if (arg == "--console") {
      options.console = static_cast<uint32_t>(std::atoi(value()));
    } else if (arg == "--interface") {
      options.interfaceAddr = ParseDottedAddress(value());
    } else if (arg == "--universes") {
      options.universes = std::atoi(value());
    } else if (arg == "--rate") {
      options.rateHz = std::atof(value());
    } else if (arg == "--pattern") {
      if (!ParsePattern(value(), &options.pattern)) {
        std::fprintf(stderr, "trivane-sim: unknown pattern\n");
        return 2;
      }
    } else if (arg == "--changed-only") {
      options.changedOnly = true;
    } else if (arg == "--accept-delay") {
      options.acceptDelayMs = std::atoi(value());
    } else if (arg == "--level") {
      options.level = static_cast<uint8_t>(std::atoi(value()));
    } else if (arg == "--dmx-type") {
      options.dmxType = static_cast<uint32_t>(std::atoi(value()));
    } else if (arg == "--dmx-version") {
      options.dmxVersion = static_cast<uint32_t>(std::atoi(value()));
    } else if (arg == "--never-accept") {
      options.neverAccept = true;
    } else if (arg == "--shutdown-after") {
      options.shutdownAfterMs = std::atoi(value());
    } else if (arg == "--reaccept-after") {
      options.reacceptAfterMs = std::atoi(value());
    } else if (arg == "--replay") {
      replayFile = value();
    } else if (arg == "--loop") {
      loop = true;
    } else if (arg == "--from") {
      replayFrom = std::atoi(value());
    } else if (arg == "--seconds") {
      seconds = std::atof(value());
    } else if (arg == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "trivane-sim: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    }
  }
  if (options.console < 1 || options.console > 31 || options.universes < 1 || options.universes > 64) {
    std::fprintf(stderr, "trivane-sim: console must be 1..31 and universes 1..64\n");
    return 2;
  }
  ShowReplay show;
  if (!replayFile.empty()) {
    std::string error;
    if (!show.Load(replayFile, replayFrom, &error)) {
      std::fprintf(stderr, "trivane-sim: %s\n", error.c_str());
      return 2;
    }
    options.rateHz = 0;  // the recording streams instead of a pattern
  }
  int major = 0;
  if (!osNetStartup(&major)) {
    std::fprintf(stderr, "trivane-sim: sockets unavailable\n");
    return 1;
  }
  osOnInterrupt(OnInterrupt);
  osOnUserSignal(OnUserSignal);

  ConsoleSimulator sim(options);
  sim.OnControlPacket([quiet](const SimControlPacket& packet) {
    if (quiet && packet.type == PD_HEARTBEAT) return;
    // A console's messages on this group come from another console (or a
    // program) with this number: say who.
    const bool console = packet.type == PD_ACCEPT || packet.type == PD_SHUTDOWN;
    char address[kAddressTextSize];
    std::printf(
        "%8.3f %s%s%s%s\n", static_cast<double>(packet.atMs) / 1000.0, ConsoleSimulator::Describe(packet).c_str(),
        console ? " from " : "", console ? AddressText(packet.source, address) : "",
        console ? (":" + std::to_string(packet.sourcePort) + ", another console with this number").c_str() : "");
    std::fflush(stdout);
  });
  std::string error;
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "trivane-sim: %s\n", error.c_str());
    return 1;
  }
  char address[kAddressTextSize];
  if (replayFile.empty())
    std::printf("trivane-sim: console %u on %s, %d universe(s) at %.1f Hz\n", options.console,
                AddressText(sim.Options().interfaceAddr, address), options.universes, options.rateHz);
  else
    std::printf("trivane-sim: console %u on %s\n", options.console, AddressText(sim.Options().interfaceAddr, address));
  std::fflush(stdout);

  std::thread replay;
  std::atomic<uint64_t> replayed{0};
  if (!replayFile.empty()) {
    std::printf("trivane-sim: replaying console %d of %s (%zu datagrams, %.1f s, read by %s%s)%s\n", show.Console(),
                replayFile.c_str(), show.Items().size(), show.Seconds(), show.Reader().c_str(),
                show.CutShort() > 0 ? (", " + std::to_string(show.CutShort()) + " cut short left out").c_str() : "",
                loop ? ", looping" : "");
    std::fflush(stdout);
    replay = std::thread([&] {
      show.Play(
          [&](const ReplayItem& item) {
            ++replayed;
            if (item.dmx)
              sim.SendDmxDatagram(item.payload);
            else if (item.type == PD_ACCEPT)
              sim.SendAccept();
            else
              sim.SendShutdown();
          },
          loop, g_stop);
      if (!g_stop) std::printf("trivane-sim: the replay ended\n");
      std::fflush(stdout);
    });
  }
  std::thread input([&sim] {
    std::string line;
    while (!g_stop && std::getline(std::cin, line)) {
      if (line == "s") sim.SendShutdown();
      if (line == "a") sim.SendAccept();
    }
  });
  input.detach();

  const uint32_t started = osTickCountMs();
  while (!g_stop) {
    if (g_shutdownRequest.exchange(false)) {
      std::printf("trivane-sim: sending PD_SHUTDOWN\n");
      std::fflush(stdout);
      sim.SendShutdown();
    }
    if (seconds >= 0 && osTickCountMs() - started >= static_cast<uint32_t>(seconds * 1000)) break;
    osSleepMs(50);
  }
  g_stop = true;
  if (replay.joinable()) replay.join();
  sim.Stop();
  if (replayFile.empty())
    std::printf("trivane-sim: %llu frames sent\n", static_cast<unsigned long long>(sim.FramesSent()));
  else
    std::printf("trivane-sim: %llu datagrams and control packets replayed\n",
                static_cast<unsigned long long>(replayed.load()));
  osNetCleanup();
  return 0;
}

// pvtrivane-config: lists the machine's interfaces and writes the driver's
// settings (interface, console numbers, autofocus, echo) where the driver
// reads them, refusing values the driver would not take.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tvnLib/ipaddress.h"
#include "../tvnLib/os.h"
#include "driver_settings.h"
#include "library_version.h"
#include "net_interfaces.h"
#include "settings_store.h"

namespace {

const char kUsage[] =
    "usage: pvtrivane-config [options]\n"
    "Writes the PvTrivane driver's settings where the driver reads them (the settings\n"
    "file on Linux, HKEY_CURRENT_USER on Windows).\n"
    "\n"
    "  --list                 this machine's IPv4 interfaces\n"
    "  --addresses            the same, each line starting with its address (for installers)\n"
    "  --show                 the settings as the driver reads them (after any change)\n"
    "  --ip A.B.C.D           the interface that faces the consoles\n"
    "  --console1 N           console number of Trivane1, 1..31 (0 removes it); also\n"
    "  --console2 N, --console3 N\n"
    "  --autofocus KIND       blind, midi, off, or auto (chosen from the host's releases)\n"
    "  --echo on|off          the echo window\n"
    "  --force                take an address that is no interface of this machine\n"
    "  --file PATH            write a .reg file there instead (for regedit, or another\n"
    "                         machine: its address is not checked against this one's)\n"
    "  --registry FILE        the settings file the driver reads (Linux; default as the driver)\n"
    "  --version              this program's build\n"
    "  --help                 this text\n"
    "\n"
    "Exit status 0, or 2 when a value is refused (nothing is written then).\n";

int Refuse(const std::string& why) {
  std::fprintf(stderr, "pvtrivane-config: %s\n", why.c_str());
  return 2;
}

std::string AddressText(uint32_t address) {
  char text[kAddressTextSize];
  return ::AddressText(address, text);
}

// When the driver takes a value that was written.
const char* WhenTaken(const RegChange& c) {
  if (c.name == "ip")
    return "read at the driver's next Init and every 201st service call; a console already connected keeps the "
           "old interface until it connects again";
  if (c.name.compare(0, 7, "Trivane") == 0)
    return c.kind == RegChange::Remove
               ? "the driver keeps the number it read until it is loaded again (restart the host)"
               : "read at the driver's next Init and every 201st service call";
  return "read only when the driver is loaded: restart the host";
}

void PrintInterfaces(FILE* to, const std::vector<NetInterface>& list) {
  for (const NetInterface& i : list)
    std::fprintf(to, "  %-12s %-15s %s%s%s\n", i.name.c_str(), AddressText(i.address).c_str(), i.up ? "up" : "down",
                 i.multicast ? ", multicast" : "", i.loopback ? ", this machine only" : "");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<RegChange> changes;
  bool list = false, show = false, force = false, addresses = false;
  std::string file, ip;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // Every option below that takes a value refuses to go without one.
    const bool takesValue = arg == "--file" || arg == "--registry" || arg == "--ip" || arg == "--console1" ||
                            arg == "--console2" || arg == "--console3" || arg == "--autofocus" || arg == "--echo";
    if (takesValue && (i + 1 >= argc || argv[i + 1][0] == '\0')) return Refuse(arg + " needs a value");
    const std::string value = takesValue ? argv[++i] : "";
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("pvtrivane-config %s\n", ToolVersion());
      return 0;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--addresses") {
      addresses = true;
    } else if (arg == "--show") {
      show = true;
    } else if (arg == "--force") {
      force = true;
    } else if (arg == "--file") {
      file = value;
    } else if (arg == "--registry") {
      osSetEnvironment("PVTRIVANE_REGISTRY", value.c_str());
    } else if (arg == "--ip") {
      ip = value;
    } else if (arg == "--console1" || arg == "--console2" || arg == "--console3") {
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (*end != '\0' || n < 0 || n > 31)
        return Refuse("a console number is 1 to 31 (0 removes it), not \"" + value + "\"");
      const std::string name = "Trivane" + arg.substr(9);
      changes.push_back(n == 0 ? RegChange{name, RegChange::Remove, "", 0}
                               : RegChange{name, RegChange::Dword, "", static_cast<uint32_t>(n)});
    } else if (arg == "--autofocus") {
      const uint32_t code = value == "blind" ? 1 : value == "midi" ? 2 : value == "off" ? 4 : 0;
      if (value == "auto") {
        changes.push_back({"Autofocus", RegChange::Remove, "", 0});
      } else if (code == 0) {
        return Refuse("autofocus is blind, midi, off or auto, not \"" + value + "\"");
      } else {
        changes.push_back({"Autofocus", RegChange::Dword, "", code});
      }
    } else if (arg == "--echo") {
      if (value != "on" && value != "off") return Refuse("echo is on or off, not \"" + value + "\"");
      changes.push_back({"echo", RegChange::Dword, "", value == "on" ? 1u : 0u});
    } else {
      return Refuse("unknown option " + arg + " (see --help)");
    }
  }
  if (!list && !addresses && !show && changes.empty() && ip.empty()) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::vector<NetInterface> interfaces = ListInterfaces();
  if (!ip.empty()) {
    const uint32_t address = ParseDottedAddress(ip.c_str());
    if (address == 0xFFFFFFFFu || ip.size() > 18) return Refuse("\"" + ip + "\" is no IPv4 address (A.B.C.D)");
    // A file may be meant for another machine, whose interfaces are not these.
    if (file.empty() && InterfaceWith(interfaces, address) == nullptr && !force) {
      std::fprintf(stderr,
                   "pvtrivane-config: %s is no address of this machine (--force writes it anyway); "
                   "this machine's interfaces:\n",
                   ip.c_str());
      PrintInterfaces(stderr, interfaces);
      return 2;
    }
    changes.insert(changes.begin(), RegChange{"ip", RegChange::Text, ip, 0});
  }
  if (list) {
    std::printf("This machine's IPv4 interfaces:\n");
    PrintInterfaces(stdout, interfaces);
  }
  for (const NetInterface& i : addresses ? interfaces : std::vector<NetInterface>())
    std::printf("%s  %s (%s%s%s)\n", AddressText(i.address).c_str(), i.name.c_str(), i.up ? "up" : "down",
                i.multicast ? ", multicast" : "", i.loopback ? ", this machine only" : "");
  if (!changes.empty()) {
    std::string where = file, error;
    const bool ok = file.empty() ? StoreSettings(changes, &where, &error)
                                 : StoreSettingsFile(file, changes, !osRegistryIsFile(), &error);
    if (!ok) {
      std::fprintf(stderr, "pvtrivane-config: %s\n", error.c_str());
      return 1;
    }
    std::printf("Written to %s%s:\n", where.c_str(),
                file.empty() ? "" : " (import it with regedit where it is meant for)");
    for (const RegChange& c : changes) {
      const std::string what = c.kind == RegChange::Remove ? " removed"
                               : c.kind == RegChange::Text ? " = " + c.text
                                                           : " = " + std::to_string(c.dword);
      std::printf("  %s%s: %s\n", c.name.c_str(), what.c_str(), WhenTaken(c));
    }
  }
  if (show) {
    const Settings s = file.empty() ? ReadDriverSettings() : ReadSettingsFile(file);
    std::printf("Settings in %s%s:\n%s", s.source.c_str(), s.found ? "" : " (not there yet)", SettingsText(s).c_str());
  }
  return 0;
}

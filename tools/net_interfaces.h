// The machine's IPv4 interfaces and what a technician needs to know of
// them, for the diagnose command and the settings helper. One
// implementation per platform (tools/POSIX, tools/WINDOWS).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct NetInterface {
  std::string name;
  uint32_t address = 0;  // network order
  uint32_t netmask = 0;  // network order; 0 when unknown
  bool up = false;
  bool multicast = false;
  bool loopback = false;
};

std::vector<NetInterface> ListInterfaces();

// The interface that holds `address`, or null.
const NetInterface* InterfaceWith(const std::vector<NetInterface>& interfaces, uint32_t address);

// The interface through which `sender` is reached: the one that holds the
// address (a program on this machine), else the one whose network holds it;
// null when none does.
const NetInterface* InterfaceFor(const std::vector<NetInterface>& interfaces, uint32_t sender);

// What can be read of the system firewall for inbound UDP (Windows: the
// profiles' states; elsewhere a hint), as lines of plain text. Never
// changes anything.
std::vector<std::string> FirewallReport();

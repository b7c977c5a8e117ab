#include "../net_interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

std::vector<NetInterface> ListInterfaces() {
  std::vector<NetInterface> list;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return list;
  for (const ifaddrs* i = all; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    NetInterface entry;
    entry.name = i->ifa_name != nullptr ? i->ifa_name : "";
    entry.address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if (i->ifa_netmask != nullptr && i->ifa_netmask->sa_family == AF_INET)
      entry.netmask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
    entry.up = (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
    entry.multicast = (i->ifa_flags & IFF_MULTICAST) != 0;
    entry.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    // Loopback carries multicast between programs of this machine, whatever
    // its flag says.
    if (entry.loopback) entry.multicast = true;
    list.push_back(entry);
  }
  freeifaddrs(all);
  return list;
}

std::vector<std::string> FirewallReport() {
  return {"no Windows firewall here; local packet filters (nftables, iptables) must let UDP 6007 and 9138 in"};
}

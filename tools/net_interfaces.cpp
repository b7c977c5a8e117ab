#include "net_interfaces.h"

const NetInterface* InterfaceWith(const std::vector<NetInterface>& interfaces, uint32_t address) {
  for (const NetInterface& i : interfaces)
    if (i.address == address) return &i;
  return nullptr;
}

const NetInterface* InterfaceFor(const std::vector<NetInterface>& interfaces, uint32_t sender) {
  const NetInterface* own = InterfaceWith(interfaces, sender);
  if (own != nullptr) return own;
  for (const NetInterface& i : interfaces)
    if (i.netmask != 0 && (i.address & i.netmask) == (sender & i.netmask)) return &i;
  return nullptr;
}

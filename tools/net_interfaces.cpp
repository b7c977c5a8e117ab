#include "net_interfaces.h"

const NetInterface* InterfaceWith(const std::vector<NetInterface>& interfaces, uint32_t address) {
  for (const NetInterface& i : interfaces)
    if (i.address == address) return &i;
  return nullptr;
}

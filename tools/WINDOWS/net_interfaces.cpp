#include "../net_interfaces.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string out(static_cast<size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

std::vector<NetInterface> ListInterfaces() {
  std::vector<NetInterface> list;
  ULONG size = 16384;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return list;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr; a = a->Next) {
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
      NetInterface entry;
      entry.name = Narrow(a->FriendlyName);
      entry.address = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr;
      const unsigned prefix = u->OnLinkPrefixLength;
      if (prefix > 0 && prefix <= 32) entry.netmask = htonl(prefix == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefix));
      entry.up = a->OperStatus == IfOperStatusUp;
      entry.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      entry.multicast = (a->Flags & IP_ADAPTER_NO_MULTICAST) == 0 || entry.loopback;
      list.push_back(entry);
    }
  }
  return list;
}

std::vector<std::string> FirewallReport() {
  // Read only: the profiles' states as netsh shows them.
  std::vector<std::string> lines;
  FILE* pipe = _popen("netsh advfirewall show allprofiles state 2>&1", "r");
  if (pipe == nullptr) return {"the firewall's state could not be read (netsh did not start)"};
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (text.find("Profile") != std::string::npos || text.find("State") != std::string::npos) lines.push_back(text);
  }
  _pclose(pipe);
  if (lines.empty()) return {"the firewall's state could not be read (netsh advfirewall gave nothing)"};
  lines.push_back("where a profile is ON, inbound UDP 6007 and 9138 must be allowed for the host program");
  return lines;
}

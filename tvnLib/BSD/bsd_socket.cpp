// The socket contract's calls that are the same BSD socket call on both
// platforms: option numbers, membership records and binding. Compiled into
// both platform builds; the folder's own net_native.h (tvnLib/WINDOWS or
// tvnLib/POSIX, on this file's include path) supplies the headers and the
// argument types.
#include "net_native.h"

int osSetSockOpt(OsSocket s, OsSockOpt option, int value) {
  int level = IPPROTO_IP;
  int name = 0;
  switch (option) {
    case OsSockOpt::ReuseAddr:
      level = SOL_SOCKET;
      name = SO_REUSEADDR;
      break;
    case OsSockOpt::Broadcast:
      level = SOL_SOCKET;
      name = SO_BROADCAST;
      break;
    case OsSockOpt::MulticastLoop:
      name = IP_MULTICAST_LOOP;
      break;
    case OsSockOpt::MulticastTtl:
      name = IP_MULTICAST_TTL;
      break;
    case OsSockOpt::ReceiveBuffer:
      level = SOL_SOCKET;
      name = SO_RCVBUF;
      break;
    case OsSockOpt::ReceiveTimeoutMs:
      return NativeSetReceiveTimeout(Native(s), value) == 0 ? 0 : -1;
  }
  return NativeSetOpt(Native(s), level, name, &value, sizeof value) == 0 ? 0 : -1;
}

int osSetMulticastIf(OsSocket s, uint32_t interfaceAddr) {
  in_addr address;
  address.s_addr = interfaceAddr;
  return NativeSetOpt(Native(s), IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) == 0 ? 0 : -1;
}

int osMembership(OsSocket s, bool add, uint32_t group, uint32_t interfaceAddr) {
  ip_mreq request;
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interfaceAddr;
  const int name = add ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
  return NativeSetOpt(Native(s), IPPROTO_IP, name, &request, sizeof request) == 0 ? 0 : -1;
}

int osBind(OsSocket s, const void* addr) {
  return bind(Native(s), static_cast<const sockaddr*>(addr), sizeof(sockaddr_in)) == 0 ? 0 : -1;
}

#include "udpsocket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ctask.h"
#include "echo.h"
#include "logFile.h"
#include "ticks.h"

int64_t TimeoutMicros(const TVN_TIMEVAL* timeout) {
  if (timeout == nullptr) return -1;
  return static_cast<int64_t>(timeout->tv_sec) * 1000000 + timeout->tv_usec;
}

UDPSENDER::UDPSENDER(uint16_t port) : UDPBASE(1) {
  LogTrace(2, "UDPSENDER");
  BytesSent = 0;
  PacketsSent = 0;
  SetMulticastIf(0);
  DefaultDest = IPADDRESS(port, ClassfulBroadcast(0));
  SlowSend = 0;
  SlowLimit = 300;
}

UDPSENDER::~UDPSENDER() { LogTrace(2, "~UDPSENDER"); }

int UDPSENDER::Send(const void* datagram) {
  uint32_t length;
  std::memcpy(&length, static_cast<const uint8_t*>(datagram) + 8, sizeof length);
  return SendTo(datagram, static_cast<int>(length), DefaultDest);
}

int UDPSENDER::selectWrite(const TVN_TIMEVAL* timeout) {
  return WaitReady(true, TimeoutMicros(timeout), "UDPSENDER::selectWrite");
}

int UDPSENDER::SendTo(const void* data, int length, const IPADDRESS& destination) {
  // The handle stays this socket's through the wait and the send.
  const SocketUse use(this);
  const OsSocket s = use.Socket();
  if (s == kOsInvalidSocket) {
    EchoPrint("SOCKET NOT READY TO SEND (CLOSED");
    return -1;
  }
  const int32_t start = tickNow();
  int result = -1;
  if (selectWrite(nullptr) == 0 || !IsOpen()) {
    EchoPrint("SOCKET NOT READY TO SEND (SELECT)");
  } else {
    CTASK* task = nullptr;
    const TASK_ID self = taskSelf();
    if (self != kNoTask && CTASK::FromId(self)->m_state == kTaskRunning) task = CTASK::FromId(self);
    {
      RESOURCE_LOCK killLock(task != nullptr ? &task->m_killLock : nullptr, "UDPSENDER::SendTo");
      result = osSendTo(s, data, length, &destination);
    }
    if (result == -1) {
      const int err = errno;
      char address[kAddressTextSize];
      char text[64];
      std::snprintf(text, sizeof text, "Cant send to %s:%X:", AddressText(destination.address, address),
                    destination.port);
      std::fprintf(stderr, "%s: %s\n", text, osErrnoText(err));
    }
  }
  SlowSend = (tickNow() - start) > SlowLimit ? 1 : 0;
  if (result != -1) {
    PacketsSent += 1;
    BytesSent += static_cast<uint32_t>(result);
  }
  return result;
}

UDPRECEIVER::UDPRECEIVER(uint16_t port) : UDPBASE(1) {
  LogTrace(2, "UDPRECEIVER");
  if (port != 0) Bind(IPADDRESS(port, 0));
}

UDPRECEIVER::~UDPRECEIVER() { LogTrace(2, "~UDPRECEIVER"); }

int UDPRECEIVER::selectRead(const TVN_TIMEVAL* timeout) {
  return WaitReady(false, TimeoutMicros(timeout), "UDPRECEIVER::selectRead");
}

UDPSOCKET::UDPSOCKET(uint16_t senderPort, uint16_t receiverPort, int openNow)
    : UDPBASE(openNow), UDPRECEIVER(receiverPort), UDPSENDER(senderPort) {}

UDPSOCKET::~UDPSOCKET() { LogTrace(2, "~UDPSOCKET"); }

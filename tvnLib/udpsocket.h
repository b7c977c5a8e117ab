// The sending and receiving sides of a UDP socket. UDPSOCKET is both; its
// two sides share one UDPBASE (virtual base), so one socket, one bound
// address and one membership table. Used by one task; another thread may
// only Close it to end that task's wait.
#pragma once

#include <cstdint>

#include "udpbase.h"

// A wait limit in seconds and microseconds.
struct TVN_TIMEVAL {
  int32_t tv_sec;
  int32_t tv_usec;
};

class UDPSENDER : public virtual UDPBASE {
 public:
  explicit UDPSENDER(uint16_t port);
  ~UDPSENDER() override;

  // Sends a datagram whose 32-bit host-order value at offset 8 is its total
  // length, to DefaultDest.
  virtual int Send(const void* datagram);
  // Bytes sent, or -1. Keeps the statistics and SlowSend.
  int SendTo(const void* data, int length, const IPADDRESS& destination);
  // Non-zero when writable; null waits without limit.
  int selectWrite(const TVN_TIMEVAL* timeout);

  uint32_t BytesSent = 0;
  uint32_t PacketsSent = 0;
  int32_t SlowSend = 0;
  int32_t SlowLimit = 300;  // ticks
  IPADDRESS DefaultDest;
};

class UDPRECEIVER : public virtual UDPBASE {
 public:
  // Binds to `port` on all interfaces when the socket is open and port != 0.
  explicit UDPRECEIVER(uint16_t port);
  ~UDPRECEIVER() override;

  // Non-zero when a datagram can be read; null waits without limit.
  int selectRead(const TVN_TIMEVAL* timeout);
};

class UDPSOCKET : public UDPRECEIVER, public UDPSENDER {
 public:
  UDPSOCKET(uint16_t senderPort, uint16_t receiverPort, int openNow);
  ~UDPSOCKET() override;
};

// Microseconds of a wait limit; -1 for none.
int64_t TimeoutMicros(const TVN_TIMEVAL* timeout);

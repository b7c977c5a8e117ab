// The UDP socket library's base: one IPv4 datagram socket with its options,
// the address it is bound to and the multicast groups it joined.
//
// A UDPBASE is set up and used by one task. The one operation another thread
// may call is Close, to end that task's wait or send: it marks the socket
// invalid, wakes the waiter and closes the handle only once no wait or send
// still uses it, so that no call lands on a closed or reused handle. The
// membership table has its own lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "excpt.h"
#include "ipaddress.h"
#include "os_net.h"
#include "sync.h"

// One multicast membership: the add/drop-membership request record.
struct MEMBERSHIP {
  uint32_t group;      // network order
  uint32_t interface;  // network order
};
static_assert(sizeof(MEMBERSHIP) == 8, "MEMBERSHIP is the 8-byte membership request");

// A counted fixed array: entries 0..m_count-1 are in use; never grows.
template <typename T, int N>
struct ARRAY_ANZ {
  static constexpr int kCapacity = N;
  int32_t m_count = 0;
  T m_items[N] = {};
};

// The groups joined on a socket. Every operation holds the table's lock.
class UDPMEMBERSHIPS : public RESOURCE, public ARRAY_ANZ<MEMBERSHIP, 16> {
 public:
  ~UDPMEMBERSHIPS() override;
  // Joins unless already joined (then 0 without a system call); records the
  // membership while there is room. 0 on success, -1 on failure.
  int Add(OsSocket socket, const MEMBERSHIP& membership);
  // Leaves every recorded group on `socket` (when valid) and empties the table.
  void DropAll(OsSocket socket);
};

class UDPBASE {
 public:
  explicit UDPBASE(int openNow);
  virtual ~UDPBASE();
  UDPBASE(const UDPBASE&) = delete;
  UDPBASE& operator=(const UDPBASE&) = delete;

  // Creates the socket with broadcast on, address reuse on, multicast
  // loopback off, blocking. 1 when created, 0 when one was open already.
  // Throws EXCPT_UDP "No Socket available" or an option's failure (the new
  // socket is closed again first).
  virtual int Open();
  // Leaves every recorded group and closes the socket, if one is open; a
  // wait or send in another thread ends first (failing). REQUIRES: the
  // caller is not inside a wait or send on this socket.
  virtual void Close();

  // Throws EXCPT_UDP on failure; BoundAddr keeps its value then.
  void Bind(const IPADDRESS& address);

  // Throw EXCPT_UDP "CANT SET %s FOR SOCKET %i" on failure; do nothing while
  // closed.
  void SetReuseAddr(int32_t on);
  void SetBroadcast(int32_t on);
  void SetMulticastLoop(uint8_t on);
  // Also sets the multicast time-to-live to 8.
  void SetMulticastIf(uint32_t interfaceAddr);
  // Only the low byte counts; -1 while closed or on failure, else 0.
  int SetTTL(int ttl);
  // Asks the socket to report each datagram's destination and, where the
  // platform can, to deliver only the groups it joined itself.
  void SetOnlyJoinedGroups();

  // 0 on success or when already joined, -1 on failure or while closed.
  int JoinGroup(const MEMBERSHIP& membership);

  OsSocket Socket() const { return m_socket.load(std::memory_order_acquire); }
  bool IsOpen() const { return Socket() != kOsInvalidSocket; }
  const UDPMEMBERSHIPS& Memberships() const { return m_memberships; }

  // Waits until the socket is readable or writable; `timeoutUs` < 0 waits
  // without limit. With a limit, the calling task's kill lock is held around
  // the wait. Non-zero when ready, 0 on time-out, failure or a socket closed
  // meanwhile.
  int WaitReady(bool write, int64_t timeoutUs, const char* who);

  // One datagram into buf[0..capacity), waiting up to `timeoutUs` (< 0:
  // without limit) as WaitReady does, in one call where the platform can.
  // Its length, 0 when none came in time, -1 on failure; at once (0 or -1)
  // when the socket is closed or woken. *info as osRecvFrom.
  int ReceiveWithin(void* buf, int capacity, int64_t timeoutUs, OsDatagram* info);

 protected:
  // Runs `call(socket)` while holding the socket open and, for a wait with a
  // limit, the calling task's kill lock; its result, or `closed` when the
  // socket is closed.
  template <typename Call>
  int InUse(int64_t timeoutUs, const char* who, int closed, Call call);

  // Holds the socket open for one wait or send; Close waits for the last
  // holder (bounded: a thread killed inside one never lets go).
  class SocketUse {
   public:
    // Sequentially consistent with Close (which invalidates the socket,
    // then reads the count): either Close sees this use, or this use sees
    // the socket invalid.
    explicit SocketUse(UDPBASE* base) : m_base(base) {
      m_base->m_users.fetch_add(1);
      m_socket = m_base->m_socket.load();
    }
    ~SocketUse() { m_base->m_users.fetch_sub(1); }
    SocketUse(const SocketUse&) = delete;
    SocketUse& operator=(const SocketUse&) = delete;
    OsSocket Socket() const { return m_socket; }

   private:
    UDPBASE* m_base;
    OsSocket m_socket;
  };

  UDPMEMBERSHIPS m_memberships;
  std::atomic<OsSocket> m_socket{kOsInvalidSocket};
  std::atomic<int> m_users{0};
  int64_t m_receiveTimeoutUs = -1;  // the limit set on the socket (-1: none)

 public:
  IPADDRESS BoundAddr;
};

// The DMX receiver's packet buffer, and the process-wide pools it comes
// from. The pools live from library load to unload.
#pragma once

#include <cstddef>
#include <new>

#include "../../tvnLib/dynamic_pool.h"
#include "../../tvnLib/flist.h"
#include "rr_header.h"

// A list node, then the header and room for the largest datagram the
// receiver takes (1468 bytes). Its storage comes from the "RR_PACKET" pool
// and goes back there when the packet is destroyed.
class RR_PACKET : public FNODE {
 public:
  RR_PACKET() = default;
  ~RR_PACKET() override;

  static void* operator new(size_t size);
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* p);

  uint8_t* Datagram() { return reinterpret_cast<uint8_t*>(&header); }
  const uint8_t* Payload() const { return payload; }

  RrHeader header;
  uint8_t payload[kRrMaxPayload];
};

// On the 32-bit product the packet is the pool's 1484 bytes; 64-bit test
// builds have wider list pointers and size the pool to match.
static_assert(sizeof(void*) != 4 || sizeof(RR_PACKET) == 1484, "RR_PACKET is 1484 bytes");

DYNAMIC_POOL& RrPacketPool();      // "RR_PACKET": sizeof(RR_PACKET) bytes, 1024 per part
DYNAMIC_POOL& RrPacketListPool();  // "RR_PACKET_LIST": 16 bytes, 1024 per part

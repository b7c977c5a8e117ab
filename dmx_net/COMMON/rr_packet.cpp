#include "rr_packet.h"

namespace {
// Constructed while the library's static data is set up, before process
// attach; destroyed at unload, where blocks still in use are reported.
DYNAMIC_POOL g_rrPacketPool(static_cast<int32_t>(sizeof(RR_PACKET)), 1024, "RR_PACKET");
DYNAMIC_POOL g_rrPacketListPool(16, 1024, "RR_PACKET_LIST");
}  // namespace

DYNAMIC_POOL& RrPacketPool() { return g_rrPacketPool; }
DYNAMIC_POOL& RrPacketListPool() { return g_rrPacketListPool; }

RR_PACKET::~RR_PACKET() = default;

void* RR_PACKET::operator new(size_t size) {
  void* p = operator new(size, std::nothrow);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* RR_PACKET::operator new(size_t size, const std::nothrow_t&) noexcept {
  if (size > static_cast<size_t>(g_rrPacketPool.m_blockSize)) return nullptr;
  return g_rrPacketPool.Alloc();
}

void RR_PACKET::operator delete(void* p) {
  if (p != nullptr) g_rrPacketPool.Free(p);
}

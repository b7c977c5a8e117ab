#include "host_memory.h"

#include <cstring>

#include "../tvnLib/os.h"

bool HostRecordsReadable(const void* p, int64_t count, size_t size) {
  if (count <= 0) return true;
  if (p == nullptr) return false;
  const uint64_t bytes = static_cast<uint64_t>(count) * size;
  if (bytes > static_cast<uint64_t>(SIZE_MAX)) return false;
  return osMemoryReadable(p, static_cast<size_t>(bytes));
}

bool HostTextReadable(const char* text, size_t maxLength) {
  if (text == nullptr) return false;
  // Page by page, so that a text ending just before an unreadable page is
  // still accepted.
  const size_t kPage = 4096;
  size_t checked = 0;
  while (checked <= maxLength) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(text) + checked;
    const size_t chunk = kPage - (at % kPage);
    if (!osMemoryReadable(text + checked, chunk)) return false;
    if (std::memchr(text + checked, '\0', chunk) != nullptr) return true;
    checked += chunk;
  }
  return false;
}

// Checks of the buffers the host passes, made before the driver reads them,
// so that an unusable pointer or a count that reaches past readable memory
// is reported instead of faulting inside the host's process.
#pragma once

#include <cstddef>
#include <cstdint>

// True when `count` records of `size` bytes at `p` can be read (count <= 0
// needs nothing).
bool HostRecordsReadable(const void* p, int64_t count, size_t size);

// True when `text` is readable up to and including its terminator, which
// must come within `maxLength` characters.
bool HostTextReadable(const char* text, size_t maxLength = 4096);

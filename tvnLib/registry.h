// Reading the registry: a text value or a 32-bit value of a key. The driver
// only reads; it never creates or writes anything.
#pragma once

#include <cstdint>

#include "os.h"

// Opens `subkey` for reading, reads the value's size, allocates that many
// bytes (plus a terminator, so that the text is always terminated) and reads
// the value into them; the caller frees *out with delete[]. 0 when the key
// opened and the size was read, -1 otherwise (nothing allocated).
int RegReadString(OsRegRoot root, const char* name, char** out, const char* subkey);

// Opens `subkey` for reading and reads 4 bytes of the value. 0 on success;
// -1 otherwise, *out untouched.
int RegReadDword(OsRegRoot root, const char* name, uint32_t* out, const char* subkey);

// Figure 7 counts the C library's allocations by taking its place, which
// only the POSIX build can do.
#include <cstdio>

#include "../figures.h"

void AllocationFigures(int) { std::printf("allocations: counted on POSIX only\n"); }

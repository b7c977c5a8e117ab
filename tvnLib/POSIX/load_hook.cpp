// Process attach and detach of the shared library on POSIX: the library's
// load runs attach, its unload (or the process's normal end) runs detach.
//
// This file is linked last into the library, so that its static object is
// constructed after every other static object of the library (the console
// map, the echo ring, the packet pools) and destroyed before them: the same
// order that DllMain has on Windows.
#include <cstdio>

#include "../os.h"

namespace {

struct LoadHook {
  LoadHook() {
    attached = DriverProcessAttach();
    if (!attached) std::fprintf(stderr, "PvTrivane: the library could not start and stays inactive\n");
  }
  ~LoadHook() {
    if (attached) DriverProcessDetach(false);
  }
  bool attached = false;
};

LoadHook g_loadHook;

}  // namespace

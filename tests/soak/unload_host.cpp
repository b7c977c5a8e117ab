// A host that ends without Disconnect: it loads the driver by path,
// connects every configured console, waits the given milliseconds and then
// ends its process with the library loaded and its sessions running; or,
// with "thread", unloads the library from another thread than the one that
// loaded it (and owns the echo window), then serves that thread's window
// messages for a second before it ends.
//
//   unload_host LIBRARY DELAY_MS [thread]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/test_registry.h"
#include "tools/driver_api.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  UseParentTestRegistry();
  DriverApi api;
  std::string error;
  if (!api.Load(argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 3;
  }
  api.Init();
  static PDIList list;  // zeroed, being static
  for (int more = api.StartDetect(1, &list); more == 0;) more = api.ContinueDetect(1, &list);
  for (uint32_t i = 0; i < list.Count; ++i) api.Connect(&list.Records[i]);
  osPumpMessages(static_cast<uint32_t>(std::atoi(argv[2])));
  if (argc == 4 && std::strcmp(argv[3], "thread") == 0) {
    std::thread([&] { api.Unload(); }).join();
    osPumpMessages(1000);
  }
  return 0;
}

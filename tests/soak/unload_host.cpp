// A host that ends without Disconnect: it loads the driver by path,
// connects every configured console, waits the given milliseconds and then
// ends its process with the library loaded and its sessions running.
//
//   unload_host LIBRARY DELAY_MS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/test_registry.h"
#include "tools/driver_api.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  UseParentTestRegistry();
  DriverApi api;
  std::string error;
  if (!api.Load(argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 3;
  }
  api.Init();
  static PDIList list;
  std::memset(&list, 0, sizeof list);
  for (int more = api.StartDetect(1, &list); more == 0;) more = api.ContinueDetect(1, &list);
  for (uint32_t i = 0; i < list.Count; ++i) api.Connect(&list.Records[i]);
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
  return 0;
}

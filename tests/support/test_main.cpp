// The tests' main: an empty registry, sockets started and the runtime's
// task slot allocated, as after the library's attach.
#include <gtest/gtest.h>

#include <cstdlib>

#include "test_registry.h"
#include "tvnLib/lib_startup.h"
#include "tvnLib/os_net.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  UseEmptyTestRegistry();
  int major = 0;
  if (!osNetStartup(&major)) return 1;
  LibStartup();
  const int result = RUN_ALL_TESTS();
  // A failed run ends here: what a failure left behind may make the
  // shutdown assert, and the assertion ends the process with code 0.
  if (result != 0) std::_Exit(result);
  LibShutdown();
  osNetCleanup();
  return result;
}

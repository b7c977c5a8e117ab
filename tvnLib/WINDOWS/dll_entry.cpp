// The library entry point: process attach and detach go to the driver;
// thread attach and detach need nothing.
#include "win_common.h"

#include "../os.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return DriverProcessAttach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // A non-null `reserved` means the process is ending: its other threads
      // are gone already.
      DriverProcessDetach(reserved != nullptr);
      return TRUE;
    default:
      return TRUE;
  }
}

// Process attach and detach, and the lifecycle and identification exports.
#include "../sessions/port_map.h"
#include "../tvnLib/echo.h"
#include "../tvnLib/fault_points.h"
#include "../tvnLib/lib_startup.h"
#include "../tvnLib/dynamic_pool.h"
#include "../tvnLib/os.h"
#include "../tvnLib/os_net.h"
#include "driver_state.h"
#include "pvtrivane.h"
#include "settings.h"

namespace {
const char kBrandText[] = "PVT";
const char kSupportText[] = "For support please contact:\n\nHalvard Group Inc.\n\n";
}  // namespace

namespace {
// Whether attach succeeded: the system calls detach after a failed attach
// as well, which must then undo nothing (attach undid its own steps).
bool g_attached = false;
}  // namespace

bool DriverProcessAttach() {
  FaultsFromEnvironment();
  osStopCreatingThreads(false);
  int major = 0;
  if (!osNetStartup(&major)) {
    DriverMessageBox("Unable to start winsock", "Error");
    return false;
  }
  if (major < 2) {
    DriverMessageBox("Unable to get level 2 functionality from winsock2", "Error");
    osNetCleanup();
    return false;
  }
  const bool started = LibStartup() != 0;
  if (!started || FaultArmed(FaultPoint::AttachFails)) {
    if (started) LibShutdown();
    DriverMessageBox("Unable to init static tvnLib", "Error");
    osNetCleanup();
    return false;
  }
  DetectAutofocusSupport();
  g_attached = true;
  return true;
}

void DriverProcessDetach(bool processEnding) {
  if (!g_attached) return;
  g_attached = false;
  // No thread can start any more (at unload none could ever run): nothing
  // waits for one, and none is left behind.
  osStopCreatingThreads(true);
  if (processEnding) {
    // The process is ending and its other threads are gone: the sessions
    // cannot be stopped in order, and their memory goes with the process.
    PoolProcessEnding = true;
  } else {
    ClearPortMap();
  }
  LibShutdown();
  osNetCleanup();
}

PV_EXTERN_C void PV_CALL Init(void) {
  ReadSettings();
  EchoPrint("Init");
}

PV_EXTERN_C void PV_CALL Shutdown(void) { EchoPrint("Shutdown"); }

PV_EXTERN_C void PV_CALL GetVersionInfo(uint32_t* major, uint32_t* minor) {
  if (major == nullptr || minor == nullptr) {
    EchoPrint("GetVersionInfo: Exception");
    return;
  }
  *major = 3;
  *minor = (AutofocusMode & BLIND_AUTOFOCUS) != 0 ? 313 : 311;
}

PV_EXTERN_C uint32_t PV_CALL GetDriverCaps(void) {
  if ((AutofocusMode & BLIND_AUTOFOCUS) != 0) return 0x201;
  if ((AutofocusMode & MIDI_AUTOFOCUS) != 0) return 0x9;
  return 0x1;
}

PV_EXTERN_C int32_t PV_CALL GetBrandingString(int32_t id, const char** text) {
  if (id != PM_BRAND_AUTH_STR && id != PM_BRAND_SUPPORT_STR) return 0;
  if (text == nullptr) {
    EchoPrint("GetBrandingString: Exception");
    return 0;
  }
  if (id == PM_BRAND_AUTH_STR) {
    *text = kBrandText;
    EchoPrint("GetBrandingString: PM_BRAND_AUTH_STR %s", kBrandText);
  } else {
    *text = kSupportText;
    EchoPrint("GetBrandingString: PM_BRAND_SUPPORT_STR");
  }
  return 1;
}

PV_EXTERN_C void PV_CALL ServiceDevices(void) {
  const uint32_t previous = ServiceCount++;
  if (previous == 200) {
    ReadSettings();
    ServiceCount = 0;
  }
}

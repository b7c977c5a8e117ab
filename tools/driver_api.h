// The driver's 29 exports resolved by name from a loaded library, as the
// host application does it.
#pragma once

#include <string>

#include "../driver/pvtrivane.h"
#include "../tvnLib/os.h"

#define PV_EXPORT_LIST(X)                                                                              \
  X(Init) X(Shutdown) X(GetVersionInfo) X(GetDriverCaps) X(GetBrandingString) X(ServiceDevices)        \
  X(StartDetect) X(ContinueDetect) X(Connect) X(Disconnect) X(GetDevCaps) X(GetNumPorts)               \
  X(GetPortCaps) X(GetNumChannels) X(LockPortBuffer) X(GetPortBuffer) X(UnlockPortBuffer) X(SendMIDI)  \
  X(StartPatch) X(SendPatch) X(FinishPatch) X(ClearPatch) X(StartBlindAF) X(SendSpot)                  \
  X(SendStartChannel) X(SetBlindAFChannelData) X(FinishBlindAF) X(ClearBlindAF) X(SendBlindAFSelection)

struct DriverApi {
#define PV_API_FIELD(name) decltype(&::name) name = nullptr;
  PV_EXPORT_LIST(PV_API_FIELD)
#undef PV_API_FIELD

  OsLibrary library = nullptr;

  // Loads the library and resolves every export; false with `error` when
  // the library does not load or an export is missing.
  bool Load(const std::string& path, std::string* error);
  void Unload();
};

inline bool DriverApi::Load(const std::string& path, std::string* error) {
  library = osLibraryOpen(path.c_str());
  if (library == nullptr) {
    *error = "cannot load " + path + ": " + osLibraryError();
    return false;
  }
#define PV_API_RESOLVE(name)                                                           \
  name = reinterpret_cast<decltype(name)>(osLibrarySymbol(library, #name));            \
  if (name == nullptr) {                                                               \
    *error = "export " #name " is missing";                                            \
    return false;                                                                      \
  }
  PV_EXPORT_LIST(PV_API_RESOLVE)
#undef PV_API_RESOLVE
  return true;
}

inline void DriverApi::Unload() {
  if (library != nullptr) osLibraryClose(library);
  library = nullptr;
}

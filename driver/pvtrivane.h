/* PvTrivane: the driver's interface to its host.
 *
 * The 29 exported functions (cdecl, undecorated names) and the host records
 * they read and write. On the 32-bit product the records have exactly the
 * byte layout the host uses; the layout checks below hold on every target,
 * the pointer-bearing SelectionItem on 32-bit targets only. */
#ifndef PVTRIVANE_H
#define PVTRIVANE_H

#include <stddef.h>
#include <stdint.h>

#ifndef PV_CALL
#define PV_CALL /* cdecl, the default of C on the host's platform */
#endif
#ifndef PV_EXPORT
#define PV_EXPORT
#endif

#ifdef __cplusplus
#define PV_EXTERN_C extern "C"
#else
#define PV_EXTERN_C
#endif

#pragma pack(push, 1)

/* One device record of detection: 358 bytes. */
typedef struct PDI {
  uint16_t ManHdl;
  char Protocol[33];
  char Model[33];
  char Address[33];
  uint8_t Data[257]; /* Data[0]: the console number (255: not configured) */
} PDI;

/* The host's detection list: the records filled so far, then room for 32. */
typedef struct PDIList {
  uint32_t Count;
  PDI Records[32];
} PDIList;

#pragma pack(pop)

/* One patch part (logged only). */
typedef struct PatchPartInfo {
  int32_t CtrlChan;
  int32_t PortNum;
  int32_t DMXChan;
  int32_t NumChans;
} PatchPartInfo;

/* One blind-autofocus channel level; Channel counts from 1. */
typedef struct ChannelLevel {
  uint16_t Channel;
  uint8_t Level;
  uint8_t Unused;
} ChannelLevel;

/* One selected item of blind autofocus. */
typedef struct SelectionItem {
  const char* Type;
  int32_t Spot;
  int32_t NumParts;
  int32_t Status;
} SelectionItem;

#ifdef __cplusplus
static_assert(sizeof(PDI) == 358 && offsetof(PDI, Data) == 101, "PDI layout");
static_assert(offsetof(PDIList, Records) == 4 && sizeof(PDIList) == 4 + 32 * 358, "PDIList layout");
static_assert(sizeof(PatchPartInfo) == 16, "PatchPartInfo layout");
static_assert(sizeof(ChannelLevel) == 4 && offsetof(ChannelLevel, Level) == 2, "ChannelLevel layout");
static_assert(sizeof(void*) != 4 || (sizeof(SelectionItem) == 16 && offsetof(SelectionItem, Status) == 12),
              "SelectionItem layout");
#endif

enum { PM_BRAND_AUTH_STR = 1, PM_BRAND_SUPPORT_STR = 4 };

/* Driver entry, lifecycle and configuration */
PV_EXTERN_C PV_EXPORT void PV_CALL Init(void);
PV_EXTERN_C PV_EXPORT void PV_CALL Shutdown(void);
PV_EXTERN_C PV_EXPORT void PV_CALL GetVersionInfo(uint32_t* major, uint32_t* minor);
PV_EXTERN_C PV_EXPORT uint32_t PV_CALL GetDriverCaps(void);
PV_EXTERN_C PV_EXPORT int32_t PV_CALL GetBrandingString(int32_t id, const char** text);
PV_EXTERN_C PV_EXPORT void PV_CALL ServiceDevices(void);

/* Device detection and connection */
PV_EXTERN_C PV_EXPORT int32_t PV_CALL StartDetect(uint16_t manHdl, PDIList* list);
PV_EXTERN_C PV_EXPORT int32_t PV_CALL ContinueDetect(uint16_t manHdl, PDIList* list);
PV_EXTERN_C PV_EXPORT uint16_t PV_CALL Connect(PDI* pdi);
PV_EXTERN_C PV_EXPORT void PV_CALL Disconnect(uint16_t handle);
PV_EXTERN_C PV_EXPORT uint32_t PV_CALL GetDevCaps(void);
PV_EXTERN_C PV_EXPORT int32_t PV_CALL GetNumPorts(uint16_t handle);
PV_EXTERN_C PV_EXPORT uint32_t PV_CALL GetPortCaps(uint16_t handle, int32_t port);
PV_EXTERN_C PV_EXPORT int32_t PV_CALL GetNumChannels(uint16_t handle, int32_t port);

/* Port buffers */
PV_EXTERN_C PV_EXPORT int32_t PV_CALL LockPortBuffer(uint16_t handle, int32_t port);
PV_EXTERN_C PV_EXPORT int32_t PV_CALL GetPortBuffer(uint16_t handle, int32_t port, uint8_t** buffer);
PV_EXTERN_C PV_EXPORT int32_t PV_CALL UnlockPortBuffer(uint16_t handle, int32_t port);

/* Autofocus */
PV_EXTERN_C PV_EXPORT void PV_CALL SendMIDI(uint16_t handle, uint32_t unused, int32_t length, const uint8_t* message);
PV_EXTERN_C PV_EXPORT void PV_CALL StartPatch(void);
PV_EXTERN_C PV_EXPORT void PV_CALL SendPatch(uint16_t handle, const char* type, int32_t spot, int32_t numParts,
                                             const PatchPartInfo* parts);
PV_EXTERN_C PV_EXPORT void PV_CALL FinishPatch(void);
PV_EXTERN_C PV_EXPORT void PV_CALL ClearPatch(void);
PV_EXTERN_C PV_EXPORT void PV_CALL StartBlindAF(void);
PV_EXTERN_C PV_EXPORT void PV_CALL SendSpot(uint16_t handle, int32_t port, int32_t spot);
PV_EXTERN_C PV_EXPORT void PV_CALL SendStartChannel(uint16_t handle, int32_t port, int32_t startChannel);
PV_EXTERN_C PV_EXPORT void PV_CALL SetBlindAFChannelData(uint16_t handle, int32_t portNum, int32_t numChannels,
                                                         const ChannelLevel* levels);
PV_EXTERN_C PV_EXPORT void PV_CALL FinishBlindAF(void);
PV_EXTERN_C PV_EXPORT void PV_CALL ClearBlindAF(void);
PV_EXTERN_C PV_EXPORT void PV_CALL SendBlindAFSelection(uint16_t handle, int32_t count, const SelectionItem* items);

#endif

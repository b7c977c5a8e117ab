#include "driver_state.h"

#include "../sessions/ports.h"
#include "../tvnLib/ipaddress.h"
#include "../tvnLib/os.h"

uint32_t AutofocusMode = 0;
std::atomic<uint32_t> InterfaceAddr{MakeAddress(127, 0, 0, 255)};
char InterfaceText[19] = "";
uint32_t ConsoleNumbers[3] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
uint32_t ServiceCount = 0;
int32_t DetectIndex = 0;
uint32_t BlindAFSpot = 0xFFFFFFFFu;
int32_t BlindAFStartChannel = -1;
void (*DriverMessageBox)(const char* text, const char* caption) = osMessageBox;

uint32_t CurrentInterfaceAddr() { return InterfaceAddr.load(std::memory_order_relaxed); }

void ResetDriverState() {
  AutofocusMode = 0;
  InterfaceAddr = MakeAddress(127, 0, 0, 255);
  InterfaceText[0] = '\0';
  for (uint32_t& number : ConsoleNumbers) number = 0xFFFFFFFFu;
  ServiceCount = 0;
  DetectIndex = 0;
  BlindAFSpot = 0xFFFFFFFFu;
  BlindAFStartChannel = -1;
}

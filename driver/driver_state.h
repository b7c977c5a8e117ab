// The driver's process-wide values. The host calls the driver from one
// thread, so these have no lock; InterfaceAddr is also read by the session
// threads when they open or join, for which an atomic 32-bit store suffices.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t BLIND_AUTOFOCUS = 1;
constexpr uint32_t MIDI_AUTOFOCUS = 2;

// Settled once at process attach: BLIND_AUTOFOCUS, MIDI_AUTOFOCUS or 0.
extern uint32_t AutofocusMode;
// The local interface of all multicast (network order).
extern std::atomic<uint32_t> InterfaceAddr;
// The "ip" setting as read, at most 18 characters.
extern char InterfaceText[19];
// The console numbers of the three configured consoles (0xFFFFFFFF: none).
extern uint32_t ConsoleNumbers[3];
extern uint32_t ServiceCount;
// Consoles reported by the current detection run.
extern int32_t DetectIndex;
// Blind autofocus: the spot and start channel of the next channel data.
extern uint32_t BlindAFSpot;
extern int32_t BlindAFStartChannel;

// A port (universe) number the exports accept: 0 to 63, signed.
inline bool ValidPort(int32_t port) { return port >= 0 && port <= 63; }

// Shows a modal error message (osMessageBox); tests put a recorder here.
extern void (*DriverMessageBox)(const char* text, const char* caption);

// Puts every value back to its load-time state (tests).
void ResetDriverState();

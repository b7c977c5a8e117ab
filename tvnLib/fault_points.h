// Places where a test makes a thread of the driver pause or stick, so that
// the driver's answer to a slow or stuck thread (its bounded waits, its
// forced ends) can be reached on purpose and checked.
//
// All points are off unless a test arms one (FaultArm, any thread), or the
// environment variable PVTRIVANE_FAULTS names them when the library is
// loaded: "name[=ms],name..." (=ms pauses that long; a point without it
// sticks until disarmed or until its thread is ended). A point that is off
// costs one relaxed atomic load.
#pragma once

#include <cstdint>

enum class FaultPoint : int {
  AttachFails,          // process attach fails once the socket layer has started
  StartBeforeResume,    // CTASK::Start, between spawning the thread and resuming it
  TaskBeforeInit,       // a task's thread, before its Init
  StateRcvBeforeJoin,   // the state receiver, before it joins its group
  StateRcvInLoop,       // the state receiver's loop, inside its exception guard
  StopSnifferTaken,     // StopSniffer, the receiver taken out of use but not yet deleted
  HeartbeatInLoop,      // the heartbeat sender's loop, inside its exception guard
  DecodeHoldingLevels,  // the DMX receiver inside a decode, holding the levels' lock
  ReceiverNoPacket,     // the packet pool gives the DMX receiver nothing
  EchoLineHeld,         // an echo line being written, holding the echo's lock
  kCount
};

// Arms `point`: pause `ms` milliseconds there, or stick (ms < 0); only on
// the thread `threadId` when it is not 0.
void FaultArm(FaultPoint point, int32_t ms, uint32_t threadId = 0);
void FaultDisarmAll();
bool FaultArmed(FaultPoint point);
// Pauses or sticks when `point` is armed. Sticking waits in short sleeps,
// where a forced end can end the thread on every platform.
void FaultPause(FaultPoint point);
// Arms what PVTRIVANE_FAULTS names (the library's attach calls it).
void FaultsFromEnvironment();

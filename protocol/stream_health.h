// The DMX receiver's account of a console's stream, kept in the session's
// DMX_STATS: who sends to the console's group, which universes arrive and
// when, and the echo's lines when a second sender appears, when the stream
// stops for longer than kDmxLostMs and when it comes back.
//
// Runs on the receiver's task thread, once per receive pass. It reads the
// clock once and touches only the fixed counters of DMX_STATS (no
// allocation, no lock); EchoPrint runs only on the rare passes that write
// a line.
#pragma once

#include <cstdint>

#include "../tvnLib/os_net.h"
#include "dmx_stats.h"

// Silence after which a stream (or a universe) counts as lost.
constexpr uint32_t kDmxLostMs = 2000;

// One receive pass of the receiver that joined `group`: `length` bytes of
// `datagram` received as `info` tells, or 0 when its wait ended without one.
void NoteStreamHealth(DMX_STATS& stats, uint32_t group, const OsDatagram& info, const uint8_t* datagram, int length);

// The autofocus senders: they turn the host's autofocus data into console
// control packets, split long lists over several packets and send each
// packet under the session's SendLock. Called on the host's thread after
// the caller has found the session and checked the host's buffers.
#pragma once

#include <cstdint>

#include "../driver/pvtrivane.h"

class PORTS;

constexpr int kPairsPerPacket = 128;
constexpr int kSelectionsPerPacket = 64;

// REQUIRES: `message` is a validated MIDI autofocus message of 9..250 bytes.
void SendMidiAutofocus(PORTS* session, const uint8_t* message, int32_t length);
void SendAFDMX(PORTS* session, uint32_t spot, int32_t startChannel, int32_t port, int32_t count,
               const ChannelLevel* records);
void SendAFSelection(PORTS* session, int32_t count, const SelectionItem* items);

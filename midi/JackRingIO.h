#pragma once

// Byte moving between JACK MIDI port buffers and lock-free rings, for process callbacks: no
// allocation, no lock, no system call, nothing that logs. Shared by the JACK services and the
// virtual Karma's JACK program.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <cstddef>

namespace bq::midi {

// Written into a receive ring where events were lost: an undefined status byte, which breaks
// the SysEx message that lost bytes, so that it is not taken for a whole one.
constexpr unsigned char kJackLostBytesMark = 0xF4;

// Appends the bytes of the events of an input port's buffer to `ring`, event after event.
// At the first event that does not fit whole it stops, and the rest of the cycle is lost;
// returns false then. `lost` carries that state across cycles: while set, the mark goes into
// the ring before anything else, and events wait (are lost) until it fits.
bool JackEventsToRing(void* portBuffer, jack_ringbuffer_t* ring, bool* lost);

// Moves bytes from `ring` into an output port's buffer (cleared by the caller this cycle) as
// events at time 0, each as large as the buffer still takes and ending after an F7 at the
// latest, so that one event never carries the end of one message and the start of the next.
// What does not fit stays in the ring for the next cycle. Returns the bytes moved.
std::size_t JackRingToEvents(jack_ringbuffer_t* ring, void* portBuffer);

}  // namespace bq::midi

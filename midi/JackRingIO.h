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

// How JackRingToEvents sizes events. A long SysEx message goes out as several events of at
// most kJackMaxEventBytes each. An event is never as large as jack_midi_max_event_size():
// PipeWire's JACK library (before 1.4.3) writes an event of exactly that size one byte too low,
// over its own bookkeeping. And PipeWire copies the cycle's events into a buffer of the same
// size where each takes up to 16 bytes more (a larger header, padding to 8 bytes); a cycle that
// does not fit there is dropped whole. So each event leaves kJackEventHeadroom bytes free, plus
// kJackEventOverhead for every event already in the buffer.
constexpr std::size_t kJackMaxEventBytes = 4096;
constexpr std::size_t kJackEventHeadroom = 64;
constexpr std::size_t kJackEventOverhead = 16;

// Moves bytes from `ring` into an output port's buffer (cleared by the caller this cycle) as
// events at time 0, sized as above and ending after an F7 at the latest, so that one event
// never carries the end of one message and the start of the next. What does not fit stays in
// the ring for the next cycle. Returns the bytes moved.
std::size_t JackRingToEvents(jack_ringbuffer_t* ring, void* portBuffer);

}  // namespace bq::midi

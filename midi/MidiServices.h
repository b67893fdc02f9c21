#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace bq::midi {

// Result of a MIDI service call: 0 is success, anything else has an error text.
using MidiResult = std::uint32_t;

constexpr MidiResult MMSYSERR_NOERROR = 0;
constexpr MidiResult MMSYSERR_ERROR = 1;
constexpr MidiResult MMSYSERR_BADDEVICEID = 2;
constexpr MidiResult MMSYSERR_ALLOCATED = 4;
constexpr MidiResult MMSYSERR_INVALHANDLE = 5;
constexpr MidiResult MMSYSERR_NODRIVER = 6;
constexpr MidiResult MMSYSERR_NOMEM = 7;
constexpr MidiResult MMSYSERR_INVALPARAM = 11;
constexpr MidiResult MIDIERR_STILLPLAYING = 65;
constexpr MidiResult MIDIERR_NOTREADY = 67;

// Handles of open ports; 0 is "no port".
using HMIDIIN = std::uint32_t;
using HMIDIOUT = std::uint32_t;

// Messages that reach an input callback.
enum MidiInMessage : std::uint32_t {
    MIM_OPEN = 0x3C1,
    MIM_CLOSE = 0x3C2,
    MIM_DATA = 0x3C3,
    MIM_LONGDATA = 0x3C4,
    MIM_ERROR = 0x3C5,
    MIM_LONGERROR = 0x3C6,
};

// A queued input buffer. The owner changes with the unique_ptr: the backend holds it while
// queued and hands it back with MIM_LONGDATA, filled with `bytesRecorded` bytes.
struct MidiBuffer {
    explicit MidiBuffer(std::uint32_t size, std::uintptr_t userValue = 0)
        : data(new std::uint8_t[size]), length(size), user(userValue) {}
    std::unique_ptr<std::uint8_t[]> data;
    std::uint32_t length = 0;
    std::uint32_t bytesRecorded = 0;
    std::uintptr_t user = 0;
    std::uint32_t flags = 0;
};

// Called on the backend's own thread. `buffer` is set for MIM_LONGDATA and MIM_LONGERROR and
// belongs to the callback from then on: it may queue it again with InAddBuffer (allowed from
// inside the callback) or let it go. Must not block.
using MidiInProc = void (*)(HMIDIIN input, std::uint32_t message, std::uintptr_t instance,
                            std::unique_ptr<MidiBuffer> buffer);

// An auto-reset event that an output signals when it opens, when a long message has gone out
// (or failed: the result says which) and when it closes. Shared between the user-interface
// thread, which waits, and the backend's thread, which signals.
class MidiEvent {
public:
    virtual ~MidiEvent() = default;
    virtual void Signal(MidiResult result = MMSYSERR_NOERROR) = 0;
    virtual void Reset() = 0;
    // Waits up to `timeoutMs` (negative: without bound). True when signalled; the signal is
    // consumed and its result stored in *result.
    virtual bool Wait(int timeoutMs, MidiResult* result) = 0;
};

std::shared_ptr<MidiEvent> CreateMidiEvent();

// The MIDI services of the platform, one interface for every backend. All calls are made on
// the user-interface thread unless a comment says otherwise.
class IMidiServices {
public:
    virtual ~IMidiServices() = default;

    virtual std::uint32_t InGetNumDevs() = 0;
    virtual std::uint32_t OutGetNumDevs() = 0;
    // Product names, at most 31 characters.
    virtual MidiResult InGetDevCaps(std::uint32_t device, std::string* name) = 0;
    virtual MidiResult OutGetDevCaps(std::uint32_t device, std::string* name) = 0;

    virtual MidiResult InOpen(HMIDIIN* input, std::uint32_t device, MidiInProc callback,
                              std::uintptr_t instance) = 0;
    // Takes the buffer; on failure it is freed. May be called from the input callback.
    virtual MidiResult InAddBuffer(HMIDIIN input, std::unique_ptr<MidiBuffer> buffer) = 0;
    virtual MidiResult InStart(HMIDIIN input) = 0;
    virtual MidiResult InStop(HMIDIIN input) = 0;
    // Returns every queued buffer to the callback (with what it holds) before it returns.
    virtual MidiResult InReset(HMIDIIN input) = 0;
    virtual MidiResult InClose(HMIDIIN input) = 0;

    virtual MidiResult OutOpen(HMIDIOUT* output, std::uint32_t device,
                               std::shared_ptr<MidiEvent> event) = 0;
    // Starts sending one complete message (the bytes are copied) and signals the event when
    // it has gone out, or with an error when it cannot go out (port or server gone).
    virtual MidiResult OutLongMsg(HMIDIOUT output, const std::uint8_t* data,
                                  std::size_t length) = 0;
    // Abandons a send in progress; its event is signalled with an error.
    virtual MidiResult OutReset(HMIDIOUT output) = 0;
    virtual MidiResult OutClose(HMIDIOUT output) = 0;

    virtual std::string InGetErrorText(MidiResult result) = 0;
    virtual std::string OutGetErrorText(MidiResult result) = 0;

    // What carries the MIDI, for people (the About box); empty when there is nothing to say.
    virtual std::string DescribeServer() { return {}; }
};

}  // namespace bq::midi

#pragma once

// MIDI services on a JACK server. Inputs are the MIDI output ports of other JACK clients
// (hardware capture ports included), outputs are their MIDI input ports; this client's own
// ports are never listed. Each open input or output registers a port of its own and connects
// it to the chosen device port.
//
// Threads: the service calls come from the program's thread (InAddBuffer also from the input
// callback). JACK's process thread only moves bytes through preallocated rings and wakes the
// backend's worker thread when it has moved some; the worker filters received SysEx into the
// queued buffers, calls the input callbacks, feeds the output rings and signals the output
// events, and otherwise sleeps.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "midi/MidiServices.h"

namespace bq::midi {

// Result codes of this backend beyond the generic ones.
constexpr MidiResult JACKERR_NO_SERVER = 0x400;    // no server answered
constexpr MidiResult JACKERR_SERVER_GONE = 0x401;  // the server shut down or stopped answering
constexpr MidiResult JACKERR_PORT_GONE = 0x402;    // the device's port no longer exists
constexpr MidiResult JACKERR_REGISTER = 0x403;     // no port of our own could be made
constexpr MidiResult JACKERR_CONNECT = 0x404;      // our port could not be connected
constexpr MidiResult JACKERR_TOO_MANY = 0x405;     // every port slot is in use

// The text of jack_get_version_string() of the JACK library this program runs with: jackd's,
// or PipeWire's when it was started through pw-jack (see JackServerInfo.h).
std::string JackLibraryVersion();

class JackMidiServices final : public IMidiServices {
public:
    // `clientName` is the name asked of the server (it may add a suffix when taken). No
    // connection is made here: the first device count opens the client, and never starts or
    // waits for a server.
    explicit JackMidiServices(std::string clientName = "bankquill");
    ~JackMidiServices() override;

    // True while a client is open on a server that answers (opening one if need be).
    bool Connected();
    // How long a send waits for the server to run a process cycle before the server counts as
    // gone (default 10 s): a server that hangs without shutting down must not hold a send.
    void SetStallLimit(std::chrono::milliseconds limit);
    // How long a call waits for the backend's thread (default 10 s), which may be inside libjack
    // waiting for a server that hangs, before it fails (JACKERR_SERVER_GONE, no devices, not
    // connected): the program's thread never waits without a bound. An open that ends after
    // its call has failed is closed again.
    void SetCallLimit(std::chrono::milliseconds limit);

    std::uint32_t InGetNumDevs() override;
    std::uint32_t OutGetNumDevs() override;
    MidiResult InGetDevCaps(std::uint32_t device, std::string* name) override;
    MidiResult OutGetDevCaps(std::uint32_t device, std::string* name) override;
    MidiResult InOpen(HMIDIIN* input, std::uint32_t device, MidiInProc callback,
                      std::uintptr_t instance) override;
    MidiResult InAddBuffer(HMIDIIN input, std::unique_ptr<MidiBuffer> buffer) override;
    MidiResult InStart(HMIDIIN input) override;
    MidiResult InStop(HMIDIIN input) override;
    MidiResult InReset(HMIDIIN input) override;
    MidiResult InClose(HMIDIIN input) override;
    MidiResult OutOpen(HMIDIOUT* output, std::uint32_t device,
                       std::shared_ptr<MidiEvent> event) override;
    MidiResult OutLongMsg(HMIDIOUT output, const std::uint8_t* data, std::size_t length) override;
    MidiResult OutReset(HMIDIOUT output) override;
    MidiResult OutClose(HMIDIOUT output) override;
    std::string InGetErrorText(MidiResult result) override;
    std::string OutGetErrorText(MidiResult result) override;
    // The server and its version ("PipeWire 0.3.65", "jackd (JACK 1.9.21), server default"),
    // connecting if need be; says so when no server runs.
    std::string DescribeServer() override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace bq::midi

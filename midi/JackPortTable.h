#pragma once

// The ports of one direction that the JACK services registered for their open inputs or
// outputs: a fixed number of slots, each a port of ours with a preallocated ring, which the
// process callback serves without a lock. An input slot's ring carries what the port receives
// to the worker, an output slot's what the worker sends to the port.
//
// Threads: Process runs on JACK's real-time thread; everything else on the services' worker.
// A slot's `port` is published last (and cleared first), so the process thread sees either
// nothing or a port with its ring.

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "midi/JackClient.h"
#include "midi/MidiServices.h"

namespace bq::midi {

class JackPortTable {
public:
    static constexpr int kSlots = 64;

    enum class Direction { Input, Output };

    explicit JackPortTable(Direction direction) : m_input(direction == Direction::Input) {}
    // Frees the rings: the client is closed by then, so no process callback runs.
    ~JackPortTable();
    JackPortTable(const JackPortTable&) = delete;
    JackPortTable& operator=(const JackPortTable&) = delete;

    // JACK's real-time thread: moves the bytes of every published slot between its port and
    // its ring (an output's buffer is cleared every cycle); true when it moved any, or dropped
    // what a reset abandoned.
    bool Process(jack_nframes_t frames);

    // A free slot, or -1 when every one is in use.
    int Allocate() const;
    // Registers our port `ownName` in slot `index` (from Allocate), gives it a ring and connects
    // it to the device's port `theirs`, waiting for the server to report the connection. On
    // failure the slot is free again.
    MidiResult Open(JackClient& client, int index, const std::string& ownName,
                    const std::string& theirs);
    // Takes the slot's port away from the process callback, unregisters it (while the client is
    // open) and frees the slot.
    void Free(JackClient& client, int index);
    // Takes every port away from the process callback, for a client that is retired with them.
    void UnpublishAll();

    // Input slots: takes up to `size` received bytes; returns how many.
    std::size_t Read(int index, std::uint8_t* into, std::size_t size);
    // Output slots: puts as many of `size` bytes into the ring as there is room for; returns
    // how many.
    std::size_t Write(int index, const std::uint8_t* bytes, std::size_t size);
    // Output slots: bytes the process thread has taken from the ring since the slot opened.
    std::uint64_t Consumed(int index) const;
    // Output slots: drops what the ring holds at the next cycle (OutReset); until then nothing
    // new may go in.
    void Discard(int index);
    bool Discarding(int index) const;

private:
    struct Slot {
        std::atomic<jack_port_t*> port{nullptr};
        jack_ringbuffer_t* ring = nullptr;
        bool lost = false;                       // inputs: process thread only, while published
        std::atomic<std::uint64_t> consumed{0};  // outputs: bytes taken (sent or discarded)
        std::atomic<bool> discard{false};        // outputs: drop what the ring holds
        bool used = false;
    };

    bool ProcessInput(Slot& slot, void* buffer);
    bool ProcessOutput(Slot& slot, void* buffer);

    const bool m_input;
    Slot m_slots[kSlots];
};

}  // namespace bq::midi

#include "midi/JackPortTable.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>

#include "midi/JackMidiServices.h"
#include "midi/JackRingIO.h"

namespace bq::midi {
namespace {

// Room for bursts: a whole bank dump (146 kB) several times over.
constexpr std::size_t kRingBytes = 1u << 20;

}  // namespace

JackPortTable::~JackPortTable() {
    for (Slot& slot : m_slots) {
        if (slot.ring != nullptr) {
            jack_ringbuffer_free(slot.ring);
        }
    }
}

// JACK's real-time thread: ring copies only.
bool JackPortTable::Process(jack_nframes_t frames) {
    bool moved = false;
    for (Slot& slot : m_slots) {
        jack_port_t* port = slot.port.load();
        if (port == nullptr) {
            continue;
        }
        void* buffer = jack_port_get_buffer(port, frames);
        const bool slotMoved = m_input ? ProcessInput(slot, buffer) : ProcessOutput(slot, buffer);
        moved = moved || slotMoved;
    }
    return moved;
}

bool JackPortTable::ProcessInput(Slot& slot, void* buffer) {
    JackEventsToRing(buffer, slot.ring, &slot.lost);
    return jack_ringbuffer_read_space(slot.ring) != 0;
}

bool JackPortTable::ProcessOutput(Slot& slot, void* buffer) {
    jack_midi_clear_buffer(buffer);
    bool moved = false;
    std::uint64_t taken = 0;
    if (slot.discard.load()) {
        const std::size_t stale = jack_ringbuffer_read_space(slot.ring);
        jack_ringbuffer_read_advance(slot.ring, stale);
        taken += stale;
        slot.discard.store(false);
        moved = true;  // the worker waits for this before it writes again
    }
    taken += JackRingToEvents(slot.ring, buffer);
    if (taken != 0) {
        slot.consumed.fetch_add(taken);
        moved = true;
    }
    return moved;
}

int JackPortTable::Allocate() const {
    for (int i = 0; i < kSlots; ++i) {
        if (!m_slots[i].used) {
            return i;
        }
    }
    return -1;
}

MidiResult JackPortTable::Open(JackClient& client, int index, const std::string& ownName,
                               const std::string& theirs) {
    jack_client_t* jack = client.Get();
    jack_port_t* own = jack_port_register(jack, ownName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                          m_input ? JackPortIsInput : JackPortIsOutput, 0);
    if (own == nullptr) {
        return JACKERR_REGISTER;
    }
    jack_ringbuffer_t* ring = jack_ringbuffer_create(kRingBytes);
    if (ring == nullptr) {
        jack_port_unregister(jack, own);
        return MMSYSERR_NOMEM;
    }
    Slot& slot = m_slots[index];
    slot.ring = ring;
    slot.used = true;
    slot.consumed.store(0);
    // An output is published before it is connected: its buffer is cleared from now.
    slot.port.store(own);
    const int rc = m_input ? jack_connect(jack, theirs.c_str(), jack_port_name(own))
                           : jack_connect(jack, jack_port_name(own), theirs.c_str());
    if (rc != 0 && rc != EEXIST) {
        // PipeWire tells of a port's end in the background: it may have gone between the
        // caller's check and the connect, and by now its end has been reported.
        const bool vanished = !client.PortExists(theirs);
        Free(client, index);
        return vanished ? JACKERR_PORT_GONE : JACKERR_CONNECT;
    }
    client.WaitUntilConnected(own, theirs);
    return MMSYSERR_NOERROR;
}

void JackPortTable::Free(JackClient& client, int index) {
    Slot& slot = m_slots[index];
    jack_client_t* jack = client.Get();
    if (!m_input && jack != nullptr && slot.port.load() != nullptr) {
        // An output buffer that is no longer cleared would repeat its last events to whoever
        // is connected, so the connections go first.
        jack_port_disconnect(jack, slot.port.load());
    }
    jack_port_t* port = slot.port.exchange(nullptr);
    if (jack != nullptr) {
        client.WaitOutOfProcess();
        if (port != nullptr) {
            jack_port_unregister(jack, port);
        }
    }
    if (slot.ring != nullptr) {
        jack_ringbuffer_free(slot.ring);
        slot.ring = nullptr;
    }
    slot.lost = false;
    slot.consumed.store(0);
    slot.discard.store(false);
    slot.used = false;
}

void JackPortTable::UnpublishAll() {
    for (Slot& slot : m_slots) {
        slot.port.store(nullptr);
    }
}

std::size_t JackPortTable::Read(int index, std::uint8_t* into, std::size_t size) {
    return jack_ringbuffer_read(m_slots[index].ring, reinterpret_cast<char*>(into), size);
}

std::size_t JackPortTable::Write(int index, const std::uint8_t* bytes, std::size_t size) {
    jack_ringbuffer_t* ring = m_slots[index].ring;
    const std::size_t room = jack_ringbuffer_write_space(ring);
    return jack_ringbuffer_write(ring, reinterpret_cast<const char*>(bytes), std::min(room, size));
}

std::uint64_t JackPortTable::Consumed(int index) const {
    return m_slots[index].consumed.load();
}

void JackPortTable::Discard(int index) {
    m_slots[index].discard.store(true);
}

bool JackPortTable::Discarding(int index) const {
    return m_slots[index].discard.load();
}

}  // namespace bq::midi

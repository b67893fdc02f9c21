#include "midi/JackMidiServices.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/JackRingIO.h"
#include "midi/JackServerInfo.h"
#include "midi/MidiBackend.h"

namespace bq::midi {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSlots = 64;
// Room for bursts: a whole bank dump (146 kB) several times over.
constexpr std::size_t kRingBytes = 1u << 20;
constexpr std::size_t kMaxNameLength = 31;
// How long an open waits for the server to report its new connection.
constexpr std::chrono::seconds kLinkWait{2};
// A send waits for process cycles; when none has run for this long the server is treated as
// gone, so that no send waits forever on a server that hangs without shutting down.
constexpr std::chrono::milliseconds kDefaultStallLimit{10000};

void SilentJackMessage(const char*) {}

// One open port's side of the process callback. `port` is published last (and cleared first),
// so the process thread sees either nothing or a port with its ring.
struct InSlot {
    std::atomic<jack_port_t*> port{nullptr};
    jack_ringbuffer_t* ring = nullptr;
    bool lost = false;  // process thread only, while the port is published
    bool used = false;
};

struct OutSlot {
    std::atomic<jack_port_t*> port{nullptr};
    jack_ringbuffer_t* ring = nullptr;
    std::atomic<std::uint64_t> consumed{0};  // bytes taken from the ring (sent or discarded)
    std::atomic<bool> discard{false};        // drop what the ring holds (OutReset)
    bool used = false;
};

}  // namespace

struct JackMidiServices::Impl {
    struct Input {
        int slot = -1;  // -1 once the server has gone: the handle only awaits closing
        std::shared_ptr<SysExInput> port;
    };
    struct Pending {
        std::vector<std::uint8_t> bytes;
        std::size_t written = 0;  // into the ring
        std::uint64_t end = 0;    // ring position after its last byte, once all are written
    };
    struct Output {
        int slot = -1;
        std::shared_ptr<MidiEvent> event;
        std::deque<Pending> queue;
        std::uint64_t ringWritten = 0;
    };

    explicit Impl(std::string name);
    ~Impl();

    static int Process(jack_nframes_t frames, void* arg);
    static void Shutdown(jack_status_t code, const char* reason, void* arg);
    static void PlainShutdown(void* arg) { Shutdown({}, nullptr, arg); }
    static void PortConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* arg);

    bool EnsureClient();
    void DropClient();
    void Enumerate(unsigned long direction, std::vector<std::string>* names);
    std::vector<std::string>& KnownDevices(bool input);
    MidiResult OpenPort(bool input, std::uint32_t device, std::uint32_t* handle, int* slot);
    void WaitUntilConnected(jack_port_t* own, const std::string& theirs);
    void NotifyLinks();
    void WaitOutOfProcess();
    int AllocateInSlot();
    int AllocateOutSlot();
    void FreeInSlot(int slot);
    void FreeOutSlot(int slot);
    void FailSends(Output& output, MidiResult result);
    void FeedOutput(Output& output);
    int Poll();

    std::string clientName;
    jack_client_t* client = nullptr;  // worker thread only
    std::atomic<bool> gone{false};
    // Counts the server's connection reports (libjack's notification thread), so that an open
    // can wait for its own.
    std::mutex linkMutex;
    std::condition_variable linkChanged;
    std::uint64_t linkEvents = 0;
    std::atomic<std::uint64_t> cycles{0};  // odd while the process callback runs
    std::uint64_t lastCycles = 0;
    Clock::time_point lastProgress{};
    std::chrono::milliseconds stallLimit = kDefaultStallLimit;

    std::vector<std::string> inNames;
    std::vector<std::string> outNames;
    bool inEnumerated = false;
    bool outEnumerated = false;

    InSlot inSlots[kSlots];
    OutSlot outSlots[kSlots];
    std::map<HMIDIIN, Input> inputs;
    std::map<HMIDIOUT, Output> outputs;
    std::uint32_t nextHandle = 1;
    std::vector<std::uint8_t> scratch = std::vector<std::uint8_t>(65536);

    // Last member: its thread stops before the state above goes away.
    BackendWorker worker;

    // Runs `action` on the worker thread with the entry of an open input or output; an unknown
    // handle gives MMSYSERR_INVALHANDLE. The action gets the iterator, so it may erase it.
    template <typename Ports, typename Action>
    MidiResult WithPort(Ports& ports, std::uint32_t handle, Action action) {
        MidiResult result = MMSYSERR_INVALHANDLE;
        worker.RunSync([&] {
            auto it = ports.find(handle);
            if (it != ports.end()) {
                result = action(it);
            }
        });
        return result;
    }
};

JackMidiServices::Impl::Impl(std::string name)
    : clientName(std::move(name)), worker([this] { return Poll(); }) {
    static std::once_flag silenced;
    // libjack prints to stderr when no server runs, which is an ordinary state here.
    std::call_once(silenced, [] {
        jack_set_error_function(SilentJackMessage);
        jack_set_info_function(SilentJackMessage);
    });
}

JackMidiServices::Impl::~Impl() {
    worker.Stop();
    for (auto& [handle, output] : outputs) {
        FailSends(output, MIDIERR_SEND_ABANDONED);
    }
    if (client != nullptr) {
        jack_client_close(client);  // stops the process thread and drops our ports
        client = nullptr;
    }
    for (auto& slot : inSlots) {
        if (slot.ring != nullptr) {
            jack_ringbuffer_free(slot.ring);
        }
    }
    for (auto& slot : outSlots) {
        if (slot.ring != nullptr) {
            jack_ringbuffer_free(slot.ring);
        }
    }
}

// JACK's real-time thread: ring copies only.
int JackMidiServices::Impl::Process(jack_nframes_t frames, void* arg) {
    auto* impl = static_cast<Impl*>(arg);
    impl->cycles.fetch_add(1);
    for (InSlot& slot : impl->inSlots) {
        jack_port_t* port = slot.port.load();
        if (port == nullptr) {
            continue;
        }
        JackEventsToRing(jack_port_get_buffer(port, frames), slot.ring, &slot.lost);
    }
    for (OutSlot& slot : impl->outSlots) {
        jack_port_t* port = slot.port.load();
        if (port == nullptr) {
            continue;
        }
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        std::uint64_t taken = 0;
        if (slot.discard.load()) {
            const std::size_t stale = jack_ringbuffer_read_space(slot.ring);
            jack_ringbuffer_read_advance(slot.ring, stale);
            taken += stale;
            slot.discard.store(false);
        }
        taken += JackRingToEvents(slot.ring, buffer);
        if (taken != 0) {
            slot.consumed.fetch_add(taken);
        }
    }
    impl->cycles.fetch_add(1);
    return 0;
}

// A libjack thread, when the server shuts down or throws this client out.
void JackMidiServices::Impl::Shutdown(jack_status_t, const char*, void* arg) {
    auto* impl = static_cast<Impl*>(arg);
    impl->gone.store(true);
    impl->NotifyLinks();
    impl->worker.Wake();
}

// libjack's notification thread, never the process thread.
void JackMidiServices::Impl::PortConnect(jack_port_id_t, jack_port_id_t, int, void* arg) {
    static_cast<Impl*>(arg)->NotifyLinks();
}

void JackMidiServices::Impl::NotifyLinks() {
    {
        std::lock_guard lock(linkMutex);
        ++linkEvents;
    }
    linkChanged.notify_all();
}

// Worker thread. jackd has made the connection when jack_connect returns; PipeWire makes it in
// the background, and bytes written to the port before it carries them are lost (the first
// Identity Request of a search, say). So an open returns once the server reports the
// connection, or after kLinkWait. libjack is not called under linkMutex: its notification
// thread may hold libjack's own locks while it waits for ours.
void JackMidiServices::Impl::WaitUntilConnected(jack_port_t* own, const std::string& theirs) {
    const auto deadline = Clock::now() + kLinkWait;
    std::uint64_t seen = 0;
    {
        std::lock_guard lock(linkMutex);
        seen = linkEvents;
    }
    while (!jack_port_connected_to(own, theirs.c_str()) && !gone.load()) {
        std::unique_lock lock(linkMutex);
        if (!linkChanged.wait_until(lock, deadline, [&] { return linkEvents != seen; })) {
            return;
        }
        seen = linkEvents;
    }
}

bool JackMidiServices::Impl::EnsureClient() {
    if (client != nullptr && gone.load()) {
        DropClient();
    }
    if (client != nullptr) {
        return true;
    }
    jack_status_t status{};
    // Never start a server, never wait for one: without a server there are no devices.
    client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        return false;
    }
    gone.store(false);
    cycles.store(0);
    lastCycles = 0;
    lastProgress = Clock::now();
    jack_set_process_callback(client, &Impl::Process, this);
    jack_on_info_shutdown(client, &Impl::Shutdown, this);
    // PipeWire's JACK library calls only this one when its server ends; jackd's only the other.
    jack_on_shutdown(client, &Impl::PlainShutdown, this);
    jack_set_port_connect_callback(client, &Impl::PortConnect, this);
    if (jack_activate(client) != 0) {
        jack_client_close(client);
        client = nullptr;
        return false;
    }
    return true;
}

void JackMidiServices::Impl::DropClient() {
    for (auto& [handle, output] : outputs) {
        FailSends(output, JACKERR_SERVER_GONE);
    }
    if (client != nullptr) {
        jack_client_close(client);  // after this no process callback runs
        client = nullptr;
    }
    // Open handles stay until the program closes them, without ports.
    for (auto& [handle, input] : inputs) {
        if (input.slot >= 0) {
            FreeInSlot(input.slot);
            input.slot = -1;
        }
    }
    for (auto& [handle, output] : outputs) {
        if (output.slot >= 0) {
            FreeOutSlot(output.slot);
            output.slot = -1;
        }
    }
    inNames.clear();
    outNames.clear();
    inEnumerated = outEnumerated = false;
}

void JackMidiServices::Impl::Enumerate(unsigned long direction, std::vector<std::string>* names) {
    names->clear();
    if (!EnsureClient()) {
        return;
    }
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, direction);
    if (ports == nullptr) {
        return;
    }
    for (const char** name = ports; *name != nullptr; ++name) {
        jack_port_t* port = jack_port_by_name(client, *name);
        if (port != nullptr && jack_port_is_mine(client, port)) {
            continue;
        }
        names->emplace_back(*name);
    }
    jack_free(ports);
}

// The devices of one direction as last listed; listed now when they never were.
std::vector<std::string>& JackMidiServices::Impl::KnownDevices(bool input) {
    std::vector<std::string>& names = input ? inNames : outNames;
    bool& enumerated = input ? inEnumerated : outEnumerated;
    if (!enumerated) {
        // Our inputs read from the server's output ports, and the other way round.
        Enumerate(input ? JackPortIsOutput : JackPortIsInput, &names);
        enumerated = true;
    }
    return names;
}

// Worker thread. Registers our own port for `device`, gives it a ring in a free slot and connects
// it to the device's port; on success the new handle and its slot are returned through the
// pointers.
MidiResult JackMidiServices::Impl::OpenPort(bool input, std::uint32_t device, std::uint32_t* handle,
                                            int* slot) {
    if (!EnsureClient()) {
        return JACKERR_NO_SERVER;
    }
    const std::vector<std::string>& names = KnownDevices(input);
    if (device >= names.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    const std::string& theirs = names[device];
    if (jack_port_by_name(client, theirs.c_str()) == nullptr) {
        return JACKERR_PORT_GONE;
    }
    const int index = input ? AllocateInSlot() : AllocateOutSlot();
    if (index < 0) {
        return JACKERR_TOO_MANY;
    }
    const std::uint32_t id = nextHandle++;
    const std::string portName = (input ? "in_" : "out_") + std::to_string(id);
    jack_port_t* own = jack_port_register(client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                          input ? JackPortIsInput : JackPortIsOutput, 0);
    if (own == nullptr) {
        return JACKERR_REGISTER;
    }
    jack_ringbuffer_t* ring = jack_ringbuffer_create(kRingBytes);
    if (ring == nullptr) {
        jack_port_unregister(client, own);
        return MMSYSERR_NOMEM;
    }
    int rc = 0;
    if (input) {
        InSlot& s = inSlots[index];
        s.ring = ring;
        s.used = true;
        s.port.store(own);
        rc = jack_connect(client, theirs.c_str(), jack_port_name(own));
    } else {
        OutSlot& s = outSlots[index];
        s.ring = ring;
        s.used = true;
        s.consumed.store(0);
        s.port.store(own);  // published before it is connected: its buffer is cleared from now
        rc = jack_connect(client, jack_port_name(own), theirs.c_str());
    }
    if (rc != 0 && rc != EEXIST) {
        // PipeWire tells of a port's end in the background: it may have gone between the check
        // above and the connect, and by now its end has been reported.
        const bool vanished = jack_port_by_name(client, theirs.c_str()) == nullptr;
        if (input) {
            FreeInSlot(index);
        } else {
            FreeOutSlot(index);
        }
        return vanished ? JACKERR_PORT_GONE : JACKERR_CONNECT;
    }
    WaitUntilConnected(own, theirs);
    *handle = id;
    *slot = index;
    return MMSYSERR_NOERROR;
}

void JackMidiServices::Impl::WaitOutOfProcess() {
    // The port was cleared before this read: a callback that starts later cannot see it, and
    // one that runs now is waited for.
    const std::uint64_t seen = cycles.load();
    if ((seen & 1) == 0) {
        return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (cycles.load() == seen && !gone.load() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

int JackMidiServices::Impl::AllocateInSlot() {
    for (int i = 0; i < kSlots; ++i) {
        if (!inSlots[i].used) {
            return i;
        }
    }
    return -1;
}

int JackMidiServices::Impl::AllocateOutSlot() {
    for (int i = 0; i < kSlots; ++i) {
        if (!outSlots[i].used) {
            return i;
        }
    }
    return -1;
}

void JackMidiServices::Impl::FreeInSlot(int index) {
    InSlot& slot = inSlots[index];
    jack_port_t* port = slot.port.exchange(nullptr);
    if (client != nullptr) {
        WaitOutOfProcess();
        if (port != nullptr) {
            jack_port_unregister(client, port);
        }
    }
    if (slot.ring != nullptr) {
        jack_ringbuffer_free(slot.ring);
        slot.ring = nullptr;
    }
    slot.lost = false;
    slot.used = false;
}

void JackMidiServices::Impl::FreeOutSlot(int index) {
    OutSlot& slot = outSlots[index];
    if (client != nullptr && slot.port.load() != nullptr) {
        // An output buffer that is no longer cleared would repeat its last events to whoever
        // is connected, so the connections go first.
        jack_port_disconnect(client, slot.port.load());
    }
    jack_port_t* port = slot.port.exchange(nullptr);
    if (client != nullptr) {
        WaitOutOfProcess();
        if (port != nullptr) {
            jack_port_unregister(client, port);
        }
    }
    if (slot.ring != nullptr) {
        jack_ringbuffer_free(slot.ring);
        slot.ring = nullptr;
    }
    slot.consumed.store(0);
    slot.discard.store(false);
    slot.used = false;
}

void JackMidiServices::Impl::FailSends(Output& output, MidiResult result) {
    if (!output.queue.empty()) {
        output.queue.clear();
        output.event->Signal(result);
    }
}

void JackMidiServices::Impl::FeedOutput(Output& output) {
    if (output.slot < 0) {
        return;
    }
    OutSlot& slot = outSlots[output.slot];
    // Nothing new goes in until the process thread has dropped what a reset abandoned.
    if (!slot.discard.load()) {
        for (Pending& pending : output.queue) {
            if (pending.written < pending.bytes.size()) {
                const std::size_t room = jack_ringbuffer_write_space(slot.ring);
                const std::size_t size = std::min(room, pending.bytes.size() - pending.written);
                jack_ringbuffer_write(
                    slot.ring,
                    reinterpret_cast<const char*>(pending.bytes.data() + pending.written), size);
                pending.written += size;
                output.ringWritten += size;
                if (pending.written < pending.bytes.size()) {
                    break;
                }
                pending.end = output.ringWritten;
            }
        }
    }
    const std::uint64_t consumed = slot.consumed.load();
    while (!output.queue.empty()) {
        const Pending& front = output.queue.front();
        if (front.written < front.bytes.size() || consumed < front.end) {
            break;
        }
        output.queue.pop_front();
        output.event->Signal(MMSYSERR_NOERROR);  // its last byte is in a port buffer
    }
}

int JackMidiServices::Impl::Poll() {
    if (client == nullptr) {
        return -1;
    }
    if (gone.load()) {
        DropClient();
        return -1;
    }
    // Received bytes first (no callback runs while the rings are read), then the callbacks:
    // a callback may close its own input, which frees the ring.
    std::vector<std::shared_ptr<SysExInput>> ports;
    for (auto& [handle, input] : inputs) {
        if (input.slot >= 0) {
            jack_ringbuffer_t* ring = inSlots[input.slot].ring;
            while (std::size_t n = jack_ringbuffer_read(
                       ring, reinterpret_cast<char*>(scratch.data()), scratch.size())) {
                input.port->Feed(scratch.data(), n);
            }
        }
        ports.push_back(input.port);
    }
    for (auto& port : ports) {
        port->Pump();
    }

    bool sending = false;
    for (auto& [handle, output] : outputs) {
        FeedOutput(output);
        sending = sending || !output.queue.empty();
    }
    const std::uint64_t now = cycles.load();
    if (now != lastCycles || !sending) {
        lastCycles = now;
        lastProgress = Clock::now();
    } else if (Clock::now() - lastProgress > stallLimit) {
        gone.store(true);  // a send would wait forever on a server that no longer runs us
        DropClient();
        return -1;
    }
    return inputs.empty() && outputs.empty() ? -1 : 1;
}

// ---- the services ----

namespace {

std::string JackErrorText(MidiResult result) {
    switch (result) {
        case JACKERR_NO_SERVER:
            return "The JACK server is not running.";
        case JACKERR_SERVER_GONE:
            return "The JACK server has shut down or stopped responding.";
        case JACKERR_PORT_GONE:
            return "The MIDI port of this device no longer exists.";
        case JACKERR_REGISTER:
            return "The JACK server could not create a MIDI port for this program.";
        case JACKERR_CONNECT:
            return "The JACK server could not connect this program to the MIDI port.";
        case JACKERR_TOO_MANY:
            return "Too many MIDI ports are open at once.";
        default:
            return StandardMidiErrorText(result);
    }
}

}  // namespace

std::string JackLibraryVersion() {
    const char* text = jack_get_version_string();
    return text != nullptr ? text : "";
}

JackMidiServices::JackMidiServices(std::string clientName)
    : m_impl(std::make_unique<Impl>(std::move(clientName))) {}

JackMidiServices::~JackMidiServices() = default;

bool JackMidiServices::Connected() {
    bool connected = false;
    m_impl->worker.RunSync([&] { connected = m_impl->EnsureClient(); });
    return connected;
}

void JackMidiServices::SetStallLimit(std::chrono::milliseconds limit) {
    m_impl->worker.RunSync([&] { m_impl->stallLimit = limit; });
}

std::uint32_t JackMidiServices::InGetNumDevs() {
    std::uint32_t count = 0;
    m_impl->worker.RunSync([&] {
        m_impl->Enumerate(JackPortIsOutput, &m_impl->inNames);
        m_impl->inEnumerated = true;
        count = static_cast<std::uint32_t>(m_impl->inNames.size());
    });
    return count;
}

std::uint32_t JackMidiServices::OutGetNumDevs() {
    std::uint32_t count = 0;
    m_impl->worker.RunSync([&] {
        m_impl->Enumerate(JackPortIsInput, &m_impl->outNames);
        m_impl->outEnumerated = true;
        count = static_cast<std::uint32_t>(m_impl->outNames.size());
    });
    return count;
}

MidiResult JackMidiServices::InGetDevCaps(std::uint32_t device, std::string* name) {
    if (name == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    MidiResult result = MMSYSERR_NOERROR;
    m_impl->worker.RunSync([&] {
        const std::vector<std::string>& names = m_impl->KnownDevices(true);
        if (device >= names.size()) {
            result = MMSYSERR_BADDEVICEID;
        } else {
            *name = names[device].substr(0, kMaxNameLength);
        }
    });
    return result;
}

MidiResult JackMidiServices::OutGetDevCaps(std::uint32_t device, std::string* name) {
    if (name == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    MidiResult result = MMSYSERR_NOERROR;
    m_impl->worker.RunSync([&] {
        const std::vector<std::string>& names = m_impl->KnownDevices(false);
        if (device >= names.size()) {
            result = MMSYSERR_BADDEVICEID;
        } else {
            *name = names[device].substr(0, kMaxNameLength);
        }
    });
    return result;
}

MidiResult JackMidiServices::InOpen(HMIDIIN* input, std::uint32_t device, MidiInProc callback,
                                    std::uintptr_t instance) {
    if (input == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    MidiResult result = MMSYSERR_NOERROR;
    Impl& d = *m_impl;
    d.worker.RunSync([&] {
        HMIDIIN handle = 0;
        int slot = -1;
        result = d.OpenPort(true, device, &handle, &slot);
        if (result != MMSYSERR_NOERROR) {
            return;
        }
        auto port = std::make_shared<SysExInput>(handle, callback, instance);
        d.inputs[handle] = Impl::Input{slot, port};
        *input = handle;
        port->Notify(MIM_OPEN);
    });
    return result;
}

MidiResult JackMidiServices::InAddBuffer(HMIDIIN input, std::unique_ptr<MidiBuffer> buffer) {
    return m_impl->WithPort(m_impl->inputs, input, [&](auto it) {
        if (!buffer || !buffer->data || buffer->length == 0) {
            return MMSYSERR_INVALPARAM;
        }
        it->second.port->AddBuffer(std::move(buffer));
        return MMSYSERR_NOERROR;
    });  // on failure `buffer` is freed here
}

MidiResult JackMidiServices::InStart(HMIDIIN input) {
    return m_impl->WithPort(m_impl->inputs, input, [&](auto it) {
        if (it->second.slot < 0 || m_impl->gone.load()) {
            return JACKERR_SERVER_GONE;
        }
        it->second.port->Start();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InStop(HMIDIIN input) {
    return m_impl->WithPort(m_impl->inputs, input, [](auto it) {
        std::shared_ptr<SysExInput> port = it->second.port;
        port->Stop();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InReset(HMIDIIN input) {
    return m_impl->WithPort(m_impl->inputs, input, [](auto it) {
        std::shared_ptr<SysExInput> port = it->second.port;
        port->Reset();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InClose(HMIDIIN input) {
    return m_impl->WithPort(m_impl->inputs, input, [&](auto it) {
        if (it->second.port->QueuedBuffers() > 0) {
            return MIDIERR_STILLPLAYING;  // the program must reset it first
        }
        if (it->second.slot >= 0) {
            m_impl->FreeInSlot(it->second.slot);
        }
        std::shared_ptr<SysExInput> port = it->second.port;
        m_impl->inputs.erase(it);
        port->Notify(MIM_CLOSE);
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutOpen(HMIDIOUT* output, std::uint32_t device,
                                     std::shared_ptr<MidiEvent> event) {
    if (output == nullptr || !event) {
        return MMSYSERR_INVALPARAM;
    }
    MidiResult result = MMSYSERR_NOERROR;
    Impl& d = *m_impl;
    d.worker.RunSync([&] {
        HMIDIOUT handle = 0;
        int slot = -1;
        result = d.OpenPort(false, device, &handle, &slot);
        if (result != MMSYSERR_NOERROR) {
            return;
        }
        Impl::Output out;
        out.slot = slot;
        out.event = event;
        d.outputs[handle] = std::move(out);
        *output = handle;
        event->Signal();  // an output's event is signalled when it opens
    });
    return result;
}

MidiResult JackMidiServices::OutLongMsg(HMIDIOUT output, const std::uint8_t* data,
                                        std::size_t length) {
    return m_impl->WithPort(m_impl->outputs, output, [&](auto it) {
        if (data == nullptr || length == 0) {
            return MMSYSERR_INVALPARAM;
        }
        if (it->second.slot < 0 || m_impl->gone.load()) {
            return JACKERR_SERVER_GONE;
        }
        Impl::Output& out = it->second;
        if (out.queue.empty()) {
            m_impl->lastProgress = Clock::now();  // the stall clock starts with the send
        }
        out.queue.push_back(Impl::Pending{std::vector<std::uint8_t>(data, data + length)});
        m_impl->FeedOutput(out);
        m_impl->worker.Wake();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutReset(HMIDIOUT output) {
    return m_impl->WithPort(m_impl->outputs, output, [&](auto it) {
        Impl::Output& out = it->second;
        if (!out.queue.empty()) {
            m_impl->FailSends(out, MIDIERR_SEND_ABANDONED);
            if (out.slot >= 0) {
                m_impl->outSlots[out.slot].discard.store(true);
            }
        }
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutClose(HMIDIOUT output) {
    return m_impl->WithPort(m_impl->outputs, output, [&](auto it) {
        if (!it->second.queue.empty()) {
            return MIDIERR_STILLPLAYING;  // reset it first
        }
        if (it->second.slot >= 0) {
            m_impl->FreeOutSlot(it->second.slot);
        }
        std::shared_ptr<MidiEvent> event = it->second.event;
        m_impl->outputs.erase(it);
        event->Signal();  // and when it closes
        return MMSYSERR_NOERROR;
    });
}

std::string JackMidiServices::InGetErrorText(MidiResult result) {
    return JackErrorText(result);
}

std::string JackMidiServices::OutGetErrorText(MidiResult result) {
    return JackErrorText(result);
}

std::string JackMidiServices::DescribeServer() {
    bool connected = false;
    m_impl->worker.RunSync([&] { connected = m_impl->EnsureClient(); });
    if (!connected) {
        return "No JACK server is running.";
    }
    // jackd's library picks its server by this name; PipeWire's has none.
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    return DescribeJackServer(JackLibraryVersion(), server != nullptr ? server : "");
}

}  // namespace bq::midi

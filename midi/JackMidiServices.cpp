#include "midi/JackMidiServices.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <sys/syscall.h>
#include <unistd.h>

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
// How long the program's thread waits for a call that the worker runs (it may be inside libjack,
// waiting for a server that hangs) before the call fails.
constexpr std::chrono::milliseconds kDefaultCallLimit{10000};
// A client whose server has ended is closed once libjack's threads that reported the end have
// left; they are looked for this often, and given this long.
constexpr int kRetireCheckMs = 2;
constexpr std::chrono::seconds kRetireLimit{5};

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
    bool CloseRetired();
    bool ShutdownThreadsLeft() const;
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
    std::chrono::milliseconds CallLimit() const {
        return std::chrono::milliseconds(callLimitMs.load());
    }

    std::string clientName;
    jack_client_t* client = nullptr;  // worker thread only
    std::atomic<bool> gone{false};
    // jackd's library cancels its own threads in jack_client_close, and asynchronously: a thread
    // cancelled on its way out, inside the allocator, leaves the allocator's lock held for good.
    // After the server's end the thread that reported it is on its way out, so that client is
    // closed only once the thread has left (PipeWire's library joins its threads instead).
    const bool closeCancelsThreads;
    // Kernel ids of the threads that ran a shutdown callback of the current client (jackd's
    // library may call both kinds, from one thread).
    std::atomic<pid_t> shutdownThreads[2] = {};
    jack_client_t* retired = nullptr;  // worker thread only: ended, awaiting its close
    Clock::time_point retiredSince{};
    // Counts the server's connection reports (libjack's notification thread), so that an open
    // can wait for its own.
    std::mutex linkMutex;
    std::condition_variable linkChanged;
    std::uint64_t linkEvents = 0;
    std::atomic<std::uint64_t> cycles{0};  // odd while the process callback runs
    std::uint64_t lastCycles = 0;
    Clock::time_point lastProgress{};
    std::atomic<std::int64_t> stallLimitMs{kDefaultStallLimit.count()};
    std::atomic<std::int64_t> callLimitMs{kDefaultCallLimit.count()};

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

    // Runs `fn` on the worker and returns what it returns; `failed` when it does not end within
    // the call limit (see BackendWorker::Call, which also says when `undo` runs). `fn` owns what
    // it uses: the caller may have gone on when it runs.
    template <typename R, typename F>
    R Ask(R failed, F fn, std::function<void()> undo = {}) {
        auto result = std::make_shared<R>(failed);
        const bool ended = worker.Call([result, fn = std::move(fn)]() mutable { *result = fn(); },
                                       CallLimit(), std::move(undo));
        return ended ? *result : failed;
    }

    // Runs `action` on the worker with the entry of an open input or output (in `ports`, a
    // member); an unknown handle gives MMSYSERR_INVALHANDLE, a call that does not end in time
    // JACKERR_SERVER_GONE. The action gets the iterator, so it may erase it.
    template <typename Ports, typename Action>
    MidiResult WithPort(Ports Impl::*ports, std::uint32_t handle, Action action) {
        return Ask(JACKERR_SERVER_GONE, [this, ports, handle, action]() mutable -> MidiResult {
            auto it = (this->*ports).find(handle);
            return it == (this->*ports).end() ? MMSYSERR_INVALHANDLE : action(it);
        });
    }
};

JackMidiServices::Impl::Impl(std::string name)
    : clientName(std::move(name)),
      closeCancelsThreads(
          !ParseJackVersion(JackLibraryVersion()).value_or(JackServerVersion{}).pipeWire),
      worker([this] { return Poll(); }) {
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
    if (client != nullptr && gone.load()) {
        DropClient();
    }
    if (client != nullptr) {
        jack_client_close(client);  // stops the process thread and drops our ports
        client = nullptr;
    }
    if (retired != nullptr) {
        // No poll is left to look again: the threads are waited for here, as long as a poll
        // would have waited.
        const auto deadline = retiredSince + kRetireLimit;
        while (!ShutdownThreadsLeft() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kRetireCheckMs));
        }
        CloseRetired();
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

// JACK's real-time thread: ring copies only, and a wake-up for the worker when it has bytes to
// take or room to fill.
int JackMidiServices::Impl::Process(jack_nframes_t frames, void* arg) {
    auto* impl = static_cast<Impl*>(arg);
    impl->cycles.fetch_add(1);
    bool moved = false;
    for (InSlot& slot : impl->inSlots) {
        jack_port_t* port = slot.port.load();
        if (port == nullptr) {
            continue;
        }
        JackEventsToRing(jack_port_get_buffer(port, frames), slot.ring, &slot.lost);
        moved = moved || jack_ringbuffer_read_space(slot.ring) != 0;
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
            moved = true;  // the worker waits for this before it writes again
        }
        taken += JackRingToEvents(slot.ring, buffer);
        if (taken != 0) {
            slot.consumed.fetch_add(taken);
            moved = true;
        }
    }
    impl->cycles.fetch_add(1);
    if (moved) {
        impl->worker.Wake();
    }
    return 0;
}

// A libjack thread, when the server shuts down or throws this client out.
void JackMidiServices::Impl::Shutdown(jack_status_t, const char*, void* arg) {
    auto* impl = static_cast<Impl*>(arg);
    const auto self = static_cast<pid_t>(::syscall(SYS_gettid));
    for (auto& noted : impl->shutdownThreads) {
        pid_t none = 0;
        if (noted.load() == self || noted.compare_exchange_strong(none, self)) {
            break;
        }
    }
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
    // Not while the last one awaits its close: libjack would close it itself on the next open.
    if (retired != nullptr && !CloseRetired()) {
        return false;
    }
    for (auto& noted : shutdownThreads) {
        noted.store(0);
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
        if (closeCancelsThreads && shutdownThreads[0].load() != 0) {
            // Its end was reported: closed once the reporting thread has left (Poll looks).
            // Meanwhile no port of ours is left for its process callback.
            for (auto& slot : inSlots) {
                slot.port.store(nullptr);
            }
            for (auto& slot : outSlots) {
                slot.port.store(nullptr);
            }
            WaitOutOfProcess();
            retired = client;
            retiredSince = Clock::now();
        } else {
            jack_client_close(client);  // after this no process callback runs
        }
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

// Whether every thread that reported the server's end has ended: the kernel knows its id no
// more (ids are not reused that soon).
bool JackMidiServices::Impl::ShutdownThreadsLeft() const {
    for (const auto& noted : shutdownThreads) {
        const pid_t thread = noted.load();
        if (thread != 0 && !(::syscall(SYS_tgkill, ::getpid(), thread, 0) != 0 && errno == ESRCH)) {
            return false;
        }
    }
    return true;
}

// Closes the retired client once the threads that reported its end have left; true when it is
// dealt with. One still there after kRetireLimit is stuck somewhere: the client is then left
// open rather than cancelled under it.
bool JackMidiServices::Impl::CloseRetired() {
    if (ShutdownThreadsLeft()) {
        jack_client_close(retired);
    } else if (Clock::now() - retiredSince < kRetireLimit) {
        return false;
    }
    retired = nullptr;
    return true;
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

// Runs when woken (a task, the process callback moving bytes, the server's end) or when the
// stall check is due; sleeps without a bound otherwise.
int JackMidiServices::Impl::Poll() {
    if (retired != nullptr && !CloseRetired()) {
        return kRetireCheckMs;  // only while libjack's thread leaves: microseconds, as a rule
    }
    if (client == nullptr) {
        return -1;
    }
    if (gone.load()) {
        DropClient();
        return retired != nullptr ? kRetireCheckMs : -1;
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
    const std::chrono::milliseconds stallLimit(stallLimitMs.load());
    if (now != lastCycles || !sending) {
        lastCycles = now;
        lastProgress = Clock::now();
    } else if (Clock::now() - lastProgress > stallLimit) {
        gone.store(true);  // a send would wait forever on a server that no longer runs us
        DropClient();
        return -1;
    }
    if (!sending) {
        return -1;
    }
    // A send in progress: the callback wakes the worker at every cycle that takes bytes; this
    // wake-up is only for when no cycle comes.
    const auto due =
        std::chrono::ceil<std::chrono::milliseconds>(lastProgress + stallLimit - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(1, due.count() + 1));
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

JackMidiServices::~JackMidiServices() {
    // A worker stuck inside libjack (a server that hangs) must not hold the program at its end:
    // it is left to itself, with everything it uses.
    if (!m_impl->worker.StopWithin(m_impl->CallLimit())) {
        static_cast<void>(m_impl.release());
    }
}

bool JackMidiServices::Connected() {
    Impl* d = m_impl.get();
    return d->Ask(false, [d] { return d->EnsureClient(); });
}

void JackMidiServices::SetStallLimit(std::chrono::milliseconds limit) {
    m_impl->stallLimitMs.store(limit.count());
    m_impl->worker.Wake();  // a send in progress is measured against the new limit
}

void JackMidiServices::SetCallLimit(std::chrono::milliseconds limit) {
    m_impl->callLimitMs.store(limit.count());
}

std::uint32_t JackMidiServices::InGetNumDevs() {
    Impl* d = m_impl.get();
    return d->Ask(std::uint32_t{0}, [d] {
        d->Enumerate(JackPortIsOutput, &d->inNames);
        d->inEnumerated = true;
        return static_cast<std::uint32_t>(d->inNames.size());
    });
}

std::uint32_t JackMidiServices::OutGetNumDevs() {
    Impl* d = m_impl.get();
    return d->Ask(std::uint32_t{0}, [d] {
        d->Enumerate(JackPortIsInput, &d->outNames);
        d->outEnumerated = true;
        return static_cast<std::uint32_t>(d->outNames.size());
    });
}

namespace {

// A device's name from the last listing of its direction, on the worker.
using NameResult = std::pair<MidiResult, std::string>;

}  // namespace

MidiResult JackMidiServices::InGetDevCaps(std::uint32_t device, std::string* name) {
    if (name == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    Impl* d = m_impl.get();
    const NameResult found =
        d->Ask(NameResult{JACKERR_SERVER_GONE, {}}, [d, device]() -> NameResult {
            const std::vector<std::string>& names = d->KnownDevices(true);
            if (device >= names.size()) {
                return {MMSYSERR_BADDEVICEID, {}};
            }
            return {MMSYSERR_NOERROR, names[device].substr(0, kMaxNameLength)};
        });
    if (found.first == MMSYSERR_NOERROR) {
        *name = found.second;
    }
    return found.first;
}

MidiResult JackMidiServices::OutGetDevCaps(std::uint32_t device, std::string* name) {
    if (name == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    Impl* d = m_impl.get();
    const NameResult found =
        d->Ask(NameResult{JACKERR_SERVER_GONE, {}}, [d, device]() -> NameResult {
            const std::vector<std::string>& names = d->KnownDevices(false);
            if (device >= names.size()) {
                return {MMSYSERR_BADDEVICEID, {}};
            }
            return {MMSYSERR_NOERROR, names[device].substr(0, kMaxNameLength)};
        });
    if (found.first == MMSYSERR_NOERROR) {
        *name = found.second;
    }
    return found.first;
}

namespace {

// What an open hands back from the worker; a handle that its caller stopped waiting for is
// closed again there.
struct Opened {
    MidiResult result = JACKERR_SERVER_GONE;
    std::uint32_t handle = 0;
};

}  // namespace

MidiResult JackMidiServices::InOpen(HMIDIIN* input, std::uint32_t device, MidiInProc callback,
                                    std::uintptr_t instance) {
    if (input == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    Impl* d = m_impl.get();
    auto opened = std::make_shared<Opened>();
    const bool ended = d->worker.Call(
        [d, opened, device, callback, instance] {
            HMIDIIN handle = 0;
            int slot = -1;
            opened->result = d->OpenPort(true, device, &handle, &slot);
            if (opened->result != MMSYSERR_NOERROR) {
                return;
            }
            auto port = std::make_shared<SysExInput>(handle, callback, instance);
            d->inputs[handle] = Impl::Input{slot, port};
            opened->handle = handle;
            port->Notify(MIM_OPEN);
        },
        d->CallLimit(),
        [d, opened] {
            auto it = d->inputs.find(opened->handle);
            if (it == d->inputs.end()) {
                return;
            }
            if (it->second.slot >= 0) {
                d->FreeInSlot(it->second.slot);
            }
            std::shared_ptr<SysExInput> port = it->second.port;
            d->inputs.erase(it);
            port->Notify(MIM_CLOSE);
        });
    if (!ended) {
        return JACKERR_SERVER_GONE;
    }
    if (opened->result == MMSYSERR_NOERROR) {
        *input = opened->handle;
    }
    return opened->result;
}

MidiResult JackMidiServices::InAddBuffer(HMIDIIN input, std::unique_ptr<MidiBuffer> buffer) {
    if (!buffer || !buffer->data || buffer->length == 0) {
        return m_impl->WithPort(&Impl::inputs, input,
                                [](auto) { return MMSYSERR_INVALPARAM; });  // freed here
    }
    // Shared with the task: freed with it when it does not run.
    auto held = std::make_shared<std::unique_ptr<MidiBuffer>>(std::move(buffer));
    return m_impl->WithPort(&Impl::inputs, input, [held](auto it) {
        it->second.port->AddBuffer(std::move(*held));
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InStart(HMIDIIN input) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::inputs, input, [d](auto it) {
        if (it->second.slot < 0 || d->gone.load()) {
            return JACKERR_SERVER_GONE;
        }
        it->second.port->Start();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InStop(HMIDIIN input) {
    return m_impl->WithPort(&Impl::inputs, input, [](auto it) {
        std::shared_ptr<SysExInput> port = it->second.port;
        port->Stop();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InReset(HMIDIIN input) {
    return m_impl->WithPort(&Impl::inputs, input, [](auto it) {
        std::shared_ptr<SysExInput> port = it->second.port;
        port->Reset();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InClose(HMIDIIN input) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::inputs, input, [d](auto it) {
        if (it->second.port->QueuedBuffers() > 0) {
            return MIDIERR_STILLPLAYING;  // the program must reset it first
        }
        if (it->second.slot >= 0) {
            d->FreeInSlot(it->second.slot);
        }
        std::shared_ptr<SysExInput> port = it->second.port;
        d->inputs.erase(it);
        port->Notify(MIM_CLOSE);
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutOpen(HMIDIOUT* output, std::uint32_t device,
                                     std::shared_ptr<MidiEvent> event) {
    if (output == nullptr || !event) {
        return MMSYSERR_INVALPARAM;
    }
    Impl* d = m_impl.get();
    auto opened = std::make_shared<Opened>();
    const bool ended = d->worker.Call(
        [d, opened, device, event] {
            HMIDIOUT handle = 0;
            int slot = -1;
            opened->result = d->OpenPort(false, device, &handle, &slot);
            if (opened->result != MMSYSERR_NOERROR) {
                return;
            }
            Impl::Output out;
            out.slot = slot;
            out.event = event;
            d->outputs[handle] = std::move(out);
            opened->handle = handle;
            event->Signal();  // an output's event is signalled when it opens
        },
        d->CallLimit(),
        [d, opened] {
            auto it = d->outputs.find(opened->handle);
            if (it == d->outputs.end()) {
                return;
            }
            if (it->second.slot >= 0) {
                d->FreeOutSlot(it->second.slot);
            }
            d->outputs.erase(it);
        });
    if (!ended) {
        return JACKERR_SERVER_GONE;
    }
    if (opened->result == MMSYSERR_NOERROR) {
        *output = opened->handle;
    }
    return opened->result;
}

MidiResult JackMidiServices::OutLongMsg(HMIDIOUT output, const std::uint8_t* data,
                                        std::size_t length) {
    if (data == nullptr || length == 0) {
        return m_impl->WithPort(&Impl::outputs, output, [](auto) { return MMSYSERR_INVALPARAM; });
    }
    Impl* d = m_impl.get();
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(data, data + length);
    return d->WithPort(&Impl::outputs, output, [d, bytes](auto it) {
        if (it->second.slot < 0 || d->gone.load()) {
            return JACKERR_SERVER_GONE;
        }
        Impl::Output& out = it->second;
        if (out.queue.empty()) {
            d->lastProgress = Clock::now();  // the stall clock starts with the send
        }
        out.queue.push_back(Impl::Pending{std::move(*bytes)});
        d->FeedOutput(out);
        d->worker.Wake();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutReset(HMIDIOUT output) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::outputs, output, [d](auto it) {
        Impl::Output& out = it->second;
        if (!out.queue.empty()) {
            d->FailSends(out, MIDIERR_SEND_ABANDONED);
            if (out.slot >= 0) {
                d->outSlots[out.slot].discard.store(true);
            }
        }
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutClose(HMIDIOUT output) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::outputs, output, [d](auto it) {
        if (!it->second.queue.empty()) {
            return MIDIERR_STILLPLAYING;  // reset it first
        }
        if (it->second.slot >= 0) {
            d->FreeOutSlot(it->second.slot);
        }
        std::shared_ptr<MidiEvent> event = it->second.event;
        d->outputs.erase(it);
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
    if (!Connected()) {
        return "No JACK server is running.";
    }
    // jackd's library picks its server by this name; PipeWire's has none.
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    return DescribeJackServer(JackLibraryVersion(), server != nullptr ? server : "");
}

}  // namespace bq::midi

#include "midi/JackClient.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "midi/JackMidiServices.h"
#include "midi/JackServerInfo.h"

namespace bq::midi {
namespace {

using Clock = JackClient::Clock;

// How long an open waits for the server to report its new connection.
constexpr std::chrono::seconds kLinkWait{2};
// A send waits for process cycles; when none has run for this long the server is treated as
// gone, so that no send waits forever on a server that hangs without shutting down.
constexpr std::chrono::milliseconds kDefaultStallLimit{10000};
// A client whose server has ended is closed once libjack's threads that reported the end have
// left; they are given this long.
constexpr std::chrono::seconds kRetireLimit{5};

void SilentJackMessage(const char*) {}

}  // namespace

JackClient::JackClient(std::string name, BackendWorker& worker, ProcessHook process,
                       void* processArg)
    : m_name(std::move(name)),
      m_worker(worker),
      m_process(process),
      m_processArg(processArg),
      m_closeCancelsThreads(
          !ParseJackVersion(JackLibraryVersion()).value_or(JackServerVersion{}).pipeWire),
      m_stallLimitMs(kDefaultStallLimit.count()) {
    static std::once_flag silenced;
    // libjack prints to stderr when no server runs, which is an ordinary state here.
    std::call_once(silenced, [] {
        jack_set_error_function(SilentJackMessage);
        jack_set_info_function(SilentJackMessage);
    });
}

JackClient::~JackClient() {
    Close();
}

bool JackClient::Open() {
    if (m_client != nullptr) {
        return true;
    }
    // Not while the last one awaits its close: libjack would close it itself on the next open.
    if (m_retired != nullptr && !CloseRetired()) {
        return false;
    }
    for (auto& noted : m_shutdownThreads) {
        noted.store(0);
    }
    jack_status_t status{};
    // Never start a server, never wait for one: without a server there are no devices.
    m_client = jack_client_open(m_name.c_str(), JackNoStartServer, &status);
    if (m_client == nullptr) {
        return false;
    }
    m_gone.store(false);
    m_cycles.store(0);
    m_lastCycles = 0;
    m_lastProgress = Clock::now();
    jack_set_process_callback(m_client, &JackClient::Process, this);
    jack_on_info_shutdown(m_client, &JackClient::Shutdown, this);
    // PipeWire's JACK library calls only this one when its server ends; jackd's only the other.
    jack_on_shutdown(m_client, &JackClient::PlainShutdown, this);
    jack_set_port_connect_callback(m_client, &JackClient::PortConnect, this);
    if (jack_activate(m_client) != 0) {
        jack_client_close(m_client);
        m_client = nullptr;
        return false;
    }
    return true;
}

void JackClient::Drop(const std::function<void()>& unpublish) {
    if (m_client == nullptr) {
        return;
    }
    if (m_closeCancelsThreads && m_shutdownThreads[0].load() != 0) {
        // Its end was reported: closed once the reporting thread has left (the polls look).
        // Meanwhile no port of ours is left for its process callback.
        unpublish();
        WaitOutOfProcess();
        m_retired = m_client;
        m_retiredSince = Clock::now();
    } else {
        jack_client_close(m_client);  // after this no process callback runs
    }
    m_client = nullptr;
}

// Whether every thread that reported the server's end has ended: the kernel knows its id no
// more (ids are not reused that soon).
bool JackClient::ShutdownThreadsLeft() const {
    for (const auto& noted : m_shutdownThreads) {
        const pid_t thread = noted.load();
        if (thread != 0 && !(::syscall(SYS_tgkill, ::getpid(), thread, 0) != 0 && errno == ESRCH)) {
            return false;
        }
    }
    return true;
}

// One thread still there after kRetireLimit is stuck somewhere: the client is then left open
// rather than cancelled under it.
bool JackClient::CloseRetired() {
    if (ShutdownThreadsLeft()) {
        jack_client_close(m_retired);
    } else if (Clock::now() - m_retiredSince < kRetireLimit) {
        return false;
    }
    m_retired = nullptr;
    return true;
}

void JackClient::Close() {
    if (m_client != nullptr) {
        jack_client_close(m_client);  // stops the process thread and drops our ports
        m_client = nullptr;
    }
    if (m_retired != nullptr) {
        // No poll is left to look again: the threads are waited for here, as long as the polls
        // would have waited.
        const auto deadline = m_retiredSince + kRetireLimit;
        while (!ShutdownThreadsLeft() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kRetireCheckMs));
        }
        CloseRetired();
    }
}

bool JackClient::WatchProgress(bool sending, int* waitMs) {
    const std::uint64_t now = m_cycles.load();
    const std::chrono::milliseconds stallLimit(m_stallLimitMs.load());
    if (now != m_lastCycles || !sending) {
        m_lastCycles = now;
        m_lastProgress = Clock::now();
    } else if (Clock::now() - m_lastProgress > stallLimit) {
        m_gone.store(true);  // a send would wait forever on a server that no longer runs us
        return false;
    }
    if (!sending) {
        *waitMs = -1;
        return true;
    }
    // A send in progress: the callback wakes the worker at every cycle that takes bytes; this
    // wake-up is only for when no cycle comes.
    const auto due =
        std::chrono::ceil<std::chrono::milliseconds>(m_lastProgress + stallLimit - Clock::now());
    *waitMs = static_cast<int>(std::max<std::int64_t>(1, due.count() + 1));
    return true;
}

// JACK's real-time thread: the hook's ring copies, and a wake-up for the worker when they
// moved bytes.
int JackClient::Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackClient*>(arg);
    self->m_cycles.fetch_add(1);
    const bool moved = self->m_process(frames, self->m_processArg);
    self->m_cycles.fetch_add(1);
    if (moved) {
        self->m_worker.Wake();
    }
    return 0;
}

// A libjack thread, when the server shuts down or throws this client out.
void JackClient::Shutdown(jack_status_t, const char*, void* arg) {
    auto* self = static_cast<JackClient*>(arg);
    const auto thread = static_cast<pid_t>(::syscall(SYS_gettid));
    for (auto& noted : self->m_shutdownThreads) {
        pid_t none = 0;
        if (noted.load() == thread || noted.compare_exchange_strong(none, thread)) {
            break;
        }
    }
    self->m_gone.store(true);
    self->NotifyLinks();
    self->m_worker.Wake();
}

// libjack's notification thread, never the process thread.
void JackClient::PortConnect(jack_port_id_t, jack_port_id_t, int, void* arg) {
    static_cast<JackClient*>(arg)->NotifyLinks();
}

void JackClient::NotifyLinks() {
    {
        std::lock_guard lock(m_linkMutex);
        ++m_linkEvents;
    }
    m_linkChanged.notify_all();
}

void JackClient::WaitOutOfProcess() {
    // The port was cleared before this read: a callback that starts later cannot see it, and
    // one that runs now is waited for.
    const std::uint64_t seen = m_cycles.load();
    if ((seen & 1) == 0) {
        return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (m_cycles.load() == seen && !m_gone.load() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// jackd has made the connection when jack_connect returns; PipeWire makes it in the background,
// and bytes written to the port before it carries them are lost (the first Identity Request of
// a search, say). So an open returns once the server reports the connection, or after
// kLinkWait. libjack is not called under m_linkMutex: its notification thread may hold
// libjack's own locks while it waits for ours.
void JackClient::WaitUntilConnected(jack_port_t* own, const std::string& theirs) {
    const auto deadline = Clock::now() + kLinkWait;
    std::uint64_t seen = 0;
    {
        std::lock_guard lock(m_linkMutex);
        seen = m_linkEvents;
    }
    while (!jack_port_connected_to(own, theirs.c_str()) && !m_gone.load()) {
        std::unique_lock lock(m_linkMutex);
        if (!m_linkChanged.wait_until(lock, deadline, [&] { return m_linkEvents != seen; })) {
            return;
        }
        seen = m_linkEvents;
    }
}

std::vector<std::string> JackClient::ListPorts(unsigned long direction) {
    std::vector<std::string> names;
    if (m_client == nullptr) {
        return names;
    }
    const char** ports = jack_get_ports(m_client, nullptr, JACK_DEFAULT_MIDI_TYPE, direction);
    if (ports == nullptr) {
        return names;
    }
    for (const char** name = ports; *name != nullptr; ++name) {
        jack_port_t* port = jack_port_by_name(m_client, *name);
        if (port != nullptr && jack_port_is_mine(m_client, port)) {
            continue;
        }
        names.emplace_back(*name);
    }
    jack_free(ports);
    return names;
}

bool JackClient::PortExists(const std::string& name) const {
    return m_client != nullptr && jack_port_by_name(m_client, name.c_str()) != nullptr;
}

}  // namespace bq::midi

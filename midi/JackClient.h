#pragma once

// The JACK client of the MIDI services and its life: opened when first needed (never starting
// a server), the server's end noticed from libjack's threads, dropped when the server ends or
// stops running cycles during a send, and closed only once closing can no longer cancel a
// libjack thread in the middle of its exit. The process callback is wired to the port tables
// through a hook; the client also lists the server's MIDI ports and waits for a connection to
// be made.
//
// Threads: the services' worker thread, unless a comment says otherwise.

#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiBackend.h"

namespace bq::midi {

class JackClient {
public:
    using Clock = std::chrono::steady_clock;
    // JACK's real-time thread, once a cycle: moves bytes between the port buffers and the rings
    // and says whether it moved any, which wakes the worker. No lock, no allocation.
    using ProcessHook = bool (*)(jack_nframes_t frames, void* arg);

    // How often a poll looks whether the threads that reported a server's end have left.
    static constexpr int kRetireCheckMs = 2;

    JackClient(std::string name, BackendWorker& worker, ProcessHook process, void* processArg);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // Opens the client when none is open; true when one is. The owner drops a client whose
    // server has gone first (Gone).
    bool Open();
    bool IsOpen() const { return m_client != nullptr; }
    jack_client_t* Get() const { return m_client; }
    // The server shut down, threw us out or stalled. Any thread.
    bool Gone() const { return m_gone.load(); }
    // Lets go of the client after its server has gone. When it cannot be closed yet it is
    // retired, and `unpublish` first takes every port away from its process callback.
    void Drop(const std::function<void()>& unpublish);
    // A retired client waits for its close; CloseRetired closes it once it may and says whether
    // it is dealt with.
    bool Retired() const { return m_retired != nullptr; }
    bool CloseRetired();
    // The end of the services: closes the client, and a retired one after waiting as long as the
    // polls would have. The worker has stopped by then.
    void Close();

    // The stall watch: a send waits for process cycles, and when none has run for the stall
    // limit while a send is in progress the server counts as gone. Any thread.
    void SetStallLimit(std::chrono::milliseconds limit) { m_stallLimitMs.store(limit.count()); }
    // A send starts while none was in progress: the stall clock starts with it.
    void SendStarted() { m_lastProgress = Clock::now(); }
    // At each poll. False when the server has stalled (it is then Gone); otherwise *waitMs is
    // how long the poll may sleep before it looks again (negative: until woken).
    bool WatchProgress(bool sending, int* waitMs);

    // Waits until no process callback that may still see a port taken away before this call
    // runs any more.
    void WaitOutOfProcess();
    // Waits (a bounded time) until the server reports `own` connected to `theirs`.
    void WaitUntilConnected(jack_port_t* own, const std::string& theirs);
    // The MIDI ports of the other clients with `direction` (JackPortIsOutput: the ports our
    // inputs read from); empty when no client is open.
    std::vector<std::string> ListPorts(unsigned long direction);
    bool PortExists(const std::string& name) const;

private:
    static int Process(jack_nframes_t frames, void* arg);
    static void Shutdown(jack_status_t code, const char* reason, void* arg);
    static void PlainShutdown(void* arg) { Shutdown({}, nullptr, arg); }
    static void PortConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* arg);
    void NotifyLinks();
    bool ShutdownThreadsLeft() const;

    const std::string m_name;
    BackendWorker& m_worker;
    const ProcessHook m_process;
    void* const m_processArg;

    jack_client_t* m_client = nullptr;
    std::atomic<bool> m_gone{false};
    // jackd's library cancels its own threads in jack_client_close, and asynchronously: a thread
    // cancelled on its way out, inside the allocator, leaves the allocator's lock held for good.
    // After the server's end the thread that reported it is on its way out, so that client is
    // closed only once the thread has left (PipeWire's library joins its threads instead).
    const bool m_closeCancelsThreads;
    // Kernel ids of the threads that ran a shutdown callback of the current client (jackd's
    // library may call both kinds, from one thread).
    std::atomic<pid_t> m_shutdownThreads[2] = {};
    jack_client_t* m_retired = nullptr;  // ended, awaiting its close
    Clock::time_point m_retiredSince{};

    // Counts the server's connection reports (libjack's notification thread), so that an open
    // can wait for its own.
    std::mutex m_linkMutex;
    std::condition_variable m_linkChanged;
    std::uint64_t m_linkEvents = 0;

    std::atomic<std::uint64_t> m_cycles{0};  // odd while the process callback runs
    std::uint64_t m_lastCycles = 0;
    Clock::time_point m_lastProgress{};
    std::atomic<std::int64_t> m_stallLimitMs;
};

}  // namespace bq::midi

#pragma once

// Pieces shared by the MIDI services backends (JACK and loopback): the backend's own thread,
// the queued SysEx input buffers of one open input, and the standard error texts.

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiServices.h"

namespace bq::midi {

// Set in MidiBuffer::flags when a buffer comes back to the callback.
constexpr std::uint32_t MHDR_DONE = 0x1;

// The output event's result for a send that OutReset abandoned before it had gone out.
constexpr MidiResult MIDIERR_SEND_ABANDONED = 0x200;

// Texts of the generic result codes; a readable text for a code without one.
std::string StandardMidiErrorText(MidiResult result);

// The backend's own thread. Every input callback runs here, so callbacks never overlap and
// never run on the caller's thread. Tasks run in order; between them the backend's `poll`
// does its periodic work and says how long the thread may sleep (negative: until woken). The
// thread sleeps on a semaphore, so that JACK's real-time thread can wake it (Wake).
class BackendWorker {
public:
    using Clock = std::chrono::steady_clock;

    explicit BackendWorker(std::function<int()> poll);
    ~BackendWorker();
    BackendWorker(const BackendWorker&) = delete;
    BackendWorker& operator=(const BackendWorker&) = delete;

    // Runs `task` on the worker and waits for its end, without a bound: only for tasks that
    // cannot block (nothing in them waits on another process). Runs it at once when called on
    // the worker (from a callback), so callbacks may call back into the services.
    void RunSync(const std::function<void()>& task);
    // Runs `task` on the worker and waits at most `limit` for its end; true when it ended.
    // Otherwise a task that had not started is withdrawn and never runs, and one that is still
    // running goes on alone; `undo` then runs on the worker after it. While the worker has
    // been stuck in one task or poll for longer than `limit`, fails at once without queueing.
    // The task owns what it uses: its caller may have gone on when it runs. On the worker it
    // runs at once, as RunSync.
    bool Call(std::function<void()> task, std::chrono::milliseconds limit,
              std::function<void()> undo = {});
    // Makes the worker poll again now. Any thread, JACK's real-time one included: it takes no
    // lock, allocates nothing and never waits.
    void Wake() noexcept;
    bool OnWorker() const { return std::this_thread::get_id() == m_id; }
    // Joins the thread; tasks still queued are dropped. Called by the owner before its state
    // goes away, so no poll runs on a half-destroyed backend.
    void Stop();
    // The same, waiting at most `limit` for the thread to end. False when it did not (it is
    // stuck in a task or poll): it is then left running on its own, and the owner must keep
    // this object and everything the thread uses alive.
    bool StopWithin(std::chrono::milliseconds limit);

private:
    struct Job {
        const std::function<void()>* borrowed = nullptr;  // RunSync: the caller's
        std::function<void()> task;                       // Call: owned
        std::function<void()> undo;
        bool started = false;
        bool done = false;
        bool abandoned = false;
    };
    void Run();
    void Sleep(int waitMs);
    void RequestStop();
    void DropJobs();

    std::function<int()> m_poll;
    std::mutex m_mutex;
    std::condition_variable m_doneCv;  // wakes callers waiting for a job, and Stop
    std::deque<std::shared_ptr<Job>> m_jobs;
    std::optional<Clock::time_point> m_busySince;  // in a job or a poll since then
    bool m_stop = false;
    bool m_exited = false;
    // Posted when work comes in; m_wakePending keeps it to one post between two polls.
    sem_t m_wake;
    std::atomic<bool> m_wakePending{false};
    std::thread m_thread;
    std::thread::id m_id;
};

// One open input: the buffers queued by the program and the SysEx filter that fills them
// from the raw byte stream of the port. Everything but AddBuffer and QueuedBuffers runs on the
// backend's worker thread, which is also where the callback is called.
//
// The byte stream keeps SysEx messages only: real-time bytes are dropped anywhere, and short
// messages outside SysEx. A buffer goes back to the callback when it holds `chunkLimit` bytes
// (or is full), when a message ends with F7, on Stop (if it holds bytes) and on Reset. A SysEx
// message broken by another status byte returns its buffer with MIM_LONGERROR.
class SysExInput {
public:
    // Raw bytes waiting for a buffer are kept up to this many; beyond it they are dropped.
    static constexpr std::size_t kMaxPendingBytes = 4u << 20;

    SysExInput(HMIDIIN handle, MidiInProc callback, std::uintptr_t instance);
    ~SysExInput();

    // Any thread (the callback re-queues from the worker, the program from its own thread).
    void AddBuffer(std::unique_ptr<MidiBuffer> buffer);
    std::size_t QueuedBuffers() const;

    // Worker thread only.
    void Notify(std::uint32_t message);  // MIM_OPEN, MIM_CLOSE
    void Start();
    bool Started() const { return m_started; }
    // Stops recording; a partly filled buffer goes back, empty ones stay queued.
    void Stop();
    // Stops and returns every queued buffer, with what it holds.
    void Reset();
    // Raw bytes from the port; ignored while stopped. Call Pump to move them into buffers.
    void Feed(const std::uint8_t* bytes, std::size_t count);
    // Moves waiting bytes into queued buffers, calling back as buffers fill.
    void Pump();
    // True when bytes are waiting and a buffer is queued to take them.
    bool CanPump() const;
    std::size_t PendingBytes() const { return m_pending.size() - m_pendingRead; }
    std::size_t DroppedBytes() const { return m_dropped; }

    // Largest number of bytes put in one buffer before it goes back; 0 means the buffer size.
    void SetChunkLimit(std::uint32_t bytes) { m_chunkLimit = bytes; }
    HMIDIIN Handle() const { return m_handle; }

private:
    std::unique_ptr<MidiBuffer> PopFront();
    void Return(std::unique_ptr<MidiBuffer> buffer, std::uint32_t message);
    void ReturnCurrent(std::uint32_t message);
    MidiBuffer* Current();

    const HMIDIIN m_handle;
    const MidiInProc m_callback;
    const std::uintptr_t m_instance;
    std::uint32_t m_chunkLimit = 0;
    bool m_started = false;
    bool m_closed = false;  // after MIM_CLOSE no callback may run
    bool m_inSysEx = false;
    std::vector<std::uint8_t> m_pending;  // raw bytes not yet filtered
    std::size_t m_pendingRead = 0;
    std::size_t m_dropped = 0;

    mutable std::mutex m_mutex;  // guards m_buffers
    std::deque<std::unique_ptr<MidiBuffer>> m_buffers;
};

}  // namespace bq::midi

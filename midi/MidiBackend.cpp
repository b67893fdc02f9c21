#include "midi/MidiBackend.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace bq::midi {

std::string StandardMidiErrorText(MidiResult result) {
    switch (result) {
        case MMSYSERR_NOERROR:
            return "The specified command was carried out.";
        case MMSYSERR_ERROR:
            return "Undefined external error.";
        case MMSYSERR_BADDEVICEID:
            return "A device ID has been used that is out of range for your system.";
        case 3:
            return "The driver was not enabled.";
        case MMSYSERR_ALLOCATED:
            return "The specified device is already in use.  Wait until it is free, and then "
                   "try again.";
        case MMSYSERR_INVALHANDLE:
            return "The specified device handle is invalid.";
        case MMSYSERR_NODRIVER:
            return "There is no driver installed on your system.";
        case MMSYSERR_NOMEM:
            return "There is not enough memory available for this task.  Quit one or more "
                   "applications to increase available memory, and then try again.";
        case 8:
            return "This function is not supported.  Use the Capabilities function to determine "
                   "which functions and messages the driver supports.";
        case 10:
            return "An invalid flag was passed to a system function.";
        case MMSYSERR_INVALPARAM:
            return "An invalid parameter was passed to a system function.";
        case 64:
            return "The header is not prepared.  Use the Prepare function to prepare the "
                   "header, and then try again.";
        case MIDIERR_STILLPLAYING:
            return "This cannot be performed while media data is still playing.  Reset the "
                   "device, or wait until the data is finished playing.";
        case MIDIERR_NOTREADY:
            return "The port is transmitting data to the device.  Wait until the data has "
                   "been transmitted, and then try again.";
        case MIDIERR_SEND_ABANDONED:
            return "The output was reset before the message had gone out.";
        default:
            return "An error number was specified that is not defined in the system.";
    }
}

// ---- BackendWorker ----

BackendWorker::BackendWorker(std::function<int()> poll) : m_poll(std::move(poll)) {
    sem_init(&m_wake, 0, 0);
    // RunSync and OnWorker need the id before the first call can come in. It is known as soon
    // as the thread exists: the caller does not wait for the thread to be scheduled, which on a
    // busy machine held up the program's start. The worker starts by taking this lock, so it
    // sees the id too.
    std::lock_guard lock(m_mutex);
    m_thread = std::thread([this] { Run(); });
    m_id = m_thread.get_id();
}

BackendWorker::~BackendWorker() {
    Stop();
    sem_destroy(&m_wake);
}

void BackendWorker::RequestStop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    Wake();
}

// Callers still waiting must not wait forever on a thread that is gone.
void BackendWorker::DropJobs() {
    std::lock_guard lock(m_mutex);
    for (const auto& job : m_jobs) {
        job->done = true;
    }
    m_jobs.clear();
    m_doneCv.notify_all();
}

void BackendWorker::Stop() {
    RequestStop();
    if (m_thread.joinable() && !OnWorker()) {
        m_thread.join();
    }
    DropJobs();
}

bool BackendWorker::StopWithin(std::chrono::milliseconds limit) {
    RequestStop();
    if (!m_thread.joinable() || OnWorker()) {
        DropJobs();
        return true;
    }
    bool exited = false;
    {
        std::unique_lock lock(m_mutex);
        exited = m_doneCv.wait_for(lock, limit, [this] { return m_exited; });
    }
    if (!exited) {
        m_thread.detach();
        return false;
    }
    m_thread.join();
    DropJobs();
    return true;
}

void BackendWorker::RunSync(const std::function<void()>& task) {
    if (OnWorker()) {
        task();
        return;
    }
    auto job = std::make_shared<Job>();
    job->borrowed = &task;
    std::unique_lock lock(m_mutex);
    if (m_stop) {
        return;
    }
    m_jobs.push_back(job);
    lock.unlock();
    Wake();
    lock.lock();
    m_doneCv.wait(lock, [&job] { return job->done; });
}

bool BackendWorker::Call(std::function<void()> task, std::chrono::milliseconds limit,
                         std::function<void()> undo) {
    if (OnWorker()) {
        task();
        return true;
    }
    auto job = std::make_shared<Job>();
    job->task = std::move(task);
    job->undo = std::move(undo);
    std::unique_lock lock(m_mutex);
    if (m_stop || (m_busySince && Clock::now() - *m_busySince > limit)) {
        return false;
    }
    m_jobs.push_back(job);
    lock.unlock();
    Wake();
    lock.lock();
    if (m_doneCv.wait_for(lock, limit, [&job] { return job->done; })) {
        return job->started;  // not when Stop dropped it
    }
    if (!job->started) {
        m_jobs.erase(std::find(m_jobs.begin(), m_jobs.end(), job));
    } else {
        job->abandoned = true;
    }
    return false;
}

void BackendWorker::Wake() noexcept {
    if (!m_wakePending.exchange(true)) {
        sem_post(&m_wake);
    }
}

void BackendWorker::Sleep(int waitMs) {
    if (waitMs < 0) {
        while (sem_wait(&m_wake) != 0 && errno == EINTR) {
        }
    } else if (waitMs > 0) {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += waitMs / 1000;
        deadline.tv_nsec += static_cast<long>(waitMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        while (sem_clockwait(&m_wake, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR) {
        }
    }
    // Posts beyond the one that woke it ask for nothing more than the poll that follows.
    while (sem_trywait(&m_wake) == 0) {
    }
}

void BackendWorker::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        while (!m_jobs.empty() && !m_stop) {
            std::shared_ptr<Job> job = m_jobs.front();
            m_jobs.pop_front();
            job->started = true;
            m_busySince = Clock::now();
            lock.unlock();
            if (job->borrowed != nullptr) {
                (*job->borrowed)();
            } else {
                job->task();
            }
            lock.lock();
            m_busySince.reset();
            if (job->abandoned && job->undo) {
                lock.unlock();
                job->undo();
                lock.lock();
            }
            job->done = true;
            m_doneCv.notify_all();
        }
        if (m_stop) {
            break;
        }
        // Cleared before the poll: whatever wakes it from here on is seen by the next one.
        m_wakePending.store(false);
        m_busySince = Clock::now();
        lock.unlock();
        const int waitMs = m_poll();
        lock.lock();
        m_busySince.reset();
        if (m_stop || !m_jobs.empty()) {
            continue;
        }
        lock.unlock();
        Sleep(waitMs);
        lock.lock();
    }
    m_exited = true;
    m_doneCv.notify_all();
}

// ---- SysExInput ----

SysExInput::SysExInput(HMIDIIN handle, MidiInProc callback, std::uintptr_t instance)
    : m_handle(handle), m_callback(callback), m_instance(instance) {}

SysExInput::~SysExInput() = default;

void SysExInput::AddBuffer(std::unique_ptr<MidiBuffer> buffer) {
    buffer->bytesRecorded = 0;
    buffer->flags &= ~MHDR_DONE;
    std::lock_guard lock(m_mutex);
    m_buffers.push_back(std::move(buffer));
}

std::size_t SysExInput::QueuedBuffers() const {
    std::lock_guard lock(m_mutex);
    return m_buffers.size();
}

void SysExInput::Notify(std::uint32_t message) {
    if (m_closed) {
        return;
    }
    if (message == MIM_CLOSE) {
        m_closed = true;
    }
    if (m_callback != nullptr) {
        m_callback(m_handle, message, m_instance, nullptr);
    }
}

void SysExInput::Start() {
    m_started = !m_closed;
}

void SysExInput::Stop() {
    m_started = false;
    m_inSysEx = false;
    m_pending.clear();
    m_pendingRead = 0;
    ReturnCurrent(MIM_LONGDATA);
}

void SysExInput::Reset() {
    m_started = false;
    m_inSysEx = false;
    m_pending.clear();
    m_pendingRead = 0;
    // Only the buffers queued now go back: one the callback queues again stays queued.
    std::deque<std::unique_ptr<MidiBuffer>> returned;
    {
        std::lock_guard lock(m_mutex);
        returned.swap(m_buffers);
    }
    for (auto& buffer : returned) {
        Return(std::move(buffer), MIM_LONGDATA);
    }
}

void SysExInput::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (!m_started || m_closed || count == 0) {
        return;
    }
    if (m_pendingRead == m_pending.size()) {
        m_pending.clear();
        m_pendingRead = 0;
    } else if (m_pendingRead > 65536 && m_pendingRead * 2 > m_pending.size()) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + m_pendingRead);
        m_pendingRead = 0;
    }
    const std::size_t room = kMaxPendingBytes - std::min(kMaxPendingBytes, PendingBytes());
    const std::size_t taken = std::min(room, count);
    m_pending.insert(m_pending.end(), bytes, bytes + taken);
    m_dropped += count - taken;
}

bool SysExInput::CanPump() const {
    return PendingBytes() > 0 && QueuedBuffers() > 0;
}

MidiBuffer* SysExInput::Current() {
    std::lock_guard lock(m_mutex);
    // Only this thread removes buffers, so the front one stays put after the lock is released.
    return m_buffers.empty() ? nullptr : m_buffers.front().get();
}

std::unique_ptr<MidiBuffer> SysExInput::PopFront() {
    std::lock_guard lock(m_mutex);
    if (m_buffers.empty()) {
        return nullptr;
    }
    auto buffer = std::move(m_buffers.front());
    m_buffers.pop_front();
    return buffer;
}

void SysExInput::Return(std::unique_ptr<MidiBuffer> buffer, std::uint32_t message) {
    buffer->flags |= MHDR_DONE;
    if (m_callback != nullptr && !m_closed) {
        m_callback(m_handle, message, m_instance, std::move(buffer));
    }
}

void SysExInput::ReturnCurrent(std::uint32_t message) {
    MidiBuffer* current = Current();
    if (current != nullptr && current->bytesRecorded > 0) {
        Return(PopFront(), message);
    }
}

void SysExInput::Pump() {
    MidiBuffer* buffer = nullptr;
    // The callback may call back into the services (re-queue, even reset): every step reads
    // the members afresh.
    while (m_started && !m_closed && m_pendingRead < m_pending.size()) {
        const std::uint8_t byte = m_pending[m_pendingRead];
        if (byte >= 0xF8) {  // real-time messages are not ours to record
            ++m_pendingRead;
            continue;
        }
        const bool status = (byte & 0x80) != 0;
        if (status && byte != 0xF7 && m_inSysEx) {
            // Any other status byte breaks the message being received.
            m_inSysEx = false;
            buffer = nullptr;
            ReturnCurrent(MIM_LONGERROR);
            continue;
        }
        if (!m_inSysEx && byte != 0xF0) {  // short messages and stray bytes
            ++m_pendingRead;
            continue;
        }
        if (buffer == nullptr) {
            buffer = Current();
            if (buffer == nullptr) {
                return;  // wait for the program to queue a buffer
            }
        }
        buffer->data[buffer->bytesRecorded++] = byte;
        ++m_pendingRead;
        m_inSysEx = byte != 0xF7;
        const std::uint32_t limit =
            m_chunkLimit == 0 ? buffer->length : std::min(m_chunkLimit, buffer->length);
        if (byte == 0xF7 || buffer->bytesRecorded >= limit) {
            buffer = nullptr;
            Return(PopFront(), MIM_LONGDATA);
        }
    }
    if (m_pendingRead == m_pending.size()) {
        m_pending.clear();
        m_pendingRead = 0;
    }
}

}  // namespace bq::midi

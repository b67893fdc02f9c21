#include "midi/MidiBackend.h"

#include <algorithm>
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
}

void BackendWorker::Stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stop && !m_thread.joinable()) {
            return;
        }
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable() && !OnWorker()) {
        m_thread.join();
    }
    std::lock_guard lock(m_mutex);
    // Callers still waiting must not wait forever on a thread that is gone.
    for (Task* task : m_tasks) {
        task->done = true;
    }
    m_tasks.clear();
    m_doneCv.notify_all();
}

void BackendWorker::RunSync(const std::function<void()>& task) {
    if (OnWorker()) {
        task();
        return;
    }
    Task item;
    item.fn = &task;
    std::unique_lock lock(m_mutex);
    if (m_stop) {
        return;
    }
    m_tasks.push_back(&item);
    m_cv.notify_all();
    m_doneCv.wait(lock, [&item] { return item.done; });
}

void BackendWorker::Wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_cv.notify_all();
}

void BackendWorker::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        while (!m_tasks.empty() && !m_stop) {
            Task* task = m_tasks.front();
            m_tasks.pop_front();
            lock.unlock();
            (*task->fn)();
            lock.lock();
            task->done = true;
            m_doneCv.notify_all();
        }
        if (m_stop) {
            break;
        }
        m_woken = false;
        lock.unlock();
        const int waitMs = m_poll();
        lock.lock();
        auto wake = [this] { return m_stop || m_woken || !m_tasks.empty(); };
        if (waitMs < 0) {
            m_cv.wait(lock, wake);
        } else if (waitMs > 0) {
            m_cv.wait_for(lock, std::chrono::milliseconds(waitMs), wake);
        }
    }
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

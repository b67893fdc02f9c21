#pragma once

// An input callback for the backend tests: records every call with its bytes and thread, and
// queues each returned buffer again unless told not to.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/MidiServices.h"

namespace bq::midi::test {

class InputRecorder {
public:
    struct Call {
        std::uint32_t message = 0;
        bool hasBuffer = false;
        std::vector<std::uint8_t> bytes;
        std::thread::id thread;
    };

    explicit InputRecorder(IMidiServices* services) : m_services(services) {}

    static void Proc(HMIDIIN input, std::uint32_t message, std::uintptr_t instance,
                     std::unique_ptr<MidiBuffer> buffer) {
        auto* self = reinterpret_cast<InputRecorder*>(instance);
        Call call;
        call.message = message;
        call.thread = std::this_thread::get_id();
        if (buffer) {
            call.hasBuffer = true;
            call.bytes.assign(buffer->data.get(), buffer->data.get() + buffer->bytesRecorded);
        }
        // Re-queued before the call is recorded: a test that sees the call may count buffers.
        MidiResult requeued = MMSYSERR_NOERROR;
        bool requeue = false;
        {
            std::lock_guard lock(self->m_mutex);
            requeue = self->m_requeue;
        }
        if (buffer && requeue) {
            buffer->flags = 0;
            requeued = self->m_services->InAddBuffer(input, std::move(buffer));
        }
        const bool hadBuffer = call.hasBuffer;
        std::lock_guard lock(self->m_mutex);
        self->m_calls.push_back(std::move(call));
        if (requeue && hadBuffer) {
            self->m_requeueResults.push_back(requeued);
        }
        // Notified under the lock: once a waiter sees the call, this thread is done with us.
        self->m_cv.notify_all();
    }

    std::uintptr_t Instance() { return reinterpret_cast<std::uintptr_t>(this); }
    void SetRequeue(bool requeue) {
        std::lock_guard lock(m_mutex);
        m_requeue = requeue;
    }

    // Queues `count` fresh buffers of `size` bytes.
    bool AddBuffers(HMIDIIN input, int count, std::uint32_t size = 4096) {
        for (int i = 0; i < count; ++i) {
            if (m_services->InAddBuffer(input, std::make_unique<MidiBuffer>(size)) !=
                MMSYSERR_NOERROR) {
                return false;
            }
        }
        return true;
    }

    std::vector<Call> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // Data calls only (MIM_LONGDATA and MIM_LONGERROR), in order.
    std::vector<Call> Chunks() {
        std::vector<Call> chunks;
        for (auto& call : Calls()) {
            if (call.message == MIM_LONGDATA || call.message == MIM_LONGERROR) {
                chunks.push_back(std::move(call));
            }
        }
        return chunks;
    }
    // The bytes of every MIM_LONGDATA buffer, joined.
    std::vector<std::uint8_t> Joined() {
        std::vector<std::uint8_t> all;
        for (const auto& call : Chunks()) {
            if (call.message == MIM_LONGDATA) {
                all.insert(all.end(), call.bytes.begin(), call.bytes.end());
            }
        }
        return all;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }
    // Waits until `done` holds for the recorded calls; false after the time-out.
    bool WaitUntil(const std::function<bool(const std::vector<Call>&)>& done,
                   int timeoutMs = 10000) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return done(m_calls); });
    }
    // Waits for a MIM_LONGDATA buffer whose bytes end with F7, counted from the start.
    bool WaitForMessages(std::size_t count, int timeoutMs = 10000) {
        return WaitUntil(
            [count](const std::vector<Call>& calls) {
                std::size_t ends = 0;
                for (const auto& call : calls) {
                    if (call.message == MIM_LONGDATA && !call.bytes.empty() &&
                        call.bytes.back() == 0xF7) {
                        ++ends;
                    }
                }
                return ends >= count;
            },
            timeoutMs);
    }
    std::vector<MidiResult> RequeueResults() {
        std::lock_guard lock(m_mutex);
        return m_requeueResults;
    }

private:
    IMidiServices* m_services;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Call> m_calls;
    bool m_requeue = true;
    std::vector<MidiResult> m_requeueResults;
};

}  // namespace bq::midi::test

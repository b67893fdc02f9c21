#include <chrono>
#include <condition_variable>
#include <mutex>

#include "midi/MidiServices.h"

namespace bq::midi {
namespace {

class AutoResetEvent final : public MidiEvent {
public:
    void Signal(MidiResult result) override {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
            m_result = result;
        }
        m_cv.notify_all();
    }
    void Reset() override {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
        m_result = MMSYSERR_NOERROR;
    }
    bool Wait(int timeoutMs, MidiResult* result) override {
        std::unique_lock lock(m_mutex);
        auto ready = [this] { return m_signalled; };
        if (timeoutMs < 0) {
            m_cv.wait(lock, ready);
        } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
            return false;
        }
        m_signalled = false;  // auto-reset: one wait consumes one signal
        if (result != nullptr) {
            *result = m_result;
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
    MidiResult m_result = MMSYSERR_NOERROR;
};

}  // namespace

std::shared_ptr<MidiEvent> CreateMidiEvent() {
    return std::make_shared<AutoResetEvent>();
}

}  // namespace bq::midi

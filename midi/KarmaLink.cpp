#include "midi/KarmaLink.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "midi/KarmaBanks.h"

namespace bq::midi {
namespace {

using Clock = std::chrono::steady_clock;
using Step = LinkFailure::Step;

// A MIDI cable carries 3125 bytes per second.
constexpr int kLongestSendMs = 600000;

}  // namespace

// What the input callback may touch: the instance value points here. Chunks cross from the
// backend's thread to the host's by value.
struct KarmaLink::Inbox {
    struct Chunk {
        std::uint32_t device = 0;  // the buffer's user value: the input device it was queued on
        Bytes bytes;
        bool broken = false;  // a message broken by another status byte ends here
        Millis time = 0;
    };

    IMidiServices* services = nullptr;
    std::function<void()> wake;  // set before any port opens, read only after
    std::atomic<bool> wakePending{false};
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Chunk> chunks;
    int missing = 0;  // buffers the callback could not queue again
    bool requeue = false;
    bool cancelled = false;

    // Backend thread.
    static void Proc(HMIDIIN input, std::uint32_t message, std::uintptr_t instance,
                     std::unique_ptr<MidiBuffer> buffer) {
        auto* inbox = reinterpret_cast<Inbox*>(instance);
        if (inbox == nullptr || !buffer || (message != MIM_LONGDATA && message != MIM_LONGERROR)) {
            return;
        }
        Chunk chunk;
        chunk.device = static_cast<std::uint32_t>(buffer->user);
        chunk.broken = message == MIM_LONGERROR;
        chunk.time = Now();
        // The bytes of a broken message are not passed on: they would be taken for a reply.
        if (!chunk.broken) {
            const std::uint32_t n = std::min(buffer->bytesRecorded, buffer->length);
            chunk.bytes.assign(buffer->data.get(), buffer->data.get() + n);
        }
        bool requeue = false;
        {
            std::lock_guard lock(inbox->mutex);
            requeue = inbox->requeue;
            if (!chunk.bytes.empty() || chunk.broken) {
                inbox->chunks.push_back(std::move(chunk));
            }
        }
        if (requeue) {
            buffer->flags = 0;
            buffer->bytesRecorded = 0;
            if (inbox->services->InAddBuffer(input, std::move(buffer)) != MMSYSERR_NOERROR) {
                std::lock_guard lock(inbox->mutex);
                ++inbox->missing;  // the host's thread queues a fresh one
            }
        }
        inbox->arrived.notify_all();
        if (inbox->wake && !inbox->wakePending.exchange(true)) {
            inbox->wake();
        }
    }

    std::deque<Chunk> TakeAll() {
        std::lock_guard lock(mutex);
        return std::exchange(chunks, {});
    }
    void Drop() {
        std::lock_guard lock(mutex);
        chunks.clear();
    }
    void SetRequeue(bool on) {
        std::lock_guard lock(mutex);
        requeue = on;
        missing = 0;
    }
    int TakeMissing() {
        std::lock_guard lock(mutex);
        return std::exchange(missing, 0);
    }
};

KarmaLink::KarmaLink(IMidiServices& services) : KarmaLink(services, Options{}) {}

KarmaLink::KarmaLink(IMidiServices& services, Options options)
    : m_services(services), m_options(options), m_inbox(std::make_unique<Inbox>()) {
    m_inbox->services = &services;
}

KarmaLink::~KarmaLink() {
    Close();
}

void KarmaLink::SetWake(std::function<void()> wake) {
    m_inbox->wake = std::move(wake);
}

Millis KarmaLink::Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

void KarmaLink::Fail(bool input, LinkFailure::Step step, MidiResult result, bool timedOut) {
    m_failures.push_back({input, step, result, timedOut});
}

std::vector<LinkFailure> KarmaLink::TakeFailures() {
    return std::exchange(m_failures, {});
}

// ---- the connection ----

bool KarmaLink::Open(std::uint32_t inputDevice, std::uint32_t outputDevice, std::uint8_t channel) {
    if (Running()) {
        return false;
    }
    Close();
    m_inputDevice = inputDevice;
    m_outputDevice = outputDevice;
    m_exchange.SetChannel(channel);
    m_shortBuffers = 0;
    m_inbox->Drop();
    m_inbox->SetRequeue(true);
    MidiResult result = m_services.InOpen(&m_input, inputDevice, &Inbox::Proc,
                                          reinterpret_cast<std::uintptr_t>(m_inbox.get()));
    if (result != MMSYSERR_NOERROR) {
        m_input = 0;
        Fail(true, Step::Open, result);
        return false;
    }
    m_outputEvent = CreateMidiEvent();
    result = m_services.OutOpen(&m_output, outputDevice, m_outputEvent);
    if (result != MMSYSERR_NOERROR) {
        m_output = 0;
        Fail(false, Step::Open, result);
        return false;
    }
    for (int i = 0; i < m_options.buffers; ++i) {
        // The backend frees a buffer it refuses.
        result = m_services.InAddBuffer(
            m_input, std::make_unique<MidiBuffer>(m_options.bufferSize, inputDevice));
        if (result != MMSYSERR_NOERROR) {
            Fail(true, Step::Start, result);
            return false;
        }
    }
    result = m_services.InStart(m_input);
    if (result != MMSYSERR_NOERROR) {
        Fail(true, Step::Start, result);
        return false;
    }
    return true;
}

void KarmaLink::CloseInput(HMIDIIN input) {
    for (auto call : {&IMidiServices::InStop, &IMidiServices::InReset, &IMidiServices::InClose}) {
        const MidiResult result = (m_services.*call)(input);
        if (result != MMSYSERR_NOERROR) {
            Fail(true, Step::Close, result);
        }
    }
}

void KarmaLink::Close() {
    if (Running()) {
        m_exchange.Abandon();
        m_exchange.TakeActions();
    }
    CloseSearchPorts();
    // First: the buffers that the reset below returns are freed, not queued again.
    m_inbox->SetRequeue(false);
    if (m_input != 0) {
        CloseInput(m_input);
        m_input = 0;
    }
    if (m_output != 0) {
        for (auto call : {&IMidiServices::OutReset, &IMidiServices::OutClose}) {
            const MidiResult result = (m_services.*call)(m_output);
            if (result != MMSYSERR_NOERROR) {
                Fail(false, Step::Close, result);
            }
        }
        m_output = 0;
    }
    m_outputEvent.reset();
    m_inbox->Drop();
}

void KarmaLink::Refill() {
    const int missing = m_inbox->TakeMissing();
    if (m_input == 0) {
        return;  // a search input that went deaf: its turn is short anyway
    }
    for (int i = 0; i < missing; ++i) {
        const MidiResult result = m_services.InAddBuffer(
            m_input, std::make_unique<MidiBuffer>(m_options.bufferSize, m_inputDevice));
        if (result != MMSYSERR_NOERROR) {
            Fail(true, Step::Start, result);
            ++m_shortBuffers;
        }
    }
}

// ---- sending ----

bool KarmaLink::SendNow(HMIDIOUT output, const std::shared_ptr<MidiEvent>& event,
                        const Bytes& bytes) {
    if (output == 0 || !event) {
        return false;
    }
    // Opening and every earlier send leave the event signalled.
    event->Reset();
    MidiResult result = m_services.OutLongMsg(output, bytes.data(), bytes.size());
    if (result != MMSYSERR_NOERROR) {
        Fail(false, Step::Send, result);
        return false;
    }
    const std::size_t cableMs = bytes.size() * 1000 / kMidiCableBytesPerSecond;
    const int timeoutMs = static_cast<int>(std::min<std::size_t>(
        2 * cableMs + static_cast<std::size_t>(std::max(0, m_options.sendMarginMs)),
        kLongestSendMs));
    // Blocks the host's thread for the send; one that never completes counts as failed.
    if (!event->Wait(timeoutMs, &result)) {
        // Abandoned, so that its late completion cannot pass for the next send's.
        m_services.OutReset(output);
        Fail(false, Step::Send, MIDIERR_NOTREADY, true);
        return false;
    }
    if (result != MMSYSERR_NOERROR) {
        Fail(false, Step::Send, result);
        return false;
    }
    return true;
}

void KarmaLink::RunActions() {
    for (std::vector<ExchangeAction> actions = m_exchange.TakeActions(); !actions.empty();
         actions = m_exchange.TakeActions()) {
        std::optional<std::uint32_t> unavailable;
        for (const ExchangeAction& action : actions) {
            if (unavailable && action.output == *unavailable) {
                continue;  // the Send of an output that did not open
            }
            switch (action.kind) {
                case ExchangeAction::Kind::Open: {
                    CloseSearchOutput();
                    if (!m_searchEvent) {
                        m_searchEvent = CreateMidiEvent();
                    }
                    const MidiResult result =
                        m_services.OutOpen(&m_searchOutput, action.output, m_searchEvent);
                    if (result != MMSYSERR_NOERROR) {
                        m_searchOutput = 0;
                        Fail(false, Step::Open, result);
                        unavailable = action.output;
                        m_exchange.OutputUnavailable(Now());
                    } else {
                        m_searchOutputDevice = action.output;
                    }
                    break;
                }
                case ExchangeAction::Kind::Send: {
                    const bool sent = action.output == kConnectionOutput
                                          ? SendNow(m_output, m_outputEvent, action.bytes)
                                          : SendNow(m_searchOutput, m_searchEvent, action.bytes);
                    if (sent) {
                        m_exchange.Sent(Now());
                    } else {
                        m_exchange.SendFailed(Now());
                    }
                    break;
                }
                case ExchangeAction::Kind::Close:
                    CloseSearchOutput();
                    break;
            }
        }
    }
    if (m_exchange.Ended() && m_exchange.Kind() == ExchangeKind::Search) {
        CloseSearchPorts();
    }
}

// ---- the search ----

void KarmaLink::CloseSearchOutput() {
    if (m_searchOutput == 0) {
        return;
    }
    for (auto call : {&IMidiServices::OutReset, &IMidiServices::OutClose}) {
        const MidiResult result = (m_services.*call)(m_searchOutput);
        if (result != MMSYSERR_NOERROR) {
            Fail(false, Step::Close, result);
        }
    }
    m_searchOutput = 0;
    m_searchOutputDevice = kNoDevice;
}

void KarmaLink::CloseSearchPorts() {
    CloseSearchOutput();
    if (m_searchInputs.empty()) {
        return;
    }
    m_inbox->SetRequeue(false);
    for (HMIDIIN input : std::exchange(m_searchInputs, {})) {
        CloseInput(input);
    }
    // What the inputs heard was for the search alone.
    m_inbox->Drop();
    m_searchEvent.reset();
}

bool KarmaLink::Search() {
    if (Running()) {
        return false;
    }
    Close();  // the search finds the connection afresh
    m_inbox->Drop();
    // Every input listens, each buffer marked with its device, and buffers are queued again: a
    // message of another device on an input cannot deafen it to the Karma.
    m_inbox->SetRequeue(true);
    const std::uint32_t inputs = m_services.InGetNumDevs();
    const std::uint32_t outputs = m_services.OutGetNumDevs();
    for (std::uint32_t device = 0; device < inputs && outputs != 0; ++device) {
        HMIDIIN input = 0;
        MidiResult result = m_services.InOpen(&input, device, &Inbox::Proc,
                                              reinterpret_cast<std::uintptr_t>(m_inbox.get()));
        if (result != MMSYSERR_NOERROR) {
            Fail(true, Step::Open, result);
            continue;
        }
        m_searchInputs.push_back(input);
        result = m_services.InAddBuffer(input,
                                        std::make_unique<MidiBuffer>(m_options.bufferSize, device));
        if (result == MMSYSERR_NOERROR) {
            result = m_services.InStart(input);
        }
        if (result != MMSYSERR_NOERROR) {
            Fail(true, Step::Start, result);
        }
    }
    // Nobody could hear an answer: nothing to ask.
    const std::uint32_t asked = m_searchInputs.empty() ? 0 : outputs;
    m_exchange.BeginSearch(asked, Now(), m_options.searchWindowMs);
    RunActions();
    return true;
}

// ---- requests ----

bool KarmaLink::Identify(int silenceMs) {
    if (!Connected() || Running()) {
        return false;
    }
    m_inbox->Drop();
    if (!m_exchange.BeginIdentify(Now(), silenceMs)) {
        return false;
    }
    RunActions();
    return true;
}

bool KarmaLink::Dump(Bytes request, int silenceMs) {
    if (!Connected() || Running()) {
        return false;
    }
    // What has arrived and was not taken answers an earlier request.
    m_inbox->Drop();
    if (!m_exchange.BeginDump(std::move(request), Now(), silenceMs)) {
        return false;
    }
    RunActions();
    return true;
}

bool KarmaLink::Write(Bytes message, int silenceMs) {
    if (!Connected() || Running()) {
        return false;
    }
    m_inbox->Drop();
    if (!m_exchange.BeginWrite(std::move(message), Now(), silenceMs)) {
        return false;
    }
    RunActions();
    return true;
}

std::uint64_t KarmaLink::Pump() {
    // Cleared first: a chunk arriving while this runs wakes the host again.
    m_inbox->wakePending.store(false);
    Refill();
    std::uint64_t bytes = 0;
    for (Inbox::Chunk& chunk : m_inbox->TakeAll()) {
        if (chunk.broken) {
            m_exchange.ReceiveBroken(chunk.device);
            continue;
        }
        bytes += chunk.bytes.size();
        m_exchange.Receive(chunk.device, chunk.bytes.data(), chunk.bytes.size(), chunk.time);
    }
    m_exchange.Tick(Now());
    RunActions();
    return bytes;
}

ExchangeResult KarmaLink::TakeResult() {
    return m_exchange.TakeResult();
}

void KarmaLink::Abandon() {
    m_exchange.Abandon();
    RunActions();
}

// ---- waiting ----

void KarmaLink::WaitForInput(Millis until) {
    std::unique_lock lock(m_inbox->mutex);
    const auto deadline = Clock::time_point(std::chrono::milliseconds(until));
    m_inbox->arrived.wait_until(lock, deadline, [this] {
        return m_inbox->cancelled || !m_inbox->chunks.empty() || m_inbox->missing > 0;
    });
}

void KarmaLink::Cancel() {
    {
        std::lock_guard lock(m_inbox->mutex);
        m_inbox->cancelled = true;
    }
    m_inbox->arrived.notify_all();
    if (m_inbox->wake && !m_inbox->wakePending.exchange(true)) {
        m_inbox->wake();
    }
}

ExchangeResult KarmaLink::Await(const std::function<void(std::uint64_t)>& traffic) {
    // A bound on each wait even without a deadline, so that a Cancel is never missed for long.
    constexpr Millis kLongestWaitMs = 1000;
    while (Running()) {
        if (Cancelled()) {
            Abandon();
            break;
        }
        const Millis now = Now();
        WaitForInput(std::min(Deadline().value_or(now + kLongestWaitMs), now + kLongestWaitMs));
        const std::uint64_t bytes = Pump();
        if (bytes != 0 && traffic) {
            traffic(bytes);
        }
    }
    return TakeResult();
}

bool KarmaLink::Cancelled() const {
    std::lock_guard lock(m_inbox->mutex);
    return m_inbox->cancelled;
}

}  // namespace bq::midi

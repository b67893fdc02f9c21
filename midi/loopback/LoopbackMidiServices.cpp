#include "midi/loopback/LoopbackMidiServices.h"

#include <algorithm>
#include <thread>

namespace bq::midi {
namespace {

constexpr std::size_t kMaxNameLength = 31;
// A message without its F7 is not kept beyond this; far above the largest dump.
constexpr std::size_t kMaxPartialMessage = 4u << 20;

std::string ProductName(const std::string& name) {
    return name.substr(0, kMaxNameLength);
}

}  // namespace

LoopbackMidiServices::LoopbackMidiServices(std::vector<std::string> inputNames,
                                           std::vector<std::string> outputNames)
    : m_inputNames(std::move(inputNames)),
      m_outputNames(std::move(outputNames)),
      m_sent(m_outputNames.size()),
      m_worker([this] { return Poll(); }) {}

LoopbackMidiServices::~LoopbackMidiServices() {
    // No callback may run while the members go away.
    m_worker.Stop();
}

bool LoopbackMidiServices::AttachDevice(std::uint32_t output, std::uint32_t input,
                                        std::shared_ptr<IMidiDevice> device) {
    if (output >= m_outputNames.size() || input >= m_inputNames.size() || !device) {
        return false;
    }
    m_worker.RunSync([&] { m_wiring[output] = Wiring{input, std::move(device)}; });
    return true;
}

void LoopbackMidiServices::DetachDevice(std::uint32_t output) {
    m_worker.RunSync([&] { m_wiring.erase(output); });
}

bool LoopbackMidiServices::Inject(std::uint32_t input, std::vector<std::uint8_t> bytes,
                                  std::uint32_t delayMs) {
    if (input >= m_inputNames.size()) {
        return false;
    }
    m_worker.RunSync([&] { Schedule(input, delayMs, std::move(bytes)); });
    return true;
}

void LoopbackMidiServices::SetChunkSize(std::uint32_t bytes) {
    m_worker.RunSync([&] {
        m_chunkSize = bytes;
        for (auto& [handle, input] : m_inputs) {
            input.port->SetChunkLimit(bytes);
        }
    });
}

void LoopbackMidiServices::SetByteRate(std::uint32_t bytesPerSecond) {
    m_worker.RunSync([&] { m_byteRate = bytesPerSecond; });
}

void LoopbackMidiServices::HoldSends(bool hold) {
    m_worker.RunSync([&] {
        m_holdSends = hold;
        if (hold) {
            return;
        }
        for (auto& [handle, output] : m_outputs) {
            if (output.held > 0) {
                output.held = 0;
                MidiResult done = MMSYSERR_NOERROR;
                Fails(MidiCall::OutLongMsgDone, output.device, &done);
                output.event->Signal(done);
            }
        }
    });
}

void LoopbackMidiServices::AddFault(Fault fault) {
    std::lock_guard lock(m_faultMutex);
    if (!fault.text.empty()) {
        m_faultTexts[fault.result] = fault.text;
    }
    m_faults.push_back(FaultState{std::move(fault)});
}

void LoopbackMidiServices::ClearFaults() {
    std::lock_guard lock(m_faultMutex);
    m_faults.clear();
    m_faultTexts.clear();
}

bool LoopbackMidiServices::Fails(MidiCall call, std::int64_t device, MidiResult* result) {
    std::lock_guard lock(m_faultMutex);
    for (FaultState& state : m_faults) {
        const Fault& fault = state.fault;
        if (fault.call != call || (fault.device >= 0 && fault.device != device)) {
            continue;
        }
        ++state.seen;
        if (state.seen > fault.skip && (fault.times < 0 || state.fired < fault.times)) {
            ++state.fired;
            *result = fault.result;
            return true;
        }
    }
    return false;
}

bool LoopbackMidiServices::WaitIdle(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool idle = false;
        m_worker.RunSync([&] { idle = IsIdle(); });
        if (idle) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool LoopbackMidiServices::IsIdle() const {
    for (const auto& [device, line] : m_lines) {
        if (!line.runs.empty()) {
            return false;
        }
    }
    for (const auto& [handle, input] : m_inputs) {
        if (input.port->Started() && input.port->CanPump()) {
            return false;
        }
    }
    return true;
}

std::vector<std::vector<std::uint8_t>> LoopbackMidiServices::SentMessages(
    std::uint32_t output) const {
    std::vector<std::vector<std::uint8_t>> sent;
    auto* self = const_cast<LoopbackMidiServices*>(this);
    self->m_worker.RunSync([&] {
        if (output < m_sent.size()) {
            sent = m_sent[output];
        }
    });
    return sent;
}

void LoopbackMidiServices::ClearSentMessages() {
    m_worker.RunSync([&] {
        for (auto& messages : m_sent) {
            messages.clear();
        }
    });
}

std::size_t LoopbackMidiServices::QueuedBuffers(HMIDIIN input) const {
    std::size_t count = 0;
    auto* self = const_cast<LoopbackMidiServices*>(this);
    self->m_worker.RunSync([&] {
        if (const Input* open = self->m_inputs.Find(input)) {
            count = open->port->QueuedBuffers();
        }
    });
    return count;
}

std::size_t LoopbackMidiServices::OpenInputs() const {
    std::size_t count = 0;
    auto* self = const_cast<LoopbackMidiServices*>(this);
    self->m_worker.RunSync([&] { count = m_inputs.Size(); });
    return count;
}

std::size_t LoopbackMidiServices::OpenOutputs() const {
    std::size_t count = 0;
    auto* self = const_cast<LoopbackMidiServices*>(this);
    self->m_worker.RunSync([&] { count = m_outputs.Size(); });
    return count;
}

// ---- worker side ----

void LoopbackMidiServices::Schedule(std::uint32_t inputDevice, std::uint32_t delayMs,
                                    std::vector<std::uint8_t> bytes) {
    Line& line = m_lines[inputDevice];
    line.runs.push_back(Run{delayMs, std::move(bytes)});
    m_worker.Wake();
}

void LoopbackMidiServices::FeedInput(std::uint32_t inputDevice, const std::uint8_t* bytes,
                                     std::size_t count) {
    for (auto& [handle, input] : m_inputs) {
        if (input.device == inputDevice) {
            // Held by a copy: the callback may close the input while it runs.
            std::shared_ptr<SysExInput> port = input.port;
            port->Feed(bytes, count);
            port->Pump();
            return;
        }
    }
    // Nobody listens on that input: the bytes are lost, as on a cable.
}

void LoopbackMidiServices::Deliver(std::uint32_t inputDevice, Line& line, Clock::time_point now,
                                   int* waitMs) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    auto waitUntil = [&](Clock::time_point when) {
        const auto us = duration_cast<microseconds>(when - now).count();
        const int ms = static_cast<int>(std::max<std::int64_t>(1, (us + 999) / 1000));
        *waitMs = *waitMs < 0 ? ms : std::min(*waitMs, ms);
    };
    while (!line.runs.empty()) {
        Run& run = line.runs.front();
        if (!line.readySet) {
            line.ready = now + std::chrono::milliseconds(run.delayMs);
            line.readySet = true;
        }
        if (now < line.ready) {
            waitUntil(line.ready);
            return;
        }
        const std::size_t total = run.bytes.size();
        const std::uint64_t rate = m_byteRate;
        std::size_t due = total;
        if (rate != 0) {
            const auto us = duration_cast<microseconds>(now - line.ready).count();
            due = static_cast<std::size_t>(
                std::min<std::uint64_t>(total, static_cast<std::uint64_t>(us) * rate / 1000000));
        }
        if (due > line.offset) {
            const std::size_t from = line.offset;
            line.offset = due;
            // FeedInput may call back into the program, which may schedule more runs: `run`
            // stays valid (deque push_back keeps references), and the offset is already moved.
            FeedInput(inputDevice, run.bytes.data() + from, due - from);
        }
        if (line.offset < total) {
            waitUntil(line.ready + microseconds((line.offset + 1) * 1000000 / rate));
            return;
        }
        const Clock::time_point finished =
            rate == 0 ? now : line.ready + microseconds(total * 1000000 / rate);
        line.runs.pop_front();
        line.offset = 0;
        line.readySet = !line.runs.empty();
        if (line.readySet) {
            line.ready = finished + std::chrono::milliseconds(line.runs.front().delayMs);
        }
    }
}

int LoopbackMidiServices::Poll() {
    int waitMs = -1;
    const Clock::time_point now = Clock::now();
    for (auto& [device, line] : m_lines) {
        Deliver(device, line, now, &waitMs);
    }
    // Bytes that waited for a buffer the program has queued since.
    std::vector<std::shared_ptr<SysExInput>> ports;
    for (auto& [handle, input] : m_inputs) {
        if (input.port->CanPump()) {
            ports.push_back(input.port);
        }
    }
    for (auto& port : ports) {
        port->Pump();
    }
    return waitMs;
}

void LoopbackMidiServices::HandleSent(std::uint32_t outputDevice, Output& output,
                                      const std::uint8_t* data, std::size_t length) {
    std::vector<std::vector<std::uint8_t>> messages;
    std::vector<std::uint8_t>& partial = output.partial;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = data[i];
        if (byte >= 0xF8) {
            continue;
        }
        if (byte == 0xF0) {
            partial.assign(1, byte);
        } else if (partial.empty()) {
            continue;  // not inside a SysEx message: short messages mean nothing here
        } else if ((byte & 0x80) != 0 && byte != 0xF7) {
            partial.clear();  // broken by another status byte
        } else {
            partial.push_back(byte);
            if (byte == 0xF7) {
                messages.push_back(std::move(partial));
                partial.clear();
            } else if (partial.size() > kMaxPartialMessage) {
                partial.clear();
                partial.shrink_to_fit();
            }
        }
    }
    for (auto& message : messages) {
        auto it = m_wiring.find(outputDevice);
        if (it != m_wiring.end()) {
            std::vector<MidiTimedBytes> reply;
            it->second.device->HandleMessage(message.data(), message.size(), &reply);
            for (auto& timed : reply) {
                Schedule(it->second.input, timed.delayMs, std::move(timed.bytes));
            }
        }
        m_sent[outputDevice].push_back(std::move(message));
    }
}

// ---- IMidiServices ----

MidiResult LoopbackMidiServices::CheckDevice(MidiCall call, std::uint32_t device,
                                             std::size_t devices, bool argumentsGiven) {
    MidiResult result = MMSYSERR_NOERROR;
    if (Fails(call, device, &result)) {
        return result;
    }
    if (device >= devices) {
        return MMSYSERR_BADDEVICEID;
    }
    return argumentsGiven ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
}

template <typename Entry, typename Action>
MidiResult LoopbackMidiServices::WithHandle(HandleTable<Entry>& table, std::uint32_t handle,
                                            MidiCall call, Action action) {
    MidiResult result = MMSYSERR_NOERROR;
    m_worker.RunSync([&] {
        result = table.With(handle, [&](Entry& entry) {
            MidiResult failed = MMSYSERR_NOERROR;
            return Fails(call, entry.device, &failed) ? failed : action(entry);
        });
    });
    return result;
}

template <typename Entry, typename Open>
MidiResult LoopbackMidiServices::OpenDevice(HandleTable<Entry>& table, MidiCall call,
                                            std::uint32_t device, std::size_t devices,
                                            bool argumentsGiven, Open open) {
    MidiResult result = CheckDevice(call, device, devices, argumentsGiven);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    m_worker.RunSync([&] {
        if (table.Any([device](const Entry& entry) { return entry.device == device; })) {
            result = MMSYSERR_ALLOCATED;
            return;
        }
        open();
    });
    return result;
}

std::uint32_t LoopbackMidiServices::InGetNumDevs() {
    MidiResult result = MMSYSERR_NOERROR;
    return Fails(MidiCall::InGetNumDevs, -1, &result)
               ? 0
               : static_cast<std::uint32_t>(m_inputNames.size());
}

std::uint32_t LoopbackMidiServices::OutGetNumDevs() {
    MidiResult result = MMSYSERR_NOERROR;
    return Fails(MidiCall::OutGetNumDevs, -1, &result)
               ? 0
               : static_cast<std::uint32_t>(m_outputNames.size());
}

MidiResult LoopbackMidiServices::InGetDevCaps(std::uint32_t device, std::string* name) {
    const MidiResult result =
        CheckDevice(MidiCall::InGetDevCaps, device, m_inputNames.size(), name != nullptr);
    if (result == MMSYSERR_NOERROR) {
        *name = ProductName(m_inputNames[device]);
    }
    return result;
}

MidiResult LoopbackMidiServices::OutGetDevCaps(std::uint32_t device, std::string* name) {
    const MidiResult result =
        CheckDevice(MidiCall::OutGetDevCaps, device, m_outputNames.size(), name != nullptr);
    if (result == MMSYSERR_NOERROR) {
        *name = ProductName(m_outputNames[device]);
    }
    return result;
}

MidiResult LoopbackMidiServices::InOpen(HMIDIIN* input, std::uint32_t device, MidiInProc callback,
                                        std::uintptr_t instance) {
    return OpenDevice(m_inputs, MidiCall::InOpen, device, m_inputNames.size(), input != nullptr,
                      [&] {
                          const HMIDIIN handle = m_inputs.Reserve();
                          auto port = std::make_shared<SysExInput>(handle, callback, instance);
                          port->SetChunkLimit(m_chunkSize);
                          m_inputs.Insert(handle, Input{device, port});
                          *input = handle;
                          port->Notify(MIM_OPEN);
                      });
}

MidiResult LoopbackMidiServices::InAddBuffer(HMIDIIN input, std::unique_ptr<MidiBuffer> buffer) {
    // On failure `buffer` is freed here.
    return WithHandle(m_inputs, input, MidiCall::InAddBuffer, [&](Input& open) {
        if (!buffer || !buffer->data || buffer->length == 0) {
            return MMSYSERR_INVALPARAM;
        }
        open.port->AddBuffer(std::move(buffer));
        // Waiting bytes go in on the next poll, not from inside a callback.
        m_worker.Wake();
        return MMSYSERR_NOERROR;
    });
}

MidiResult LoopbackMidiServices::InStart(HMIDIIN input) {
    return WithHandle(m_inputs, input, MidiCall::InStart, [](Input& open) {
        open.port->Start();
        return MMSYSERR_NOERROR;
    });
}

MidiResult LoopbackMidiServices::InStop(HMIDIIN input) {
    return WithHandle(m_inputs, input, MidiCall::InStop, [](Input& open) {
        std::shared_ptr<SysExInput> port = open.port;
        port->Stop();
        return MMSYSERR_NOERROR;
    });
}

MidiResult LoopbackMidiServices::InReset(HMIDIIN input) {
    return WithHandle(m_inputs, input, MidiCall::InReset, [](Input& open) {
        std::shared_ptr<SysExInput> port = open.port;
        port->Reset();
        return MMSYSERR_NOERROR;
    });
}

MidiResult LoopbackMidiServices::InClose(HMIDIIN input) {
    return WithHandle(m_inputs, input, MidiCall::InClose, [&](Input& open) {
        if (open.port->QueuedBuffers() > 0) {
            return MIDIERR_STILLPLAYING;  // the program must reset it first
        }
        m_inputs.Take(input)->port->Notify(MIM_CLOSE);
        return MMSYSERR_NOERROR;
    });
}

MidiResult LoopbackMidiServices::OutOpen(HMIDIOUT* output, std::uint32_t device,
                                         std::shared_ptr<MidiEvent> event) {
    return OpenDevice(m_outputs, MidiCall::OutOpen, device, m_outputNames.size(),
                      output != nullptr && event, [&] {
                          *output = m_outputs.Add(Output{device, event, {}, 0});
                          event->Signal();  // an output's event is signalled when it opens
                      });
}

MidiResult LoopbackMidiServices::OutLongMsg(HMIDIOUT output, const std::uint8_t* data,
                                            std::size_t length) {
    return WithHandle(m_outputs, output, MidiCall::OutLongMsg, [&](Output& out) {
        if (data == nullptr || length == 0) {
            return MMSYSERR_INVALPARAM;
        }
        HandleSent(out.device, out, data, length);
        if (m_holdSends) {
            ++out.held;
            return MMSYSERR_NOERROR;
        }
        MidiResult done = MMSYSERR_NOERROR;
        Fails(MidiCall::OutLongMsgDone, out.device, &done);
        out.event->Signal(done);
        return MMSYSERR_NOERROR;
    });
}

MidiResult LoopbackMidiServices::OutReset(HMIDIOUT output) {
    return WithHandle(m_outputs, output, MidiCall::OutReset, [](Output& out) {
        out.partial.clear();
        if (out.held > 0) {
            out.held = 0;
            out.event->Signal(MIDIERR_SEND_ABANDONED);
        }
        return MMSYSERR_NOERROR;
    });
}

MidiResult LoopbackMidiServices::OutClose(HMIDIOUT output) {
    return WithHandle(m_outputs, output, MidiCall::OutClose, [&](Output& out) {
        if (out.held > 0) {
            return MIDIERR_STILLPLAYING;
        }
        m_outputs.Take(output)->event->Signal();  // and when it closes
        return MMSYSERR_NOERROR;
    });
}

std::string LoopbackMidiServices::ErrorText(MidiResult result) {
    {
        std::lock_guard lock(m_faultMutex);
        auto it = m_faultTexts.find(result);
        if (it != m_faultTexts.end()) {
            return it->second;
        }
    }
    return StandardMidiErrorText(result);
}

std::string LoopbackMidiServices::InGetErrorText(MidiResult result) {
    return ErrorText(result);
}

std::string LoopbackMidiServices::OutGetErrorText(MidiResult result) {
    return ErrorText(result);
}

}  // namespace bq::midi

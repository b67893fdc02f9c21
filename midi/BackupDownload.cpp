#include "midi/BackupDownload.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace bq::midi {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// A MIDI cable carries 3125 bytes per second; a send may take twice its time on one and this.
constexpr std::size_t kMidiBytesPerSecond = 3125;
constexpr int kSendMarginMs = 5000;
// The services give port names of at most this many characters.
constexpr std::size_t kMaxPortName = 31;

std::string Kilobytes(std::uint64_t bytes) {
    return std::to_string((bytes + 512) / 1024) + " KB";
}

std::string Seconds(int ms) {
    if (ms % 1000 == 0) {
        const int s = ms / 1000;
        return std::to_string(s) + (s == 1 ? " second" : " seconds");
    }
    return std::to_string(ms) + " ms";
}

BackupStatus Fail(BackupError error, std::string reason, int bank = -1,
                  MidiResult midi = MMSYSERR_NOERROR) {
    return BackupStatus{error, midi, bank, std::move(reason)};
}

}  // namespace

// What the input callback may touch: the instance value points here. Chunks cross from the
// backend's thread to the waiting one by value.
struct BackupDownload::Inbox {
    struct Chunk {
        std::uint32_t device = 0;  // the buffer's user value: the input device it was queued on
        Bytes bytes;
        bool broken = false;  // a message broken by another status byte ends here

        // The whole messages this chunk completes; a broken one drops what was gathered.
        void FeedTo(SysExAssembler& assembler, std::vector<Bytes>* messages) const {
            messages->clear();
            if (broken) {
                assembler.Clear();
                return;
            }
            assembler.Feed(bytes.data(), bytes.size(), messages);
        }
    };
    enum class Next { Chunk, Timeout, Cancelled };

    IMidiServices* services = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Chunk> chunks;
    int missingBuffers = 0;
    bool cancelled = false;
    bool requeue = false;  // false while ports close: returned buffers are freed

    // Backend thread.
    static void Proc(HMIDIIN input, std::uint32_t message, std::uintptr_t instance,
                     std::unique_ptr<MidiBuffer> buffer) {
        auto* inbox = reinterpret_cast<Inbox*>(instance);
        if (inbox == nullptr || !buffer || (message != MIM_LONGDATA && message != MIM_LONGERROR)) {
            return;
        }
        const std::uint32_t n = std::min(buffer->bytesRecorded, buffer->length);
        Chunk chunk;
        chunk.device = static_cast<std::uint32_t>(buffer->user);
        chunk.broken = message == MIM_LONGERROR;
        // The bytes of a broken message are not passed on: they would be taken for a reply.
        if (!chunk.broken) {
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
        MidiResult requeued = MMSYSERR_NOERROR;
        if (requeue) {
            buffer->flags = 0;
            buffer->bytesRecorded = 0;
            requeued = inbox->services->InAddBuffer(input, std::move(buffer));
        }
        {
            std::lock_guard lock(inbox->mutex);
            if (requeued != MMSYSERR_NOERROR) {
                ++inbox->missingBuffers;  // the waiting thread queues a fresh one
            }
        }
        inbox->wake.notify_all();
    }

    // The next chunk, or why there is none by `deadline`.
    Next Take(Clock::time_point deadline, Chunk* chunk) {
        std::unique_lock lock(mutex);
        wake.wait_until(lock, deadline, [this] { return cancelled || !chunks.empty(); });
        if (cancelled) {
            return Next::Cancelled;
        }
        if (chunks.empty()) {
            return Next::Timeout;
        }
        *chunk = std::move(chunks.front());
        chunks.pop_front();
        return Next::Chunk;
    }

    void Drop() {
        std::lock_guard lock(mutex);
        chunks.clear();
    }
    void SetRequeue(bool on) {
        std::lock_guard lock(mutex);
        requeue = on;
        if (!on) {
            missingBuffers = 0;
        }
    }
    int TakeMissing() {
        std::lock_guard lock(mutex);
        return std::exchange(missingBuffers, 0);
    }
};

// ---- the banks ----

BackupBank BackupBankAt(int index) {
    if (index < 0 || index >= kBackupBanks) {
        return {};
    }
    BackupBank bank;
    bank.combination = index < pcg::kMemoryBanks;
    bank.bank = index % pcg::kMemoryBanks;
    bank.recordSize = bank.combination ? pcg::kCombiRecordSize : pcg::ProgramRecordSize(bank.bank);
    bank.dumpBytes =
        sysex::kHeaderLength + sysex::PackedLength(pcg::kBankSlots * bank.recordSize) + 1;
    return bank;
}

std::string BackupBankTitle(int index) {
    const BackupBank bank = BackupBankAt(index);
    return bank.recordSize == 0 ? std::string() : pcg::BankTitle(bank.combination, bank.bank);
}

std::array<std::uint8_t, sysex::kDumpRequestLength> BackupDumpRequest(int index,
                                                                      std::uint8_t channel) {
    const BackupBank bank = BackupBankAt(index);
    const auto request = bank.combination ? sysex::CombiBankDumpRequest(bank.bank, channel)
                                          : sysex::ProgramBankDumpRequest(bank.bank, channel);
    return request.value_or(std::array<std::uint8_t, sysex::kDumpRequestLength>{});
}

BankReply DecodeBankReply(int index, Bytes message, std::uint8_t channel, Bytes* records) {
    BankReply result;
    const sysex::Reply reply = sysex::Classify(message.data(), message.size(), channel);
    if (reply.kind != sysex::ReplyKind::Dump) {
        result.kind = BankReplyKind::Refused;
        result.status = reply.kind;
        result.errorCode = reply.errorCode;
        return result;
    }
    // Every message of the Karma starts F0 42 3g 5D; another device's SysEx on the same cable
    // is not the dump.
    if (message.size() < 4 || message[1] != sysex::kKorgId || message[3] != sysex::kKarmaModel) {
        result.kind = BankReplyKind::Foreign;
        return result;
    }
    unsigned long decoded = static_cast<unsigned long>(message.size());
    sysex::UnpackSysEx(sysex::kHeaderLength, message.data(), &decoded);
    result.decoded = decoded;
    const std::size_t size = pcg::kBankSlots * BackupBankAt(index).recordSize;
    if (size == 0 || decoded < size) {
        result.kind = BankReplyKind::Malformed;
        return result;
    }
    message.resize(size);
    *records = std::move(message);
    result.kind = BankReplyKind::Records;
    return result;
}

// ---- reassembly ----

void SysExAssembler::Feed(const std::uint8_t* bytes, std::size_t count,
                          std::vector<Bytes>* complete) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte >= 0xF8) {
            continue;  // real-time bytes may stand anywhere
        }
        if (byte == sysex::kSysExStart) {
            m_message.assign(1, byte);
            m_inside = true;
            continue;
        }
        if (!m_inside) {
            continue;
        }
        if ((byte & 0x80) != 0 && byte != sysex::kSysExEnd) {
            Clear();
            continue;
        }
        if (m_message.size() >= kLimit) {
            Clear();  // passed over up to the next F0
            continue;
        }
        m_message.push_back(byte);
        if (byte == sysex::kSysExEnd) {
            complete->push_back(std::move(m_message));
            Clear();
        }
    }
}

void SysExAssembler::Clear() {
    m_message = Bytes();
    m_inside = false;
}

// ---- the download ----

BackupDownload::BackupDownload(IMidiServices& services)
    : m_services(services), m_inbox(std::make_unique<Inbox>()), m_event(CreateMidiEvent()) {
    m_inbox->services = &services;
}

BackupDownload::~BackupDownload() {
    Close();
}

void BackupDownload::SetSilenceMs(int ms) {
    m_silenceMs = ms > 0 ? ms : kDefaultSilenceMs;
}

void BackupDownload::Cancel() {
    {
        std::lock_guard lock(m_inbox->mutex);
        m_inbox->cancelled = true;
    }
    m_inbox->wake.notify_all();
}

bool BackupDownload::Cancelled() const {
    std::lock_guard lock(m_inbox->mutex);
    return m_inbox->cancelled;
}

MidiResult BackupDownload::Send(HMIDIOUT output, const std::uint8_t* data, std::size_t length) {
    // Opening and every earlier send leave the event signalled.
    m_event->Reset();
    MidiResult result = m_services.OutLongMsg(output, data, length);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    const int timeoutMs = static_cast<int>(2 * length * 1000 / kMidiBytesPerSecond) + kSendMarginMs;
    if (!m_event->Wait(timeoutMs, &result)) {
        // Abandoned, so that its late completion cannot pass for the next send's.
        m_services.OutReset(output);
        return MIDIERR_NOTREADY;
    }
    return result;
}

void BackupDownload::CloseInput(HMIDIIN input) {
    m_services.InStop(input);
    m_services.InReset(input);  // hands every buffer back, to be freed
    m_services.InClose(input);
}

void BackupDownload::CloseOutput(HMIDIOUT output) {
    m_services.OutReset(output);
    m_services.OutClose(output);
}

void BackupDownload::Close() {
    m_inbox->SetRequeue(false);
    if (m_input != 0) {
        CloseInput(m_input);
        m_input = 0;
    }
    if (m_output != 0) {
        CloseOutput(m_output);
        m_output = 0;
    }
    m_inbox->Drop();
}

void BackupDownload::Refill() {
    for (int missing = m_inbox->TakeMissing(); missing > 0 && m_input != 0; --missing) {
        m_services.InAddBuffer(m_input,
                               std::make_unique<MidiBuffer>(kInputBufferSize, m_inputDevice));
    }
}

BackupStatus BackupDownload::OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice) {
    m_inbox->Drop();
    m_inbox->SetRequeue(true);
    m_inputDevice = inputDevice;
    m_services.InGetDevCaps(inputDevice, &m_inputName);
    m_services.OutGetDevCaps(outputDevice, &m_outputName);
    MidiResult result = m_services.InOpen(&m_input, inputDevice, &Inbox::Proc,
                                          reinterpret_cast<std::uintptr_t>(m_inbox.get()));
    if (result != MMSYSERR_NOERROR) {
        m_input = 0;
        return Fail(
            BackupError::OpenFailed,
            "cannot open the MIDI input " + m_inputName + ": " + m_services.InGetErrorText(result),
            -1, result);
    }
    for (int i = 0; i < kInputBuffers && result == MMSYSERR_NOERROR; ++i) {
        result = m_services.InAddBuffer(
            m_input, std::make_unique<MidiBuffer>(kInputBufferSize, inputDevice));
    }
    if (result == MMSYSERR_NOERROR) {
        result = m_services.InStart(m_input);
    }
    if (result != MMSYSERR_NOERROR) {
        const std::string text = m_services.InGetErrorText(result);
        Close();
        return Fail(BackupError::OpenFailed,
                    "cannot start the MIDI input " + m_inputName + ": " + text, -1, result);
    }
    result = m_services.OutOpen(&m_output, outputDevice, m_event);
    if (result != MMSYSERR_NOERROR) {
        m_output = 0;
        const std::string text = m_services.OutGetErrorText(result);
        Close();
        return Fail(BackupError::OpenFailed,
                    "cannot open the MIDI output " + m_outputName + ": " + text, -1, result);
    }
    return {};
}

BackupStatus BackupDownload::Find() {
    Close();
    const std::uint32_t inputs = m_services.InGetNumDevs();
    const std::uint32_t outputs = m_services.OutGetNumDevs();
    if (inputs == 0 || outputs == 0) {
        return Fail(BackupError::NoPorts, inputs == 0 ? "no MIDI input ports were found"
                                                      : "no MIDI output ports were found");
    }
    // Every input listens, each buffer marked with its device; buffers are queued again, so a
    // message of another device on an input cannot deafen it to the Karma.
    m_inbox->Drop();
    m_inbox->SetRequeue(true);
    std::vector<HMIDIIN> listening;
    MidiResult lastError = MMSYSERR_NOERROR;
    for (std::uint32_t device = 0; device < inputs; ++device) {
        HMIDIIN input = 0;
        MidiResult result = m_services.InOpen(&input, device, &Inbox::Proc,
                                              reinterpret_cast<std::uintptr_t>(m_inbox.get()));
        if (result != MMSYSERR_NOERROR) {
            lastError = result;
            continue;
        }
        listening.push_back(input);
        result =
            m_services.InAddBuffer(input, std::make_unique<MidiBuffer>(kInputBufferSize, device));
        if (result == MMSYSERR_NOERROR) {
            result = m_services.InStart(input);
        }
        if (result != MMSYSERR_NOERROR) {
            lastError = result;
        }
    }
    auto closeInputs = [&] {
        m_inbox->SetRequeue(false);
        for (HMIDIIN input : listening) {
            CloseInput(input);
        }
        m_inbox->Drop();
    };
    if (listening.empty()) {
        return Fail(BackupError::OpenFailed,
                    "no MIDI input could be opened: " + m_services.InGetErrorText(lastError), -1,
                    lastError);
    }

    const auto request = sysex::IdentityRequest();
    std::map<std::uint32_t, SysExAssembler> assemblers;
    std::vector<Bytes> messages;
    bool found = false;
    bool cancelled = false;
    std::uint32_t inputDevice = 0;
    std::uint32_t outputDevice = 0;
    std::uint8_t deviceId = 0;
    for (std::uint32_t device = 0; device < outputs && !found && !cancelled; ++device) {
        HMIDIOUT output = 0;
        if (m_services.OutOpen(&output, device, m_event) != MMSYSERR_NOERROR) {
            continue;
        }
        // Whether it went out does not matter: silence moves the search on.
        Send(output, request.data(), request.size());
        const auto deadline = Clock::now() + std::chrono::milliseconds(kSearchWindowMs);
        Inbox::Chunk chunk;
        while (!found) {
            const Inbox::Next next = m_inbox->Take(deadline, &chunk);
            if (next != Inbox::Next::Chunk) {
                cancelled = next == Inbox::Next::Cancelled;
                break;
            }
            chunk.FeedTo(assemblers[chunk.device], &messages);
            for (const Bytes& message : messages) {
                if (sysex::MatchIdentityReply(message.data(), message.size(), &deviceId)) {
                    found = true;
                    inputDevice = chunk.device;
                    outputDevice = device;
                    break;
                }
            }
        }
        CloseOutput(output);
    }
    closeInputs();
    if (cancelled) {
        return Fail(BackupError::Cancelled, "cancelled");
    }
    if (!found) {
        return Fail(BackupError::NotFound,
                    "no Korg Karma answered on any of the " + std::to_string(outputs) +
                        " MIDI outputs: check the cables, and that the Karma lets system "
                        "exclusive messages through");
    }
    m_channel = deviceId;
    return OpenConnection(inputDevice, outputDevice);
}

namespace {

// The device whose name is `name`; a name longer than the services give is matched by its
// start, when only one port starts so.
template <typename Caps>
bool FindPort(std::uint32_t count, Caps caps, const std::string& name, std::uint32_t* device) {
    const std::string shortName = name.substr(0, kMaxPortName);
    int matches = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string listed;
        if (caps(i, &listed) != MMSYSERR_NOERROR) {
            continue;
        }
        if (listed == name) {
            *device = i;
            return true;
        }
        if (name.size() > kMaxPortName && listed == shortName) {
            *device = i;
            ++matches;
        }
    }
    return matches == 1;
}

}  // namespace

BackupStatus BackupDownload::Connect(const std::string& inputName, const std::string& outputName) {
    Close();
    std::uint32_t inputDevice = 0;
    std::uint32_t outputDevice = 0;
    if (!FindPort(
            m_services.InGetNumDevs(),
            [this](std::uint32_t i, std::string* n) { return m_services.InGetDevCaps(i, n); },
            inputName, &inputDevice)) {
        return Fail(BackupError::PortNotFound, "there is no MIDI port " + inputName +
                                                   " to receive from (a port that sends MIDI)");
    }
    if (!FindPort(
            m_services.OutGetNumDevs(),
            [this](std::uint32_t i, std::string* n) { return m_services.OutGetDevCaps(i, n); },
            outputName, &outputDevice)) {
        return Fail(BackupError::PortNotFound, "there is no MIDI port " + outputName +
                                                   " to send to (a port that receives MIDI)");
    }
    BackupStatus status = OpenConnection(inputDevice, outputDevice);
    if (!status.Succeeded()) {
        return status;
    }
    const auto request = sysex::IdentityRequest();
    const MidiResult sent = Send(m_output, request.data(), request.size());
    if (sent != MMSYSERR_NOERROR) {
        const std::string text = m_services.OutGetErrorText(sent);
        Close();
        return Fail(BackupError::SendFailed,
                    "cannot send the Identity Request to " + outputName + ": " + text, -1, sent);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_silenceMs);
    SysExAssembler assembler;
    std::vector<Bytes> messages;
    Inbox::Chunk chunk;
    for (;;) {
        const Inbox::Next next = m_inbox->Take(deadline, &chunk);
        if (next != Inbox::Next::Chunk) {
            Close();
            if (next == Inbox::Next::Cancelled) {
                return Fail(BackupError::Cancelled, "cancelled");
            }
            return Fail(BackupError::NoAnswer, "no Korg Karma answered on " + inputName +
                                                   " within " + Seconds(m_silenceMs));
        }
        Refill();
        chunk.FeedTo(assembler, &messages);
        for (const Bytes& message : messages) {
            if (sysex::MatchIdentityReply(message.data(), message.size(), &m_channel)) {
                return {};
            }
        }
    }
}

BackupStatus BackupDownload::Download(const std::vector<int>& banks, pcg::KarmaMemory* memory,
                                      const ProgressFn& progress) {
    if (memory == nullptr) {
        return Fail(BackupError::OpenFailed, "nowhere to put the banks");
    }
    for (int index : banks) {
        if (index < 0 || index >= kBackupBanks) {
            return Fail(BackupError::OpenFailed, "there is no bank " + std::to_string(index));
        }
    }
    if (!Connected()) {
        return Fail(BackupError::OpenFailed, "not connected to the Karma");
    }
    BackupProgress state;
    state.steps = static_cast<int>(banks.size());
    for (int index : banks) {
        state.expectedBytes += BackupBankAt(index).dumpBytes;
    }
    auto report = [&] {
        if (progress) {
            progress(state);
        }
    };

    SysExAssembler assembler;
    std::vector<Bytes> messages;
    for (std::size_t step = 0; step < banks.size(); ++step) {
        const int index = banks[step];
        const BackupBank bank = BackupBankAt(index);
        const std::string title = BackupBankTitle(index);
        state.step = static_cast<int>(step) + 1;
        state.bank = index;
        state.bankDone = false;
        // What is left of an earlier answer belongs to no request of ours.
        m_inbox->Drop();
        assembler.Clear();
        report();
        if (Cancelled()) {
            return Fail(BackupError::Cancelled, "cancelled", index);
        }

        const auto request = BackupDumpRequest(index, m_channel);
        const MidiResult sent = Send(m_output, request.data(), request.size());
        if (sent != MMSYSERR_NOERROR) {
            return Fail(
                BackupError::SendFailed,
                "cannot send the request for " + title + ": " + m_services.OutGetErrorText(sent),
                index, sent);
        }
        std::uint64_t bankBytes = 0;
        auto deadline = Clock::now() + std::chrono::milliseconds(m_silenceMs);
        Bytes records;
        while (records.empty()) {
            Inbox::Chunk chunk;
            const Inbox::Next next = m_inbox->Take(deadline, &chunk);
            if (next == Inbox::Next::Cancelled) {
                return Fail(BackupError::Cancelled, "cancelled", index);
            }
            if (next == Inbox::Next::Timeout) {
                if (bankBytes == 0) {
                    return Fail(BackupError::Silent,
                                "the Karma did not answer the request for " + title + " within " +
                                    Seconds(m_silenceMs),
                                index);
                }
                return Fail(BackupError::Silent,
                            "the Karma went silent for " + Seconds(m_silenceMs) +
                                " while sending " + title + " (" + Kilobytes(bankBytes) + " of " +
                                Kilobytes(bank.dumpBytes) + " received)",
                            index);
            }
            deadline = Clock::now() + std::chrono::milliseconds(m_silenceMs);
            Refill();
            if (!chunk.broken) {
                bankBytes += chunk.bytes.size();
                state.bytes += chunk.bytes.size();
                report();
            }
            chunk.FeedTo(assembler, &messages);
            for (Bytes& message : messages) {
                const std::size_t length = message.size();
                const BankReply reply =
                    DecodeBankReply(index, std::move(message), m_channel, &records);
                switch (reply.kind) {
                    case BankReplyKind::Records:
                        break;
                    case BankReplyKind::Foreign:
                        continue;
                    case BankReplyKind::Refused:
                        return Fail(BackupError::Refused,
                                    "the Karma refused to send " + title +
                                        (reply.status == sysex::ReplyKind::Error
                                             ? " (Error Reply, code " +
                                                   std::to_string(reply.errorCode) + ")"
                                             : " (Failed Reply)"),
                                    index);
                    case BankReplyKind::Malformed:
                        return Fail(BackupError::BadDump,
                                    "the dump of " + title + " (" + std::to_string(length) +
                                        " bytes) does not hold 128 records of " +
                                        std::to_string(bank.recordSize) + " bytes",
                                    index);
                }
                break;
            }
        }
        if (bank.combination) {
            memory->combis[bank.bank] = std::move(records);
        } else {
            memory->programs[bank.bank] = std::move(records);
        }
        state.bankDone = true;
        report();
    }
    return {};
}

}  // namespace bq::midi

#include "midi/BackupDownload.h"

#include <utility>

namespace bq::midi {
namespace {

// The services give port names of at most this many characters.
constexpr std::size_t kMaxPortName = 31;

std::string Kilobytes(std::uint64_t bytes) {
    return std::to_string((bytes + 512) / 1024) + " KB";
}

BackupStatus Fail(BackupError error, std::string reason, int bank = -1,
                  MidiResult midi = MMSYSERR_NOERROR) {
    return BackupStatus{error, midi, bank, std::move(reason)};
}

KarmaLink::Options LinkOptions() {
    KarmaLink::Options options;
    options.bufferSize = BackupDownload::kInputBufferSize;
    options.buffers = BackupDownload::kInputBuffers;
    options.searchWindowMs = BackupDownload::kSearchWindowMs;
    return options;
}

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

std::string SilenceText(int ms) {
    if (ms % 1000 == 0) {
        const int s = ms / 1000;
        return std::to_string(s) + (s == 1 ? " second" : " seconds");
    }
    return std::to_string(ms) + " ms";
}

BackupDownload::BackupDownload(IMidiServices& services)
    : m_services(services), m_link(services, LinkOptions()) {}

BackupDownload::~BackupDownload() {
    Close();
}

void BackupDownload::SetSilenceMs(int ms) {
    m_silenceMs = ms > 0 ? ms : kDefaultSilenceMs;
}

void BackupDownload::Cancel() {
    m_link.Cancel();
}

bool BackupDownload::Cancelled() const {
    return m_link.Cancelled();
}

void BackupDownload::Close() {
    m_link.Close();
    m_link.TakeFailures();  // closing is best effort: nothing to tell
}

std::string BackupDownload::FailureText(MidiResult* result) {
    const std::vector<LinkFailure> failures = m_link.TakeFailures();
    if (failures.empty()) {
        *result = MMSYSERR_ERROR;
        return m_services.InGetErrorText(MMSYSERR_ERROR);
    }
    const LinkFailure& last = failures.back();
    *result = last.result;
    return last.input ? m_services.InGetErrorText(last.result)
                      : m_services.OutGetErrorText(last.result);
}

BackupStatus BackupDownload::OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice,
                                            std::uint8_t channel) {
    m_services.InGetDevCaps(inputDevice, &m_inputName);
    m_services.OutGetDevCaps(outputDevice, &m_outputName);
    m_link.TakeFailures();
    if (m_link.Open(inputDevice, outputDevice, channel)) {
        return {};
    }
    const std::vector<LinkFailure> failures = m_link.TakeFailures();
    const LinkFailure failure = failures.empty() ? LinkFailure{} : failures.back();
    const std::string text = failure.input ? m_services.InGetErrorText(failure.result)
                                           : m_services.OutGetErrorText(failure.result);
    Close();
    if (!failure.input) {
        return Fail(BackupError::OpenFailed,
                    "cannot open the MIDI output " + m_outputName + ": " + text, -1,
                    failure.result);
    }
    const char* what = failure.step == LinkFailure::Step::Open ? "open" : "start";
    return Fail(BackupError::OpenFailed,
                std::string("cannot ") + what + " the MIDI input " + m_inputName + ": " + text, -1,
                failure.result);
}

BackupStatus BackupDownload::Find() {
    Close();
    const std::uint32_t inputs = m_services.InGetNumDevs();
    const std::uint32_t outputs = m_services.OutGetNumDevs();
    if (inputs == 0 || outputs == 0) {
        return Fail(BackupError::NoPorts, inputs == 0 ? "no MIDI input ports were found"
                                                      : "no MIDI output ports were found");
    }
    m_link.TakeFailures();
    m_link.Search();
    // No input could listen: the search asked nobody.
    std::vector<LinkFailure> opening = m_link.TakeFailures();
    const ExchangeResult result = m_link.Await();
    m_link.TakeFailures();  // an output that would not open only moves the search on
    if (result.end == ExchangeEnd::Abandoned) {
        return Fail(BackupError::Cancelled, "cancelled");
    }
    if (result.end != ExchangeEnd::Found) {
        std::size_t inputFailures = 0;
        for (const LinkFailure& failure : opening) {
            inputFailures += failure.input && failure.step == LinkFailure::Step::Open ? 1 : 0;
        }
        if (inputFailures == inputs) {
            const MidiResult last = opening.back().result;
            return Fail(BackupError::OpenFailed,
                        "no MIDI input could be opened: " + m_services.InGetErrorText(last), -1,
                        last);
        }
        return Fail(BackupError::NotFound,
                    "no Korg Karma answered on any of the " + std::to_string(outputs) +
                        " MIDI outputs: check the cables, and that the Karma lets system "
                        "exclusive messages through");
    }
    return OpenConnection(result.input, result.output, result.channel);
}

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
    BackupStatus status = OpenConnection(inputDevice, outputDevice, 0);
    if (!status.Succeeded()) {
        return status;
    }
    m_link.Identify(m_silenceMs);
    const ExchangeResult result = m_link.Await();
    switch (result.end) {
        case ExchangeEnd::Found:
            // The channel the Karma answered on is the connection's from now on.
            m_link.SetChannel(result.channel);
            return {};
        case ExchangeEnd::NotSent: {
            MidiResult sent = MMSYSERR_NOERROR;
            const std::string text = FailureText(&sent);
            Close();
            return Fail(BackupError::SendFailed,
                        "cannot send the Identity Request to " + outputName + ": " + text, -1,
                        sent);
        }
        case ExchangeEnd::Abandoned:
            Close();
            return Fail(BackupError::Cancelled, "cancelled");
        default:
            Close();
            return Fail(BackupError::NoAnswer, "no Korg Karma answered on " + inputName +
                                                   " within " + SilenceText(m_silenceMs));
    }
}

BackupStatus BackupDownload::DownloadBank(int index, BackupProgress* state,
                                          const std::function<void()>& report,
                                          std::vector<std::uint8_t>* records) {
    const BackupBank bank = BackupBankAt(index);
    const std::string title = BackupBankTitle(index);
    if (Cancelled()) {
        return Fail(BackupError::Cancelled, "cancelled", index);
    }
    const auto request = BackupDumpRequest(index, Channel());
    m_link.TakeFailures();
    m_link.Dump(Bytes(request.begin(), request.end()), m_silenceMs);
    const ExchangeResult result = m_link.Await([&](std::uint64_t bytes) {
        state->bytes += bytes;
        report();
    });
    switch (result.end) {
        case ExchangeEnd::Dump:
            break;
        case ExchangeEnd::Abandoned:
            return Fail(BackupError::Cancelled, "cancelled", index);
        case ExchangeEnd::NotSent: {
            MidiResult sent = MMSYSERR_NOERROR;
            const std::string text = FailureText(&sent);
            return Fail(BackupError::SendFailed,
                        "cannot send the request for " + title + ": " + text, index, sent);
        }
        case ExchangeEnd::Refused:
            return Fail(BackupError::Refused,
                        "the Karma refused to send " + title +
                            (result.status == sysex::ReplyKind::Error
                                 ? " (Error Reply, code " + std::to_string(result.errorCode) + ")"
                                 : " (Failed Reply)"),
                        index);
        default:
            if (result.received == 0) {
                return Fail(BackupError::Silent,
                            "the Karma did not answer the request for " + title + " within " +
                                SilenceText(m_silenceMs),
                            index);
            }
            return Fail(BackupError::Silent,
                        "the Karma went silent for " + SilenceText(m_silenceMs) +
                            " while sending " + title + " (" + Kilobytes(result.received) + " of " +
                            Kilobytes(bank.dumpBytes) + " received)",
                        index);
    }
    if (!BankRecords(index, result.message, records)) {
        return Fail(BackupError::BadDump,
                    "the dump of " + title + " (" + std::to_string(result.message.size()) +
                        " bytes) does not hold 128 records of " + std::to_string(bank.recordSize) +
                        " bytes",
                    index);
    }
    return {};
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
    const std::function<void()> report = [&] {
        if (progress) {
            progress(state);
        }
    };

    for (std::size_t step = 0; step < banks.size(); ++step) {
        const int index = banks[step];
        const BackupBank bank = BackupBankAt(index);
        state.step = static_cast<int>(step) + 1;
        state.bank = index;
        state.bankDone = false;
        report();
        std::vector<std::uint8_t> records;
        for (int attempt = 1;; ++attempt) {
            const std::uint64_t before = state.bytes;
            BackupStatus status = DownloadBank(index, &state, report, &records);
            if (status.Succeeded()) {
                break;
            }
            const bool lost =
                status.error == BackupError::Silent || status.error == BackupError::BadDump;
            if (!lost) {
                return status;
            }
            if (attempt == kTries) {
                status.reason += "; asked " + std::to_string(kTries) + " times";
                return status;
            }
            // What came of the lost answer is not part of the download.
            state.bytes = before;
            state.again = status.reason + "; asking again (" + std::to_string(attempt + 1) +
                          " of " + std::to_string(kTries) + ")";
            report();
            state.again.clear();
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

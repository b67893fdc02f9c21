#pragma once

// The instrument for a program that may block, the command-line tools: finding the Karma (or
// taking the ports given) and downloading its banks, with progress, a bound on silence and
// cancellation. It drives the one exchange of every program (KarmaLink) and only waits.
//
// Threads: the public calls run on one thread of the caller's, which blocks in them; only
// Cancel may come from any other thread (or from the progress callback).

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/KarmaBanks.h"
#include "midi/KarmaLink.h"
#include "midi/MidiServices.h"
#include "midi/SysEx.h"
#include "model/PcgWriter.h"

namespace bq::midi {

enum class BackupError : std::uint8_t {
    None,
    NoPorts,       // no MIDI input or output ports at all
    PortNotFound,  // a port given by name does not exist
    NotFound,      // no Karma answered the search
    NoAnswer,      // no Karma answered on the ports given
    OpenFailed,    // a port could not be opened
    SendFailed,    // a request could not be sent
    Silent,        // the instrument stopped sending within a dump, or never answered it
    Refused,       // it answered a dump request with a status reply
    BadDump,       // a dump without 128 whole records
    Cancelled,
};

struct BackupStatus {
    BackupError error = BackupError::None;
    MidiResult midi = MMSYSERR_NOERROR;  // the MIDI services' result, when one failed
    int bank = -1;                       // the bank (0..11) it failed on, if any
    std::string reason;                  // for the user: what failed and why

    bool Succeeded() const { return error == BackupError::None; }
};

struct BackupProgress {
    int step = 0;   // 1-based place of the bank in this download
    int steps = 0;  // banks in this download
    int bank = 0;   // 0..11
    bool bankDone = false;
    std::uint64_t bytes = 0;          // received in this download so far
    std::uint64_t expectedBytes = 0;  // what the dumps of its banks come to
    // Set for one report when the bank's answer was lost and it is asked for again: why.
    std::string again;
};

// "5 seconds", "1 second", "250 ms": a silence bound as the reasons say it.
std::string SilenceText(int ms);

class BackupDownload {
public:
    static constexpr int kSearchWindowMs = 500;
    static constexpr int kDefaultSilenceMs = 5000;
    // Small buffers: at MIDI speed one comes back every third of a second, which keeps the
    // progress smooth and the silence bound close to the truth.
    static constexpr std::uint32_t kInputBufferSize = 1024;
    static constexpr int kInputBuffers = 16;

    explicit BackupDownload(IMidiServices& services);
    ~BackupDownload();
    BackupDownload(const BackupDownload&) = delete;
    BackupDownload& operator=(const BackupDownload&) = delete;

    // How long the instrument may send nothing, while a dump or an answer is awaited.
    void SetSilenceMs(int ms);
    int SilenceMs() const { return m_silenceMs; }

    // Sends the Identity Request to each output in turn while listening on every input, giving
    // each output 500 ms; the first Karma Identity Reply wins. Then opens the input it came on
    // and the output that was asked, with the global channel of the reply.
    BackupStatus Find();
    // Opens the ports of these names (as the services list them; names longer than the
    // services' 31 characters are matched by their start) and learns the global channel from
    // the Identity Reply that must come back on them within the silence bound.
    BackupStatus Connect(const std::string& inputName, const std::string& outputName);

    bool Connected() const { return m_link.Connected(); }
    const std::string& InputName() const { return m_inputName; }
    const std::string& OutputName() const { return m_outputName; }
    std::uint8_t Channel() const { return m_link.Channel(); }
    // The exchange it drives, for a tool that does more than download (a write, a restore).
    KarmaLink& Link() { return m_link; }

    using ProgressFn = std::function<void(const BackupProgress&)>;
    // Downloads the banks given by index (0..11), in that order, into *memory; every bank is
    // checked to hold 128 whole records before it is stored. A bank whose answer went silent
    // or came broken is asked for again, kTries times in all. The callback runs on this thread,
    // at the start of each bank, for every chunk received and when a bank is in.
    BackupStatus Download(const std::vector<int>& banks, pcg::KarmaMemory* memory,
                          const ProgressFn& progress = {});

    // Any thread. Ends the search or download in progress, and every later one, with
    // BackupError::Cancelled.
    void Cancel();
    bool Cancelled() const;

    // Closes the ports; the destructor does it too.
    void Close();

private:
    // One request for a bank and its answer, checked to hold 128 whole records.
    BackupStatus DownloadBank(int index, BackupProgress* state, const std::function<void()>& report,
                              std::vector<std::uint8_t>* records);
    BackupStatus OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice,
                                std::uint8_t channel);
    // The reason of the services' latest failure, for a message.
    std::string FailureText(MidiResult* result);

    IMidiServices& m_services;
    KarmaLink m_link;
    int m_silenceMs = kDefaultSilenceMs;
    std::string m_inputName;
    std::string m_outputName;
};

}  // namespace bq::midi

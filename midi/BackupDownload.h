#pragma once

// Downloading the instrument's whole memory for a backup, without a window: finding the Karma
// (or taking the ports given), requesting each bank dump, reassembling, classifying, unpacking
// and checking it, with progress, a bound on silence and cancellation.
//
// Threads: the public calls run on one thread of the caller's, which blocks in them; only
// Cancel may come from any other thread (or from the progress callback). The MIDI backend's
// input callback runs on the backend's own thread: it copies the bytes by value into a queue
// and wakes the waiting thread, nothing else.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiServices.h"
#include "midi/SysEx.h"
#include "model/PcgWriter.h"

namespace bq::midi {

// The twelve banks of the instrument in the order of the trees: Combination banks A to F
// (0..5), then Program banks A to F (6..11), bank F holding MOSS Programs.
constexpr int kBackupBanks = 12;

struct BackupBank {
    bool combination = true;
    int bank = 0;                // 0..5, A..F
    std::size_t recordSize = 0;  // 996, 804 or 416
    std::size_t dumpBytes = 0;   // the dump on the wire: 8 header bytes, 128 packed records, F7
};

// Index outside 0..11: a bank of record size 0.
BackupBank BackupBankAt(int index);
// "Combination Bank A" .. "Program Bank F (MOSS)".
std::string BackupBankTitle(int index);
// The dump request of bank `index` on global channel g.
std::array<std::uint8_t, sysex::kDumpRequestLength> BackupDumpRequest(int index,
                                                                      std::uint8_t channel);

// What a complete message received after a bank's dump request means for the backup.
enum class BankReplyKind {
    Records,    // the dump, holding 128 whole records
    Refused,    // a status reply: the instrument will not send the bank
    Malformed,  // a dump that does not unpack to 128 whole records
    Foreign,    // a SysEx message that is not the Karma's (another device's): passed over
};

struct BankReply {
    BankReplyKind kind = BankReplyKind::Malformed;
    sysex::ReplyKind status = sysex::ReplyKind::Dump;  // for Refused: Failed or Error
    std::uint8_t errorCode = 0;                        // of an Error Reply
    std::size_t decoded = 0;                           // unpacked bytes of a dump
};

// Pure. On Records, *records holds exactly the bank's 128 records (the unpacked dump's bytes
// beyond them, such as the closing F7 of a short last group, are dropped).
BankReply DecodeBankReply(int index, std::vector<std::uint8_t> message, std::uint8_t channel,
                          std::vector<std::uint8_t>* records);

// Complete SysEx messages from the chunks that an input hands back. Bytes outside a message are
// passed over, another status byte breaks the message being received, and a message longer
// than the limit is dropped (a device that never sends F7 cannot make it grow without bound).
class SysExAssembler {
public:
    static constexpr std::size_t kLimit = 256 * 1024;

    void Feed(const std::uint8_t* bytes, std::size_t count,
              std::vector<std::vector<std::uint8_t>>* complete);
    void Clear();
    std::size_t Pending() const { return m_message.size(); }

private:
    std::vector<std::uint8_t> m_message;
    bool m_inside = false;
};

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
};

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

    bool Connected() const { return m_input != 0 && m_output != 0; }
    const std::string& InputName() const { return m_inputName; }
    const std::string& OutputName() const { return m_outputName; }
    std::uint8_t Channel() const { return m_channel; }

    using ProgressFn = std::function<void(const BackupProgress&)>;
    // Downloads the banks given by index (0..11), in that order, into *memory; every bank is
    // checked to hold 128 whole records before it is stored. The callback runs on this thread,
    // at the start of each bank, for every chunk received and when a bank is in.
    BackupStatus Download(const std::vector<int>& banks, pcg::KarmaMemory* memory,
                          const ProgressFn& progress = {});

    // Any thread. Ends the search or download in progress, and every later one, with
    // BackupError::Cancelled.
    void Cancel();
    bool Cancelled() const;

    // Closes the ports; the destructor does it too.
    void Close();

    struct Inbox;

private:
    BackupStatus OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice);
    MidiResult Send(HMIDIOUT output, const std::uint8_t* data, std::size_t length);
    void CloseInput(HMIDIIN input);
    void CloseOutput(HMIDIOUT output);
    // Queues fresh buffers on the connection for those that the callback could not queue again.
    void Refill();

    IMidiServices& m_services;
    std::unique_ptr<Inbox> m_inbox;
    std::shared_ptr<MidiEvent> m_event;
    int m_silenceMs = kDefaultSilenceMs;
    HMIDIIN m_input = 0;
    HMIDIOUT m_output = 0;
    std::uint32_t m_inputDevice = 0;
    std::string m_inputName;
    std::string m_outputName;
    std::uint8_t m_channel = 0;
};

}  // namespace bq::midi

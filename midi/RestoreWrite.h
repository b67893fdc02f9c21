#pragma once

// Writing a restore plan for a program that may block (the command line): each planned slot as
// an Item Write through the link's Write exchange, one at a time, each waiting for its status
// reply. The first write that is refused or not answered ends the restore.
//
// Threads: Write runs on the caller's thread and blocks, the link's host thread; the progress
// callback runs there too. Cancel may come from any thread (or from the callback): the write
// under way is waited for, and none follows.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "midi/KarmaLink.h"
#include "midi/RestorePlan.h"
#include "model/PcgWriter.h"

namespace bq::midi {

enum class RestoreError : std::uint8_t {
    None,
    NotConnected,  // the link has no connection
    NoRecord,      // the plan names a slot the file holds no record for
    NotSent,       // a write could not be sent
    Refused,       // a Failed or Error Reply
    Silent,        // no reply within the silence bound
    Cancelled,     // Cancel, between two writes
    Abandoned,     // the link's own Cancel gave up on a write under way
};

struct RestoreStatus {
    RestoreError error = RestoreError::None;
    std::size_t written = 0;  // writes answered with a Completed Reply: the first `written`
                              // slots of the plan
    // The slot of the failed write (a plan slot past `written`), if one failed.
    RestoreSlot failed{-1, -1};
    // The failed write was sent and never answered: the instrument may hold it or not.
    bool unknown = false;
    sysex::ReplyKind reply = sysex::ReplyKind::Dump;  // Refused: the reply
    std::uint8_t errorCode = 0;                       //   ... and an Error Reply's code
    MidiResult midi = MMSYSERR_NOERROR;               // NotSent: the services' result
    std::string reason;  // for the user: what failed, how many slots were written

    bool Succeeded() const { return error == RestoreError::None; }
};

struct RestoreProgress {
    std::size_t item = 0;          // 1-based place of the write in the plan
    std::size_t items = 0;         // writes in the plan
    RestoreSlot slot;              // the slot being written
    bool done = false;             // false as it begins, true once the instrument has taken it
    bool bankDone = false;         // done, and the last write of its bank
    std::uint64_t bytes = 0;       // of the writes taken so far
    std::uint64_t totalBytes = 0;  // of every write of the plan
    // Set for one report when the write went unanswered and is sent again: why.
    std::string again;
};

class RestoreWrite {
public:
    static constexpr int kDefaultSilenceMs = 5000;

    explicit RestoreWrite(KarmaLink& link) : m_link(link) {}
    RestoreWrite(const RestoreWrite&) = delete;
    RestoreWrite& operator=(const RestoreWrite&) = delete;

    // How long the instrument may take to answer each write, once it is sent.
    void SetSilenceMs(int ms) { m_silenceMs = ms > 0 ? ms : kDefaultSilenceMs; }

    using ProgressFn = std::function<void(const RestoreProgress&)>;
    // Writes the plan's slots in its order, each with the file's record.
    RestoreStatus Write(const RestorePlan& plan, const pcg::KarmaMemory& file,
                        const ProgressFn& progress = {});

    // Any thread. The write under way ends as it would; no other begins, in this Write or a
    // later one.
    void Cancel() { m_cancelled.store(true); }
    bool Cancelled() const { return m_cancelled.load(); }

private:
    KarmaLink& m_link;
    int m_silenceMs = kDefaultSilenceMs;
    std::atomic<bool> m_cancelled{false};
};

}  // namespace bq::midi

#pragma once

// What the program knows of the instrument and does to it through the Workstation window: the
// instrument's memory as far as known (CWSMemory), the downloads that fill it, the writes (a
// send, a swap, the round trip) with the history that Undo and Redo walk, and the end of a
// connection. The window owns one; the view, the backup, the comparison and the find read its
// memory, and every write and download goes through here so that the memory stays true.
//
// User-interface thread only. Downloads and writes wait for the instrument in the window's
// nested loops; the window (and this object with it) may be gone when they return.

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "workstation/WSFrame.h"
#include "workstation/WriteHistory.h"

class CMIDIProgressDlg;
class CWSMemory;

class CWSSession : public QObject {
    Q_OBJECT
public:
    explicit CWSSession(CWSFrame& frame);
    ~CWSSession() override;
    CWSSession(const CWSSession&) = delete;
    CWSSession& operator=(const CWSSession&) = delete;

    CWSMemory& Memory() { return *m_memory; }
    const CWSMemory& Memory() const { return *m_memory; }
    bq::ws::WriteHistory& History() { return m_history; }
    const bq::ws::WriteHistory& History() const { return m_history; }

    // Downloads a bank into the memory, with the progress dialog; true when it came whole.
    bool DownloadBank(bool combination, int bank);
    // The same as one of several dumps under a dialog of the caller's (a backup).
    bool DownloadBankWith(CMIDIProgressDlg* dialog, bool combination, int bank,
                          CWSFrame::DumpEnd* end);
    // The bank was downloaded in this connection.
    bool BankDownloaded(bool combination, int bank) const;

    // Writes a Combination record into a place of the instrument. The step can be undone when
    // what the place held is known in this connection; otherwise it is one that cannot be.
    // Failures are reported. True when the instrument took it.
    bool SendCombi(const bq::ws::Place& target, const std::vector<std::uint8_t>& record);
    // The Combinations of two places of the instrument change places (two writes, one step).
    bool SwapCombis(const bq::ws::Place& target, const bq::ws::Place& source);
    // Asks, then copies the Combination being edited into A-000 (a single dump, one write).
    void RoundTrip();
    // One write of a record (a Combination's or a Program's) into a place, as a step of a
    // larger command that records the step itself (a restore); the memory follows its outcome.
    CWSFrame::WriteEnd WriteSlot(const bq::ws::Place& place,
                                 const std::vector<std::uint8_t>& record);
    // The writes of a larger command (a restore, a send with its Programs), the first
    // `applied` of which went through, as one step; one that cannot be undone when the
    // records before them are not all known in this connection.
    void RecordStep(bq::ws::StepKind kind, std::vector<bq::ws::SlotWrite> writes,
                    std::size_t applied);

    // The connection ended: what is known of the memory is from an earlier connection now, and
    // the history goes.
    void ConnectionEnded();
    // Before the connection is ended on purpose: true when the history is empty, or when the
    // user agrees to lose it (which clears it).
    bool ConfirmEnd();

    bool CanUndo() const;
    bool CanRedo() const;
    // "Undo Send to Bank A 005", "Can't Undo Send to Bank A 005" for a step that cannot be
    // undone, or "Undo" alone with nothing to undo; the same for Redo.
    QString UndoText() const;
    QString RedoText() const;
    // What a step is called: "Send to Bank A 005", "Swap of Bank B 010 and Bank B 020",
    // "Round Trip to Bank A 000", "Restore of 3 Banks".
    static QString StepName(const bq::ws::WriteStep& step);

    // Makes the writes of one undo or redo; the memory and the view follow each as it goes
    // through. A write that fails ends it with the transfer error message; the history then
    // says what the instrument holds. False when nothing was done or something failed.
    bool Undo();
    bool Redo();

signals:
    // What Undo and Redo would do changed.
    void HistoryChanged();

private:
    bool Replay(bool undo);
    // One Item Write of a record to a place; the memory follows its outcome (a completed write
    // is stored unless the caller stores it itself).
    CWSFrame::WriteEnd Write(const bq::ws::Place& place, const std::vector<std::uint8_t>& record,
                             bool store = true);
    void AddStep(bq::ws::StepKind kind, std::vector<bq::ws::SlotWrite> writes, std::size_t applied,
                 bool undoable);

    CWSFrame& m_frame;
    std::unique_ptr<CWSMemory> m_memory;
    bq::ws::WriteHistory m_history;
    // Counts the connections ended, so that a wait that outlived its connection touches
    // nothing.
    std::uint64_t m_generation = 0;
};

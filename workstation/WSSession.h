#pragma once

// What the program knows of the instrument for as long as one connection lasts: which banks
// were downloaded in it (a bank from an earlier connection may no longer be what the
// instrument holds: a different one may answer next), and the history of the writes made, with
// Undo and Redo. The Workstation window owns one and resets it when its ports close.
//
// User-interface thread only. Undo and Redo wait for the instrument in the window's nested
// loops; the window (and this object with it) may be gone when they return.

#include <QString>

#include <array>
#include <cstdint>

#include "workstation/WriteHistory.h"

class CWSFrame;

class CWSSession {
public:
    explicit CWSSession(CWSFrame& frame);
    CWSSession(const CWSSession&) = delete;
    CWSSession& operator=(const CWSSession&) = delete;

    bq::ws::WriteHistory& History() { return m_history; }
    const bq::ws::WriteHistory& History() const { return m_history; }

    void NoteBankDownloaded(bool combination, int bank);
    bool BankDownloaded(bool combination, int bank) const;

    // Forgets the banks and the history: the connection has ended.
    void Reset();
    // Before the connection is ended on purpose: true when the history is empty, or when the
    // user agrees to lose it (which clears it).
    bool ConfirmEnd();

    bool CanUndo() const;
    bool CanRedo() const;
    // "Undo Send to Bank A 005", or "Undo" alone with nothing to undo; the same for Redo.
    QString UndoText() const;
    QString RedoText() const;
    // What a step is called: "Send to Bank A 005", "Swap of Bank B 010 and Bank B 020",
    // "Round Trip to Bank A 000".
    static QString StepName(const bq::ws::WriteStep& step);

    // Makes the writes of one undo or redo, showing each in the Workstation view as it goes
    // through. A write that fails ends it with the transfer error message; the history then
    // says what the instrument holds. False when nothing was done or something failed.
    bool Undo();
    bool Redo();

private:
    bool Replay(bool undo);

    CWSFrame& m_frame;
    bq::ws::WriteHistory m_history;
    std::array<bool, 12> m_downloaded{};  // Combination banks A..F, then Program banks A..F
    // Counts the resets, so that a wait that outlived its connection touches nothing.
    std::uint64_t m_generation = 0;
};

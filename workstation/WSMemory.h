#pragma once

// What is known of the instrument's memory: for each of its twelve banks the items its 128 slots
// hold as far as the program knows, and since when. A slot is known now (received or written in
// this connection), known from an earlier connection (shown, but another instrument may answer
// the next search, or this one may have been edited from its front panel), or not known (never
// received, or written without an answer: the instrument may or may not have stored it). The
// Workstation session owns the one object; the view shows it, and the backup, the comparison,
// the find and Undo read it.
//
// User-interface thread only.

#include <QObject>

#include <array>
#include <cstdint>
#include <vector>

#include "model/KarmaObject.h"
#include "model/Ref.h"

class CWSMemory : public QObject {
    Q_OBJECT
public:
    enum class Known : std::uint8_t { No, Earlier, Now };

    static constexpr int kBanks = 6;
    static constexpr int kSlots = 128;

    explicit CWSMemory(QObject* parent = nullptr);
    ~CWSMemory() override;

    // The item a slot holds as far as known (from whichever connection); null when not known.
    CKarmaObject* Item(bool combination, int bank, int slot) const;
    Known SlotKnown(bool combination, int bank, int slot) const;
    // Its record bytes, when the slot is known now; empty otherwise.
    std::vector<std::uint8_t> RecordNow(bool combination, int bank, int slot) const;
    // Some of the bank's items have been received, in this connection or an earlier one.
    bool HasBank(bool combination, int bank) const;
    // Every slot of the bank known now.
    bool BankNow(bool combination, int bank) const;
    // The bank's 128 records back to back, slot 0 first; false unless BankNow.
    bool BankRecords(bool combination, int bank, std::vector<std::uint8_t>* records) const;
    // Counts the changes, so that a reader can tell its copy is out of date.
    std::uint64_t Generation() const { return m_generation; }

    // A bank downloaded now: 128 items made from `records` (back to back). False, changing
    // nothing, when they are not 128 whole records of the bank's kind.
    bool StoreBank(bool combination, int bank, const std::vector<std::uint8_t>& records);
    // A write the instrument acknowledged: the slot holds `record` now. False for a record of
    // the wrong size.
    bool StoreSlot(bool combination, int bank, int slot, const std::vector<std::uint8_t>& record);
    // Two slots that changed places (a swap whose writes both went through): the items move,
    // their counts untouched, and both are known now.
    void SwapSlots(bool combination, int bankA, int slotA, int bankB, int slotB);
    // A write that got no answer: what the slot holds is not known.
    void ForgetSlot(bool combination, int bank, int slot);
    // The connection ended: what is known now becomes known from an earlier connection.
    void EndConnection();

signals:
    // The bank's items or what is known of them changed (a download, the end of a connection).
    void BankChanged(bool combination, int bank);
    // One slot changed.
    void SlotChanged(bool combination, int bank, int slot);

private:
    struct Slot {
        bq::Ref<CKarmaObject> item;
        Known known = Known::No;
    };
    using Bank = std::array<Slot, kSlots>;

    Bank* BankAt(bool combination, int bank);
    const Bank* BankAt(bool combination, int bank) const;
    Slot* SlotAt(bool combination, int bank, int slot);
    const Slot* SlotAt(bool combination, int bank, int slot) const;

    std::array<Bank, 2 * kBanks> m_banks;  // Combination banks A..F, then Program banks A..F
    std::uint64_t m_generation = 0;
};

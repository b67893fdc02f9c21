#pragma once

// What putting a PCG file back onto the instrument would change: for each chosen bank, which of
// the slots the file holds differ from what the instrument holds, in the order they are to be
// written, and what the writes come to on the wire. Pure: memories in, a plan out; the desktop
// and the command line plan alike and write in their own way (RestoreWrite for a program that
// may block).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/KarmaBanks.h"
#include "model/PcgWriter.h"

namespace bq::midi {

// One slot to write: bank index 0..11 (as BackupBankAt) and slot 0..127.
struct RestoreSlot {
    int bank = 0;
    int slot = 0;

    bool operator==(const RestoreSlot&) const = default;
};

struct RestoreBankPlan {
    int bank = 0;                // 0..11
    int held = 0;                // the slots the file holds there (128 for a whole bank)
    std::vector<int> differing;  // the slots among them whose records differ, ascending

    bool Same() const { return differing.empty(); }
};

struct RestorePlan {
    std::vector<RestoreBankPlan> banks;  // the banks compared, in the order they are written
    std::vector<RestoreSlot> writes;     // every differing slot, in the order written
    std::uint64_t sendBytes = 0;         // the Item Writes
    std::uint64_t replyBytes = 0;        // their status replies

    std::uint64_t WireBytes() const { return sendBytes + replyBytes; }
};

// The banks (0..11, the trees' order) that a file's memory holds records for. Bank F of the
// Programs only when it holds MOSS records (416 bytes each), as a backup's MBK1 chunk carries.
std::vector<int> RestoreBanksHeld(const pcg::KarmaMemory& file);

// Compares the chosen banks that the file holds (others are left out of the plan), slot by slot
// over the slots the file holds; a slot the instrument's memory lacks differs. The writes go
// bank by bank in the order `banks` gives, slot 0 first.
RestorePlan PlanRestore(const pcg::KarmaMemory& file, const pcg::KarmaMemory& instrument,
                        const std::vector<int>& banks);

// The file's record of a planned slot; null when the file holds none there.
const std::uint8_t* RestoreRecord(const pcg::KarmaMemory& file, const RestoreSlot& slot);

// The Item Write of a planned slot, carrying the file's record (channel 0: the exchange sets the
// connection's); empty when the file holds no record there.
std::vector<std::uint8_t> RestoreWriteMessage(const pcg::KarmaMemory& file,
                                              const RestoreSlot& slot);

// "Combination Bank C, slot 017", for the reasons of a failure.
std::string RestoreSlotName(const RestoreSlot& slot);

}  // namespace bq::midi

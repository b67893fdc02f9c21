#include "midi/RestorePlan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace bq::midi {
namespace {

const std::vector<std::uint8_t>& BankOf(const pcg::KarmaMemory& memory, int index) {
    const BackupBank bank = BackupBankAt(index);
    return bank.combination ? memory.combis[bank.bank] : memory.programs[bank.bank];
}

// The slots of the bank's bytes: whole records from slot 0, at most 128.
int SlotsIn(const std::vector<std::uint8_t>& records, std::size_t recordSize) {
    if (recordSize == 0) {
        return 0;
    }
    return static_cast<int>(std::min<std::size_t>(records.size() / recordSize, pcg::kBankSlots));
}

}  // namespace

std::vector<int> RestoreBanksHeld(const pcg::KarmaMemory& file) {
    std::vector<int> held;
    for (int index = 0; index < kBackupBanks; ++index) {
        if (SlotsIn(BankOf(file, index), BackupBankAt(index).recordSize) > 0) {
            held.push_back(index);
        }
    }
    return held;
}

RestorePlan PlanRestore(const pcg::KarmaMemory& file, const pcg::KarmaMemory& instrument,
                        const std::vector<int>& banks) {
    RestorePlan plan;
    for (int index : banks) {
        const BackupBank bank = BackupBankAt(index);
        const std::vector<std::uint8_t>& wanted = BankOf(file, index);
        const int slots = SlotsIn(wanted, bank.recordSize);
        if (slots == 0 ||
            std::any_of(plan.banks.begin(), plan.banks.end(),
                        [index](const RestoreBankPlan& b) { return b.bank == index; })) {
            continue;  // not in the file, or chosen twice
        }
        const std::vector<std::uint8_t>& held = BankOf(instrument, index);
        const int heldSlots = SlotsIn(held, bank.recordSize);
        RestoreBankPlan compared{index, slots, {}};
        for (int slot = 0; slot < slots; ++slot) {
            const std::size_t at = static_cast<std::size_t>(slot) * bank.recordSize;
            if (slot >= heldSlots ||
                std::memcmp(wanted.data() + at, held.data() + at, bank.recordSize) != 0) {
                compared.differing.push_back(slot);
                plan.writes.push_back({index, slot});
                plan.sendBytes += sysex::ItemWriteLength(bank.recordSize);
                plan.replyBytes += sysex::kStatusReplyLength;
            }
        }
        plan.banks.push_back(std::move(compared));
    }
    return plan;
}

const std::uint8_t* RestoreRecord(const pcg::KarmaMemory& file, const RestoreSlot& slot) {
    const std::size_t size = BackupBankAt(slot.bank).recordSize;
    const std::vector<std::uint8_t>& records = BankOf(file, slot.bank);
    if (size == 0 || slot.slot < 0 || slot.slot >= SlotsIn(records, size)) {
        return nullptr;
    }
    return records.data() + static_cast<std::size_t>(slot.slot) * size;
}

std::vector<std::uint8_t> RestoreWriteMessage(const pcg::KarmaMemory& file,
                                              const RestoreSlot& slot) {
    return BankItemWrite(slot.bank, slot.slot, RestoreRecord(file, slot),
                         BackupBankAt(slot.bank).recordSize);
}

std::string RestoreSlotName(const RestoreSlot& slot) {
    char number[8];
    std::snprintf(number, sizeof number, "%03d", slot.slot);
    return BackupBankTitle(slot.bank) + ", slot " + number;
}

}  // namespace bq::midi

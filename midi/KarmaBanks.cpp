#include "midi/KarmaBanks.h"

#include <utility>

#include "model/PcgWriter.h"

namespace bq::midi {

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

int BackupBankIndex(bool combination, int bank) {
    if (bank < 0 || bank >= pcg::kMemoryBanks) {
        return -1;
    }
    return combination ? bank : pcg::kMemoryBanks + bank;
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

std::vector<std::uint8_t> BankItemWrite(int index, int slot, const std::uint8_t* record,
                                        std::size_t size, std::uint8_t channel) {
    const BackupBank bank = BackupBankAt(index);
    const auto header = bank.combination ? sysex::ItemWriteHeader(bank.bank, slot, channel)
                                         : sysex::ProgramWriteHeader(bank.bank, slot, channel);
    if (!header || bank.recordSize == 0 || size != bank.recordSize || record == nullptr) {
        return {};
    }
    return sysex::BuildItemWrite(header->data(), record, size);
}

bool BankRecords(int index, std::vector<std::uint8_t> message, std::vector<std::uint8_t>* records,
                 std::size_t* decoded) {
    unsigned long length = static_cast<unsigned long>(message.size());
    sysex::UnpackSysEx(sysex::kHeaderLength, message.data(), &length);
    if (decoded != nullptr) {
        *decoded = length;
    }
    const std::size_t size = pcg::kBankSlots * BackupBankAt(index).recordSize;
    if (size == 0 || length < size || records == nullptr) {
        return false;
    }
    message.resize(size);
    *records = std::move(message);
    return true;
}

}  // namespace bq::midi

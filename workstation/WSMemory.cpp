#include "workstation/WSMemory.h"

#include <utility>

namespace {

constexpr int kMossBank = 5;

unsigned long RecordSize(bool combination, int bank) {
    return combination         ? CKarmaCombi::kRecordSize
           : bank == kMossBank ? CKarmaMOSSProgram::kRecordSize
                               : CKarmaPCMProgram::kRecordSize;
}

// A new item of the bank's kind made from one record (the factories copy it).
bq::Ref<CKarmaObject> MakeItem(bool combination, int bank, const std::uint8_t* record) {
    auto* data = const_cast<unsigned char*>(record);  // the factories only read it
    unsigned long consumed = 0;
    CKarmaObject* item =
        combination ? static_cast<CKarmaObject*>(CKarmaCombi::LoadCombi(data, &consumed))
        : bank == kMossBank
            ? static_cast<CKarmaObject*>(CKarmaMOSSProgram::LoadProgram(data, &consumed))
            : static_cast<CKarmaObject*>(CKarmaPCMProgram::LoadProgram(data, &consumed));
    return bq::Ref<CKarmaObject>::Adopt(item);
}

}  // namespace

CWSMemory::CWSMemory(QObject* parent) : QObject(parent) {}

CWSMemory::~CWSMemory() = default;

CWSMemory::Bank* CWSMemory::BankAt(bool combination, int bank) {
    return bank < 0 || bank >= kBanks ? nullptr : &m_banks[(combination ? 0 : kBanks) + bank];
}

const CWSMemory::Bank* CWSMemory::BankAt(bool combination, int bank) const {
    return bank < 0 || bank >= kBanks ? nullptr : &m_banks[(combination ? 0 : kBanks) + bank];
}

CWSMemory::Slot* CWSMemory::SlotAt(bool combination, int bank, int slot) {
    Bank* b = BankAt(combination, bank);
    return b == nullptr || slot < 0 || slot >= kSlots ? nullptr : &(*b)[slot];
}

const CWSMemory::Slot* CWSMemory::SlotAt(bool combination, int bank, int slot) const {
    const Bank* b = BankAt(combination, bank);
    return b == nullptr || slot < 0 || slot >= kSlots ? nullptr : &(*b)[slot];
}

CKarmaObject* CWSMemory::Item(bool combination, int bank, int slot) const {
    const Slot* s = SlotAt(combination, bank, slot);
    return s != nullptr ? s->item.get() : nullptr;
}

CWSMemory::Known CWSMemory::SlotKnown(bool combination, int bank, int slot) const {
    const Slot* s = SlotAt(combination, bank, slot);
    return s != nullptr ? s->known : Known::No;
}

std::vector<std::uint8_t> CWSMemory::RecordNow(bool combination, int bank, int slot) const {
    const Slot* s = SlotAt(combination, bank, slot);
    if (s == nullptr || s->known != Known::Now || !s->item) {
        return {};
    }
    unsigned long size = 0;
    const unsigned char* data = s->item->GetData(&size);
    return data != nullptr ? std::vector<std::uint8_t>(data, data + size)
                           : std::vector<std::uint8_t>();
}

bool CWSMemory::HasBank(bool combination, int bank) const {
    const Bank* b = BankAt(combination, bank);
    if (b == nullptr) {
        return false;
    }
    for (const Slot& s : *b) {
        if (s.known != Known::No) {
            return true;
        }
    }
    return false;
}

bool CWSMemory::BankNow(bool combination, int bank) const {
    const Bank* b = BankAt(combination, bank);
    if (b == nullptr) {
        return false;
    }
    for (const Slot& s : *b) {
        if (s.known != Known::Now) {
            return false;
        }
    }
    return true;
}

bool CWSMemory::BankRecords(bool combination, int bank, std::vector<std::uint8_t>* records) const {
    if (records == nullptr || !BankNow(combination, bank)) {
        return false;
    }
    records->clear();
    records->reserve(kSlots * RecordSize(combination, bank));
    for (int slot = 0; slot < kSlots; ++slot) {
        const std::vector<std::uint8_t> record = RecordNow(combination, bank, slot);
        records->insert(records->end(), record.begin(), record.end());
    }
    return true;
}

bool CWSMemory::StoreBank(bool combination, int bank, const std::vector<std::uint8_t>& records) {
    Bank* b = BankAt(combination, bank);
    const unsigned long size = RecordSize(combination, bank);
    // A bank is taken whole or not at all: never read past the records given.
    if (b == nullptr || records.size() < kSlots * size) {
        return false;
    }
    std::array<bq::Ref<CKarmaObject>, kSlots> items;
    for (int slot = 0; slot < kSlots; ++slot) {
        items[slot] = MakeItem(combination, bank, records.data() + slot * size);
        if (!items[slot]) {
            return false;  // out of memory: the bank stays as it was
        }
    }
    for (int slot = 0; slot < kSlots; ++slot) {
        (*b)[slot] = Slot{std::move(items[slot]), Known::Now};
    }
    ++m_generation;
    emit BankChanged(combination, bank);
    return true;
}

bool CWSMemory::StoreSlot(bool combination, int bank, int slot,
                          const std::vector<std::uint8_t>& record) {
    Slot* s = SlotAt(combination, bank, slot);
    if (s == nullptr || record.size() != RecordSize(combination, bank)) {
        return false;
    }
    bq::Ref<CKarmaObject> item = MakeItem(combination, bank, record.data());
    if (!item) {
        return false;
    }
    *s = Slot{std::move(item), Known::Now};
    ++m_generation;
    emit SlotChanged(combination, bank, slot);
    return true;
}

void CWSMemory::SwapSlots(bool combination, int bankA, int slotA, int bankB, int slotB) {
    Slot* a = SlotAt(combination, bankA, slotA);
    Slot* b = SlotAt(combination, bankB, slotB);
    if (a == nullptr || b == nullptr || a == b) {
        return;
    }
    std::swap(a->item, b->item);
    a->known = b->known = Known::Now;
    ++m_generation;
    emit SlotChanged(combination, bankA, slotA);
    emit SlotChanged(combination, bankB, slotB);
}

void CWSMemory::ForgetSlot(bool combination, int bank, int slot) {
    Slot* s = SlotAt(combination, bank, slot);
    if (s == nullptr) {
        return;
    }
    *s = Slot{};
    ++m_generation;
    emit SlotChanged(combination, bank, slot);
}

void CWSMemory::EndConnection() {
    for (int index = 0; index < 2 * kBanks; ++index) {
        bool changed = false;
        for (Slot& s : m_banks[index]) {
            if (s.known == Known::Now) {
                s.known = Known::Earlier;
                changed = true;
            }
        }
        if (changed) {
            ++m_generation;
            emit BankChanged(index < kBanks, index % kBanks);
        }
    }
}

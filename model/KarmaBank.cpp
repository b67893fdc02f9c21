#include "model/KarmaBank.h"

#include <new>

CKarmaRootContainer::~CKarmaRootContainer() {
    // Program bank i, then Combination bank i, for each bank index in turn.
    for (long i = 0; i < kBanks; ++i) {
        m_programBanks[i].reset();
        m_combiBanks[i].reset();
    }
}

CKarmaProgramBank* CKarmaRootContainer::GetProgramBank(long index) {
    if (index < 0 || index >= kBanks) {
        return nullptr;
    }
    if (m_programBanks[index] == nullptr) {
        m_programBanks[index].reset(new (std::nothrow) CKarmaProgramBank());
    }
    return m_programBanks[index].get();
}

CKarmaCombiBank* CKarmaRootContainer::GetCombiBank(long index) {
    if (index < 0 || index >= kBanks) {
        return nullptr;
    }
    if (m_combiBanks[index] == nullptr) {
        m_combiBanks[index].reset(new (std::nothrow) CKarmaCombiBank());
    }
    return m_combiBanks[index].get();
}

#pragma once

#include <memory>

#include "model/KarmaObject.h"
#include "model/Ref.h"

// A bank of 128 slots; each occupied slot holds one reference to its item. Banks are not
// shared: the root container owns them. Indexes outside 0..127 do nothing and return null.
template <typename Item>
class CKarmaBankT {
public:
    static constexpr long kSlots = 128;

    CKarmaBankT() = default;
    CKarmaBankT(const CKarmaBankT&) = delete;
    CKarmaBankT& operator=(const CKarmaBankT&) = delete;
    virtual ~CKarmaBankT() {
        // Occupants go from slot 0 up, not in the reverse order the array would take.
        for (bq::Ref<Item>& slot : m_slots) {
            slot = {};
        }
    }

protected:
    void Set(long index, Item* item) {
        if (index < 0 || index >= kSlots) {
            return;
        }
        // The newcomer is referenced before the occupant is released, so storing the
        // occupant again keeps it alive.
        m_slots[index] = bq::Ref<Item>::Share(item);
    }
    Item* Get(long index) const {
        if (index < 0 || index >= kSlots) {
            return nullptr;
        }
        return bq::Ref<Item>(m_slots[index]).Detach();
    }

private:
    bq::Ref<Item> m_slots[kSlots];
};

class CKarmaProgramBank : public CKarmaBankT<CKarmaProgram> {
public:
    void SetProgram(long index, CKarmaProgram* program) { Set(index, program); }
    // The result carries a new reference that the caller releases.
    CKarmaProgram* GetProgram(long index) const { return Get(index); }
};

class CKarmaCombiBank : public CKarmaBankT<CKarmaCombi> {
public:
    void SetCombi(long index, CKarmaCombi* combi) { Set(index, combi); }
    CKarmaCombi* GetCombi(long index) const { return Get(index); }
};

// Six Program banks and six Combination banks, created on first request.
class CKarmaRootContainer {
public:
    static constexpr long kBanks = 6;

    CKarmaRootContainer() = default;
    CKarmaRootContainer(const CKarmaRootContainer&) = delete;
    CKarmaRootContainer& operator=(const CKarmaRootContainer&) = delete;
    ~CKarmaRootContainer();

    // Null for an index outside 0..5 or when the bank cannot be allocated.
    CKarmaProgramBank* GetProgramBank(long index);
    CKarmaCombiBank* GetCombiBank(long index);

private:
    std::unique_ptr<CKarmaProgramBank> m_programBanks[kBanks];
    std::unique_ptr<CKarmaCombiBank> m_combiBanks[kBanks];
};

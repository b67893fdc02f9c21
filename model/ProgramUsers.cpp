#include "model/ProgramUsers.h"

#include "model/SameSound.h"
#include "model/Timbres.h"

namespace bq {

namespace {

unsigned long RecordSize(const CKarmaObject& item) {
    unsigned long size = 0;
    item.GetData(&size);
    return size;
}

}  // namespace

std::vector<ProgramUser> ProgramUsers(const ItemCatalog& catalog, std::uint8_t programBank,
                                      std::uint8_t programSlot) {
    std::vector<ProgramUser> users;
    for (std::size_t i = 0; i < catalog.Size(); ++i) {
        const ItemCatalog::Entry& entry = catalog.At(i);
        if (entry.kind != ItemKind::Combination) {
            continue;
        }
        std::uint8_t mask = 0;
        for (const Timbre& t : ReadTimbres(catalog.Item(i))) {
            if (t.PlaysInternalProgram() && t.programBank == programBank &&
                t.programSlot == programSlot) {
                mask |= static_cast<std::uint8_t>(1u << (t.number - 1));
            }
        }
        if (mask != 0) {
            users.push_back({i, entry.bank, entry.slot, mask});
        }
    }
    return users;
}

std::vector<ProgramUser> ProgramUsers(CKarmaRootContainer& root, std::uint8_t programBank,
                                      std::uint8_t programSlot) {
    return ProgramUsers(ItemCatalog::FromRoot(root), programBank, programSlot);
}

std::size_t ProgramIndex(const ItemCatalog& catalog, ProgramRef program) {
    if (BankKindOf(program.bank) == ProgramBankKind::Gm) {
        return ItemCatalog::npos;
    }
    return catalog.IndexOf(ItemKind::Program, program.bank, program.slot);
}

std::vector<ProgramRef> DifferingPrograms(const ItemCatalog& a, std::size_t combi,
                                          const ItemCatalog& b, bool bothHeldOnly) {
    std::vector<ProgramRef> differ;
    for (const ProgramRef program : InternalPrograms(ReadTimbres(a.Item(combi)))) {
        const std::size_t inA = ProgramIndex(a, program);
        const std::size_t inB = ProgramIndex(b, program);
        const bool heldByA = inA != ItemCatalog::npos;
        const bool heldByB = inB != ItemCatalog::npos;
        bool same = bothHeldOnly || heldByA == heldByB;
        if (heldByA && heldByB) {
            // Two kinds of Program in one slot (a file's bank F of 804-byte Programs against
            // the instrument's MOSS bank) differ, but neither says how the other sounds.
            same = RecordSize(a.Item(inA)) == RecordSize(b.Item(inB))
                       ? SameRecord(a.Item(inA), b.Item(inB))
                       : bothHeldOnly;
        }
        if (!same) {
            differ.push_back(program);
        }
    }
    return differ;
}

}  // namespace bq

#include "model/ProgramUseIndex.h"

#include <algorithm>
#include <bitset>
#include <iterator>

#include "model/Timbres.h"

namespace bq {

namespace {

constexpr int kBanks = 6;  // A to F; the GM banks hold no item of a catalogue
constexpr int kSlots = 128;

using ProgramSet = std::bitset<kBanks * kSlots>;

}  // namespace

ProgramUseIndex::ProgramUseIndex(const ItemCatalog& catalog) {
    for (std::size_t i = 0; i < catalog.Size(); ++i) {
        if (catalog.At(i).kind != ItemKind::Combination) {
            continue;
        }
        for (const ProgramRef& p : InternalPrograms(ReadTimbres(catalog.Item(i)))) {
            if (p.bank < kBanks && p.slot < kSlots) {
                m_uses.push_back({static_cast<std::uint32_t>(i),
                                  static_cast<std::uint16_t>(p.bank * kSlots + p.slot)});
            }
        }
    }
}

void ProgramUseIndex::AddUsers(const ItemCatalog& catalog,
                               std::vector<std::uint32_t>& matches) const {
    ProgramSet matched;
    for (const std::uint32_t m : matches) {
        if (m < catalog.Size() && catalog.At(m).kind == ItemKind::Program) {
            const ItemCatalog::Entry& e = catalog.At(m);
            matched.set(static_cast<std::size_t>(e.bank) * kSlots + e.slot);
        }
    }
    if (matched.none()) {
        return;
    }
    std::vector<std::uint32_t> users;
    for (const Use& use : m_uses) {
        // A Combination playing two matched Programs comes once: its uses stand together.
        if (matched.test(use.program) && (users.empty() || users.back() != use.combination)) {
            users.push_back(use.combination);
        }
    }
    if (users.empty()) {
        return;
    }
    std::vector<std::uint32_t> merged;
    merged.reserve(matches.size() + users.size());
    std::set_union(matches.begin(), matches.end(), users.begin(), users.end(),
                   std::back_inserter(merged));
    matches.swap(merged);
}

}  // namespace bq

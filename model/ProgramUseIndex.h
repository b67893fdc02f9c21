#pragma once

// Which Combinations of one catalogue play which of its Programs, kept flat for the find as
// the user types: "Combinations using it" adds to a keystroke's matches the Combinations whose
// Int or Both timbres play a Program that matched, without reading a record again. Made once
// per catalogue; the items' thread, like the catalogue.

#include <cstdint>
#include <vector>

#include "model/ItemCatalog.h"

namespace bq {

class ProgramUseIndex {
public:
    ProgramUseIndex() = default;
    // The timbre tables of the catalogue's Combinations, read once.
    explicit ProgramUseIndex(const ItemCatalog& catalog);

    // `matches` (sorted indexes into the catalogue the index was made of) with the
    // Combinations added that play one of the Programs among them: still sorted, each index
    // once. Programs of the GM banks are not in a catalogue, so they bring nothing.
    void AddUsers(const ItemCatalog& catalog, std::vector<std::uint32_t>& matches) const;

    // How many (Combination, Program) pairs the index holds.
    std::size_t Size() const { return m_uses.size(); }

private:
    struct Use {
        std::uint32_t combination;  // catalogue index
        std::uint16_t program;      // bank * 128 + slot, banks A to F
    };
    std::vector<Use> m_uses;  // by Combination, in catalogue order
};

}  // namespace bq

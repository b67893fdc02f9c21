#pragma once

// Which Combinations of a source play a Program: the "Used by" of a Program's pane, and the
// Combinations a change of that Program would change. Pure functions; the items' thread.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/ItemCatalog.h"
#include "model/Timbres.h"

class CKarmaRootContainer;

namespace bq {

struct ProgramUser {
    std::size_t index = ItemCatalog::npos;  // the Combination's place in the catalogue
    std::uint8_t bank = 0;                  // the Combination's bank and slot
    std::uint8_t slot = 0;
    std::uint8_t timbres = 0;  // bit t - 1 set for each timbre t that plays the Program
};

// The Combinations of the catalogue whose Int or Both timbres play the Program at this bank
// byte and slot, in catalogue order.
std::vector<ProgramUser> ProgramUsers(const ItemCatalog& catalog, std::uint8_t programBank,
                                      std::uint8_t programSlot);
// The same over a root container's Combination banks; indexes are those of
// ItemCatalog::FromRoot(root).
std::vector<ProgramUser> ProgramUsers(CKarmaRootContainer& root, std::uint8_t programBank,
                                      std::uint8_t programSlot);

// The catalogue's Program that a timbre names; npos for a GM bank, which no source holds.
std::size_t ProgramIndex(const ItemCatalog& catalog, ProgramRef program);

// The Programs that Combination `combi` of `a` plays (its Int and Both timbres, each once) which
// `b` holds differently: as another record, or one of the two holds it and the other not.
// GM Programs and those neither holds are never a difference. With `bothHeldOnly`, only
// Programs that both hold, as records of one size, are compared: a file without a Program bank
// says nothing of it, and an 804-byte Program says nothing of a 416-byte MOSS one.
std::vector<ProgramRef> DifferingPrograms(const ItemCatalog& a, std::size_t combi,
                                          const ItemCatalog& b, bool bothHeldOnly);

}  // namespace bq

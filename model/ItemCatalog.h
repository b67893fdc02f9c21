#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/KarmaObject.h"
#include "model/Ref.h"

class CKarmaRootContainer;

namespace bq {

// Combinations first: the trees show them above the Programs.
enum class ItemKind : std::uint8_t { Combination = 0, Program = 1 };

// How lists, exports and the lister spell a place: "Combination" or "Program", the bank's
// letter "A".."F", the slot as the tree shows it, "000".."127".
const char* KindName(ItemKind kind);
char BankLetter(long bank);  // '?' outside 0..5
std::string SlotText(long slot);

// An item and where it stands, as a view that holds items without banks knows it.
struct PlacedItem {
    ItemKind kind = ItemKind::Combination;
    long bank = 0;
    long slot = 0;
    Ref<CKarmaObject> item;
};

// The items of one source (a PCG file's banks, or the items a view holds) in the tree's
// order: Combinations bank A slot 000 first, Programs bank F slot 127 last. Names are taken
// once when the catalogue is made, lower-cased beside them, so that a find as the user
// types only scans a flat array. Holds one reference to each item; user-interface thread
// only, like the items.
class ItemCatalog {
public:
    // The views ask GetName for at most 19 characters.
    static constexpr int kNameLength = 19;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    struct Entry {
        ItemKind kind;
        std::uint8_t bank;
        std::uint8_t slot;
        std::uint8_t nameLength;
        char name[kNameLength + 1];  // as GetName gives it, terminated; raw bytes (Latin-1)
    };

    ItemCatalog() = default;

    // Every occupied slot of the six Combination banks, then of the six Program banks.
    static ItemCatalog FromRoot(CKarmaRootContainer& root);
    // Items in any order; null items and places outside banks 0..5 or slots 0..127 are left
    // out, and of two items for one place the later one is kept.
    static ItemCatalog FromItems(std::vector<PlacedItem> items);

    std::size_t Size() const { return m_entries.size(); }
    const Entry& At(std::size_t index) const { return m_entries[index]; }
    CKarmaObject& Item(std::size_t index) const { return *m_items[index]; }
    // The index of the item at a place, or npos.
    std::size_t IndexOf(ItemKind kind, long bank, long slot) const;

    // The indexes of the items whose name contains `text`, ASCII letters compared without
    // case, in catalogue order. `out` is cleared first, so a view can keep one buffer while
    // the user types. An empty text matches every item.
    void Find(std::string_view text, std::vector<std::uint32_t>& out) const;
    std::vector<std::uint32_t> Find(std::string_view text) const;

private:
    void Reserve(std::size_t items);
    void Append(ItemKind kind, long bank, long slot, Ref<CKarmaObject> item);

    std::vector<Entry> m_entries;
    std::vector<Ref<CKarmaObject>> m_items;
    // The names lower-cased, kNameLength bytes each, for the find loop.
    std::vector<char> m_folded;
};

// ASCII letters to lower case; every other byte as it is.
std::string FoldCase(std::string_view text);

}  // namespace bq

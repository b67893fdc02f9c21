#include "model/ItemCatalog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "model/KarmaBank.h"

namespace bq {

namespace {

constexpr long kBanks = CKarmaRootContainer::kBanks;
constexpr long kSlots = CKarmaCombiBank::kSlots;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

auto PlaceKey(ItemKind kind, long bank, long slot) {
    return std::make_tuple(static_cast<int>(kind), bank, slot);
}

}  // namespace

const char* KindName(ItemKind kind) {
    return kind == ItemKind::Combination ? "Combination" : "Program";
}

char BankLetter(long bank) {
    return bank >= 0 && bank < kBanks ? static_cast<char>('A' + bank) : '?';
}

std::string SlotText(long slot) {
    char text[24];
    std::snprintf(text, sizeof text, "%.3ld", slot);
    return text;
}

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        c = Lower(c);
    }
    return folded;
}

void ItemCatalog::Reserve(std::size_t items) {
    m_entries.reserve(items);
    m_items.reserve(items);
    m_folded.reserve(items * kNameLength);
}

void ItemCatalog::Append(ItemKind kind, long bank, long slot, Ref<CKarmaObject> item) {
    Entry entry = {};
    entry.kind = kind;
    entry.bank = static_cast<std::uint8_t>(bank);
    entry.slot = static_cast<std::uint8_t>(slot);
    item->GetName(entry.name, kNameLength);
    entry.nameLength = static_cast<std::uint8_t>(std::strlen(entry.name));
    const std::size_t at = m_folded.size();
    m_folded.resize(at + kNameLength);
    for (std::size_t i = 0; i < entry.nameLength; ++i) {
        m_folded[at + i] = Lower(entry.name[i]);
    }
    m_entries.push_back(entry);
    m_items.push_back(std::move(item));
}

ItemCatalog ItemCatalog::FromRoot(CKarmaRootContainer& root) {
    ItemCatalog catalog;
    catalog.Reserve(2 * kBanks * kSlots);
    for (long b = 0; b < kBanks; ++b) {
        const CKarmaCombiBank* bank = root.GetCombiBank(b);
        for (long s = 0; bank != nullptr && s < kSlots; ++s) {
            if (auto item = Ref<CKarmaObject>::Adopt(bank->GetCombi(s))) {
                catalog.Append(ItemKind::Combination, b, s, std::move(item));
            }
        }
    }
    for (long b = 0; b < kBanks; ++b) {
        const CKarmaProgramBank* bank = root.GetProgramBank(b);
        for (long s = 0; bank != nullptr && s < kSlots; ++s) {
            if (auto item = Ref<CKarmaObject>::Adopt(bank->GetProgram(s))) {
                catalog.Append(ItemKind::Program, b, s, std::move(item));
            }
        }
    }
    return catalog;
}

ItemCatalog ItemCatalog::FromItems(std::vector<PlacedItem> items) {
    std::erase_if(items, [](const PlacedItem& p) {
        return !p.item || p.bank < 0 || p.bank >= kBanks || p.slot < 0 || p.slot >= kSlots;
    });
    // Stable, so that of two items for one place the later one stays last, and is kept.
    std::stable_sort(items.begin(), items.end(), [](const PlacedItem& a, const PlacedItem& b) {
        return PlaceKey(a.kind, a.bank, a.slot) < PlaceKey(b.kind, b.bank, b.slot);
    });
    ItemCatalog catalog;
    catalog.Reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const PlacedItem& p = items[i];
        const bool replaced = i + 1 < items.size() && items[i + 1].kind == p.kind &&
                              items[i + 1].bank == p.bank && items[i + 1].slot == p.slot;
        if (!replaced) {
            catalog.Append(p.kind, p.bank, p.slot, std::move(items[i].item));
        }
    }
    return catalog;
}

std::size_t ItemCatalog::IndexOf(ItemKind kind, long bank, long slot) const {
    const auto key = PlaceKey(kind, bank, slot);
    const auto it = std::lower_bound(
        m_entries.begin(), m_entries.end(), key,
        [](const Entry& e, const auto& k) { return PlaceKey(e.kind, e.bank, e.slot) < k; });
    if (it == m_entries.end() || PlaceKey(it->kind, it->bank, it->slot) != key) {
        return npos;
    }
    return static_cast<std::size_t>(it - m_entries.begin());
}

void ItemCatalog::Find(std::string_view text, std::vector<std::uint32_t>& out) const {
    out.clear();
    const std::string needle = FoldCase(text);
    if (needle.size() > static_cast<std::size_t>(kNameLength)) {
        return;
    }
    const char* folded = m_folded.data();
    for (std::size_t i = 0; i < m_entries.size(); ++i, folded += kNameLength) {
        const std::string_view name(folded, m_entries[i].nameLength);
        if (name.find(needle) != std::string_view::npos) {
            out.push_back(static_cast<std::uint32_t>(i));
        }
    }
}

std::vector<std::uint32_t> ItemCatalog::Find(std::string_view text) const {
    std::vector<std::uint32_t> out;
    Find(text, out);
    return out;
}

}  // namespace bq

#include "model/SameSound.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace bq {

namespace {

constexpr std::uint64_t kMultiplier1 = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kMultiplier2 = 0xC2B2AE3D27D4EB4Full;

std::uint64_t RotateLeft(std::uint64_t x, int bits) {
    return (x << bits) | (x >> (64 - bits));
}

std::uint64_t Finish(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

const unsigned char* RecordOf(const CKarmaObject& item, unsigned long* size) {
    *size = 0;
    return item.GetData(size);
}

auto Key(const ItemCatalog::Entry& e) {
    return std::make_tuple(static_cast<int>(e.kind), e.bank, e.slot);
}

}  // namespace

// Eight bytes a step: records are hashed in bulk when sources are indexed.
std::uint64_t RecordHash(const unsigned char* data, std::size_t size) {
    std::uint64_t h = size * kMultiplier2;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        h ^= word * kMultiplier1;
        h = RotateLeft(h, 31) * kMultiplier2;
    }
    if (i < size) {
        std::uint64_t tail = 0;
        std::memcpy(&tail, data + i, size - i);
        h ^= tail * kMultiplier1;
    }
    return Finish(h);
}

std::uint64_t RecordHash(const CKarmaObject& item) {
    unsigned long size = 0;
    const unsigned char* data = RecordOf(item, &size);
    return data != nullptr ? RecordHash(data, size) : 0;
}

bool SameRecord(const CKarmaObject& a, const CKarmaObject& b) {
    unsigned long sizeA = 0;
    unsigned long sizeB = 0;
    const unsigned char* dataA = RecordOf(a, &sizeA);
    const unsigned char* dataB = RecordOf(b, &sizeB);
    return dataA != nullptr && dataB != nullptr && sizeA == sizeB &&
           std::memcmp(dataA, dataB, sizeA) == 0;
}

void RecordIndex::Add(std::uint32_t source, const ItemCatalog& catalog) {
    Remove(source);
    m_held.reserve(m_held.size() + catalog.Size());
    for (std::size_t i = 0; i < catalog.Size(); ++i) {
        CKarmaObject& item = catalog.Item(i);
        m_held.push_back({RecordHash(item),
                          {source, static_cast<std::uint32_t>(i)},
                          Ref<CKarmaObject>::Share(&item)});
    }
    std::sort(m_held.begin(), m_held.end(), [](const Held& x, const Held& y) {
        return std::tie(x.hash, x.place.source, x.place.index) <
               std::tie(y.hash, y.place.source, y.place.index);
    });
}

void RecordIndex::Remove(std::uint32_t source) {
    // Erasing keeps the order of the rest.
    std::erase_if(m_held, [source](const Held& h) { return h.place.source == source; });
}

std::vector<RecordIndex::Place> RecordIndex::Where(const CKarmaObject& item) const {
    std::vector<Place> places;
    unsigned long size = 0;
    if (RecordOf(item, &size) == nullptr) {
        return places;
    }
    const std::uint64_t hash = RecordHash(item);
    auto it = std::lower_bound(m_held.begin(), m_held.end(), hash,
                               [](const Held& h, std::uint64_t v) { return h.hash < v; });
    for (; it != m_held.end() && it->hash == hash; ++it) {
        if (SameRecord(*it->item, item)) {
            places.push_back(it->place);
        }
    }
    return places;
}

Comparison Compare(const ItemCatalog& a, const ItemCatalog& b) {
    RecordIndex inB;
    inB.Add(0, b);
    Comparison result;
    ComparisonSummary& sum = result.summary;
    std::size_t i = 0;
    std::size_t j = 0;
    // Both catalogues are in the tree's order: one merge pass visits every place once.
    while (i < a.Size() || j < b.Size()) {
        const bool takeA = i < a.Size() && (j >= b.Size() || Key(a.At(i)) <= Key(b.At(j)));
        const bool takeB = j < b.Size() && (i >= a.Size() || Key(b.At(j)) <= Key(a.At(i)));
        const ItemCatalog::Entry& place = takeA ? a.At(i) : b.At(j);
        SlotComparison slot{place.kind, place.bank, place.slot, SlotStatus::OnlyInB};
        if (takeA) {
            slot.a = i;
        }
        if (takeB) {
            slot.b = j;
        }
        if (!takeA) {
            ++sum.onlyInB;
        } else if (takeB && SameRecord(a.Item(i), b.Item(j))) {
            slot.status = SlotStatus::Same;
            ++sum.same;
        } else if (const auto where = inB.Where(a.Item(i)); !where.empty()) {
            slot.status = SlotStatus::MovedTo;
            slot.movedTo = where.front().index;
            ++sum.movedTo;
        } else if (takeB) {
            slot.status = SlotStatus::Changed;
            ++sum.changed;
        } else {
            slot.status = SlotStatus::OnlyInA;
            ++sum.onlyInA;
        }
        result.slots.push_back(slot);
        i += takeA ? 1 : 0;
        j += takeB ? 1 : 0;
    }
    return result;
}

}  // namespace bq

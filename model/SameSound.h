#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/ItemCatalog.h"
#include "model/KarmaObject.h"
#include "model/Ref.h"

// Two items are the same sound when their records are byte-identical, names included. A hash
// of the record finds the candidates; a byte comparison decides.
namespace bq {

std::uint64_t RecordHash(const unsigned char* data, std::size_t size);
// The hash of the item's record (0 for an item without one, such as a Triton item).
std::uint64_t RecordHash(const CKarmaObject& item);
// Same size and same bytes; items without a record are never the same sound.
bool SameRecord(const CKarmaObject& a, const CKarmaObject& b);

// Answers "where else is this sound" across several catalogues, each added under a source
// number of the caller's choosing (a window, a file). Holds one reference to every item, so a
// closed source cannot leave it pointing at freed records; Remove the source to let them go.
class RecordIndex {
public:
    struct Place {
        std::uint32_t source;
        std::uint32_t index;  // in that source's catalogue
        bool operator==(const Place&) const = default;
    };

    // Adds the catalogue's items as `source`, replacing what that source had.
    void Add(std::uint32_t source, const ItemCatalog& catalog);
    void Remove(std::uint32_t source);
    // Every place holding a record byte-identical to the item's, the item's own place
    // included when it is indexed, ordered by source and then by catalogue order.
    std::vector<Place> Where(const CKarmaObject& item) const;

private:
    struct Held {
        std::uint64_t hash;
        Place place;
        Ref<CKarmaObject> item;
    };
    // Sorted by hash, source, index.
    std::vector<Held> m_held;
};

enum class SlotStatus : std::uint8_t {
    Same,     // the identical record at the same place in B
    MovedTo,  // not at that place, but the identical record elsewhere in B
    Changed,  // B holds another record there, and A's record nowhere
    OnlyInA,  // B holds nothing there, and A's record nowhere
    OnlyInB,  // A holds nothing there
};

// One place held in A, in B or in both. Indexes are into the catalogues, npos when absent.
struct SlotComparison {
    ItemKind kind;
    std::uint8_t bank;
    std::uint8_t slot;
    SlotStatus status;
    std::size_t a = ItemCatalog::npos;
    std::size_t b = ItemCatalog::npos;        // B's item at the same place
    std::size_t movedTo = ItemCatalog::npos;  // for MovedTo: the first place in B with A's record
};

struct ComparisonSummary {
    std::size_t same = 0;
    std::size_t movedTo = 0;
    std::size_t changed = 0;
    std::size_t onlyInA = 0;
    std::size_t onlyInB = 0;
    bool Identical() const { return movedTo + changed + onlyInA + onlyInB == 0; }
};

struct Comparison {
    std::vector<SlotComparison> slots;  // in the tree's order
    ComparisonSummary summary;
};

// Slot by slot, every place that A or B holds.
Comparison Compare(const ItemCatalog& a, const ItemCatalog& b);

}  // namespace bq

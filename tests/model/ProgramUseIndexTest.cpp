// The index behind the find's "Combinations using it": which Combinations come along with the
// Programs that matched.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/ItemCatalog.h"
#include "model/KarmaBank.h"
#include "model/ProgramUseIndex.h"
#include "tests/support/PcgBuilder.h"

namespace {

using bq::ItemKind;
using namespace bq::test;

class ProgramUseIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<bq::PlacedItem> items;
        auto combi = [&items](long bank, long slot, Bytes record) {
            unsigned long size = 0;
            items.push_back(
                {ItemKind::Combination, bank, slot,
                 bq::Ref<CKarmaObject>::Adopt(CKarmaCombi::LoadCombi(record.data(), &size))});
        };
        auto program = [&items](long bank, long slot, const char* name) {
            unsigned long size = 0;
            Bytes record = ProgramRecord(name);
            items.push_back({ItemKind::Program, bank, slot,
                             bq::Ref<CKarmaObject>::Adopt(
                                 CKarmaPCMProgram::LoadProgram(record.data(), &size))});
        };
        combi(0, 0, CombiWithTimbres("Layer", {{1, 0, 12, kTimbreInt}, {2, 1, 0, kTimbreBoth}}));
        // Two timbres on one Program: the Combination comes once.
        combi(0, 1, CombiWithTimbres("Split", {{2, 0, 12, kTimbreBoth}, {5, 0, 12, kTimbreInt}}));
        combi(0, 2, CombiWithTimbres("Off", {{1, 0, 12, kTimbreOff}}));
        // GM bank 6, slot 12: not the Program A 012.
        combi(0, 3, CombiWithTimbres("GM", {{1, 6, 12, kTimbreInt}}));
        combi(1, 0, CombiWithTimbres("Organ Pad", {{8, 0, 13, kTimbreInt}}));
        program(0, 12, "Grand");
        program(0, 13, "Organ");
        program(1, 0, "Strings");
        catalog = bq::ItemCatalog::FromItems(std::move(items));
        index = bq::ProgramUseIndex(catalog);
    }
    std::uint32_t At(ItemKind kind, long bank, long slot) const {
        return static_cast<std::uint32_t>(catalog.IndexOf(kind, bank, slot));
    }
    std::vector<std::uint32_t> With(std::vector<std::uint32_t> matches) const {
        index.AddUsers(catalog, matches);
        return matches;
    }

    bq::ItemCatalog catalog;
    bq::ProgramUseIndex index;
};

TEST_F(ProgramUseIndexTest, AProgramBringsTheCombinationsWhoseIntOrBothTimbresPlayIt) {
    // Layer: 2, Split: 1 (two timbres on one Program), Organ Pad: 1; Off and GM none.
    EXPECT_EQ(index.Size(), 4u);
    const auto grand = At(ItemKind::Program, 0, 12);
    EXPECT_EQ(With({grand}), (std::vector<std::uint32_t>{At(ItemKind::Combination, 0, 0),
                                                         At(ItemKind::Combination, 0, 1), grand}));
    // "Organ" matches the Program and a Combination by name; each comes once, in order.
    const auto organ = At(ItemKind::Program, 0, 13);
    const auto organPad = At(ItemKind::Combination, 1, 0);
    EXPECT_EQ(With({organPad, organ}), (std::vector<std::uint32_t>{organPad, organ}));
    const auto strings = At(ItemKind::Program, 1, 0);
    EXPECT_EQ(With({organ, strings}), (std::vector<std::uint32_t>{At(ItemKind::Combination, 0, 0),
                                                                  organPad, organ, strings}));
}

TEST_F(ProgramUseIndexTest, CombinationsAloneAnIndexNeverMadeOrNoMatchBringNothing) {
    const std::vector<std::uint32_t> combinations = {At(ItemKind::Combination, 0, 2),
                                                     At(ItemKind::Combination, 0, 3)};
    EXPECT_EQ(With(combinations), combinations);
    EXPECT_TRUE(With({}).empty());
    std::vector<std::uint32_t> matches = {At(ItemKind::Program, 0, 12)};
    bq::ProgramUseIndex().AddUsers(catalog, matches);
    EXPECT_EQ(matches, std::vector<std::uint32_t>{At(ItemKind::Program, 0, 12)});
}

}  // namespace

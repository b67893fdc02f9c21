#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/ItemCatalog.h"
#include "model/ItemExport.h"
#include "model/KarmaBank.h"
#include "model/SameSound.h"
#include "tests/support/PcgBuilder.h"

namespace {

using bq::ItemCatalog;
using bq::ItemKind;
using bq::PlacedItem;
using bq::Ref;
using bq::SlotStatus;
using namespace bq::test;

Ref<CKarmaObject> Combi(Bytes record) {
    unsigned long size = 0;
    return Ref<CKarmaObject>::Adopt(CKarmaCombi::LoadCombi(record.data(), &size));
}
Ref<CKarmaObject> Program(Bytes record) {
    unsigned long size = 0;
    return Ref<CKarmaObject>::Adopt(CKarmaPCMProgram::LoadProgram(record.data(), &size));
}

PlacedItem At(ItemKind kind, long bank, long slot, Ref<CKarmaObject> item) {
    return PlacedItem{kind, bank, slot, std::move(item)};
}

// "kind bank slot name" of each entry, for comparing whole catalogues at once.
std::vector<std::string> Places(const ItemCatalog& c, const std::vector<std::uint32_t>& hits) {
    std::vector<std::string> out;
    for (const std::uint32_t i : hits) {
        const ItemCatalog::Entry& e = c.At(i);
        out.push_back(std::string(bq::KindName(e.kind)) + " " + bq::BankLetter(e.bank) + " " +
                      bq::SlotText(e.slot) + " " + e.name);
    }
    return out;
}

TEST(ItemCatalog, FindsNamesAsGetNameGivesThemWithAsciiLettersInAnyCase) {
    CKarmaRootContainer root;
    auto put = [&root](long bank, long slot, Ref<CKarmaObject> item) {
        root.GetCombiBank(bank)->SetCombi(slot, static_cast<CKarmaCombi*>(item.get()));
    };
    put(2, 7, Combi(CombiRecord("Big Strings")));
    put(0, 127, Combi(CombiRecord("BIG BRASS")));
    put(0, 3, Combi(CombiRecord("Caf\xE9 Keys")));
    put(0, 4, Combi(CombiRecord(std::string("Ab\0cd", 5))));  // GetName stops at the zero
    put(0, 5, Combi(CombiRecord("Pad")));                     // trailing blanks are not kept
    unsigned long size = 0;
    auto moss = Ref<CKarmaProgram>::Adopt(
        CKarmaMOSSProgram::LoadProgram(CombiRecord("Hidden").data(), &size));
    root.GetProgramBank(5)->SetProgram(0, moss.get());
    root.GetProgramBank(1)->SetProgram(
        9, static_cast<CKarmaProgram*>(Program(ProgramRecord("Bigger Bells")).get()));

    const ItemCatalog c = ItemCatalog::FromRoot(root);
    ASSERT_EQ(c.Size(), 7u);
    EXPECT_EQ(Places(c, c.Find("bIg")), (std::vector<std::string>{"Combination A 127 BIG BRASS",
                                                                  "Combination C 007 Big Strings",
                                                                  "Program B 009 Bigger Bells"}));
    EXPECT_EQ(Places(c, c.Find("to do")), (std::vector<std::string>{"Program F 000 To Do!"}));
    EXPECT_EQ(c.Find("hidden").size(), 0u);
    EXPECT_EQ(c.Find("\xC9").size(), 0u) << "only ASCII letters are folded";
    EXPECT_EQ(c.Find("\xE9 k").size(), 1u);
    EXPECT_EQ(c.Find("cd").size(), 0u);
    EXPECT_EQ(c.Find("pad ").size(), 0u);
    EXPECT_EQ(c.Find("").size(), 7u);
    EXPECT_EQ(c.Find("Big Strings and more").size(), 0u);
    EXPECT_EQ(c.IndexOf(ItemKind::Combination, 2, 7), 4u);
    EXPECT_EQ(c.IndexOf(ItemKind::Program, 2, 7), ItemCatalog::npos);
}

TEST(ItemCatalog, ItemsWithoutBanksKeepTheTreeOrderAndTheLastItemOfAPlace) {
    auto first = Combi(CombiRecord("First"));
    auto second = Combi(CombiRecord("Second"));
    const ItemCatalog c = ItemCatalog::FromItems({
        At(ItemKind::Program, 0, 1, Program(ProgramRecord("Prog"))),
        At(ItemKind::Combination, 1, 0, first),
        At(ItemKind::Combination, 6, 0, Combi(CombiRecord("Bank G"))),
        At(ItemKind::Combination, 0, 128, Combi(CombiRecord("Slot 128"))),
        At(ItemKind::Combination, 0, -1, Combi(CombiRecord("Slot -1"))),
        At(ItemKind::Combination, 0, 0, Ref<CKarmaObject>()),
        At(ItemKind::Combination, 1, 0, second),
    });
    EXPECT_EQ(Places(c, c.Find("")),
              (std::vector<std::string>{"Combination B 000 Second", "Program A 001 Prog"}));
    EXPECT_EQ(first->RefCount(), 1) << "the replaced item is not held";
    EXPECT_EQ(second->RefCount(), 2);
}

TEST(RecordIndex, FindsByteIdenticalRecordsOnlyAndHoldsThemAfterTheirSource) {
    Bytes record = CombiRecord("Warm Pad", 3);
    Bytes lastByte = record;
    lastByte.back() ^= 1;  // 996 bytes: the last four are hashed after the 8-byte words
    Bytes renamed = record;
    renamed[15] = '!';
    bq::RecordIndex index;
    {
        const ItemCatalog one = ItemCatalog::FromItems({
            At(ItemKind::Combination, 0, 0, Combi(record)),
            At(ItemKind::Combination, 0, 1, Combi(lastByte)),
            At(ItemKind::Combination, 4, 9, Combi(record)),
        });
        const ItemCatalog two = ItemCatalog::FromItems({
            At(ItemKind::Combination, 2, 2, Combi(renamed)),
            At(ItemKind::Combination, 3, 3, Combi(record)),
        });
        index.Add(7, two);
        index.Add(1, one);
    }
    using P = bq::RecordIndex::Place;
    const auto probe = Combi(record);
    EXPECT_EQ(index.Where(*probe), (std::vector<P>{{1, 0}, {1, 2}, {7, 1}}));
    EXPECT_EQ(index.Where(*Combi(lastByte)), (std::vector<P>{{1, 1}}));
    EXPECT_TRUE(index.Where(*Program(ProgramRecord("Warm Pad", 3))).empty());
    index.Remove(1);
    EXPECT_EQ(index.Where(*probe), (std::vector<P>{{7, 1}}));
    EXPECT_NE(bq::RecordHash(*probe), bq::RecordHash(*Combi(lastByte)));
}

TEST(Compare, NamesEveryPlaceOfEitherSideWithItsStatus) {
    auto a = ItemCatalog::FromItems({
        At(ItemKind::Combination, 0, 0, Combi(CombiRecord("Kept", 1))),
        At(ItemKind::Combination, 0, 1, Combi(CombiRecord("Moved", 2))),
        At(ItemKind::Combination, 0, 2, Combi(CombiRecord("Edited", 3))),
        At(ItemKind::Combination, 0, 3, Combi(CombiRecord("Gone", 4))),
        At(ItemKind::Program, 0, 0, Program(ProgramRecord("Moved Over", 5))),
    });
    auto b = ItemCatalog::FromItems({
        At(ItemKind::Combination, 0, 0, Combi(CombiRecord("Kept", 1))),
        At(ItemKind::Combination, 0, 2, Combi(CombiRecord("Edited", 30))),
        At(ItemKind::Combination, 0, 9, Combi(CombiRecord("New", 6))),
        At(ItemKind::Combination, 5, 0, Combi(CombiRecord("Moved", 2))),
        At(ItemKind::Combination, 3, 0, Combi(CombiRecord("Moved", 2))),
        At(ItemKind::Program, 0, 0, Program(ProgramRecord("Other", 7))),
        At(ItemKind::Program, 0, 4, Program(ProgramRecord("Moved Over", 5))),
    });
    const bq::Comparison r = bq::Compare(a, b);
    std::vector<std::string> lines;
    for (const bq::SlotComparison& s : r.slots) {
        std::string line = std::string(bq::KindName(s.kind)) + " " + bq::BankLetter(s.bank) +
                           bq::SlotText(s.slot) + " " + std::to_string(int(s.status));
        if (s.status == SlotStatus::MovedTo) {
            line += " to " + std::string(1, bq::BankLetter(b.At(s.movedTo).bank)) +
                    bq::SlotText(b.At(s.movedTo).slot);
        }
        lines.push_back(line);
    }
    // 0 same, 1 moved, 2 changed, 3 only in A, 4 only in B.
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Combination A000 0", "Combination A001 1 to D000", "Combination A002 2",
                         "Combination A003 3", "Combination A009 4", "Combination D000 4",
                         "Combination F000 4", "Program A000 1 to A004", "Program A004 4"}));
    EXPECT_EQ(r.summary.same, 1u);
    EXPECT_EQ(r.summary.movedTo, 2u);
    EXPECT_EQ(r.summary.changed, 1u);
    EXPECT_EQ(r.summary.onlyInA, 1u);
    EXPECT_EQ(r.summary.onlyInB, 4u);
    EXPECT_FALSE(r.summary.Identical());
    EXPECT_TRUE(bq::Compare(b, b).summary.Identical());
    EXPECT_TRUE(bq::Compare(ItemCatalog(), ItemCatalog()).summary.Identical());
}

TEST(Export, CsvQuotesOnlyWhereNeededAndWritesUtf8) {
    std::string line;
    bq::AppendCsvLine(line, {"plain", " spaced ", "a,b", "say \"hi\"", "cr\rlf\n", ""});
    EXPECT_EQ(line, "plain, spaced ,\"a,b\",\"say \"\"hi\"\"\",\"cr\rlf\n\",\n");

    const ItemCatalog c = ItemCatalog::FromItems({
        At(ItemKind::Program, 5, 127, Program(ProgramRecord("Caf\xE9"))),
        At(ItemKind::Combination, 2, 0, Combi(CombiRecord("Strings, \"Big\""))),
    });
    EXPECT_EQ(bq::ExportCsv(c),
              "kind,bank,slot,name\n"
              "Combination,C,000,\"Strings, \"\"Big\"\"\"\n"
              "Program,F,127,Caf\xC3\xA9\n");
    EXPECT_EQ(bq::ExportText(c),
              "Combinations\n"
              "  Bank C\n"
              "    000 : Strings, \"Big\"\n"
              "Programs\n"
              "  Bank F (MOSS)\n"
              "    127 : Caf\xC3\xA9\n");
    EXPECT_EQ(bq::ExportText(ItemCatalog()), "Combinations\nPrograms\n");
}

}  // namespace

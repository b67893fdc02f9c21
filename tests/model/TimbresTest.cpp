// The timbre table of a Combination record, its texts, and the Combinations that use a Program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/ItemCatalog.h"
#include "model/KarmaBank.h"
#include "model/ProgramUsers.h"
#include "model/Timbres.h"
#include "tests/support/PcgBuilder.h"

namespace {

using bq::ProgramBankKind;
using bq::ProgramRef;
using bq::Timbre;
using bq::TimbreStatus;
using namespace bq::test;

// The 28 bytes of each timbre written at their places by hand: timbre 1 at 772, timbre 8 at
// 968, its bottom velocity at 993, three bytes before the record ends.
struct Golden {
    std::size_t at;
    unsigned char slot, bank, statusChannel, topKey, bottomKey, topVelocity, bottomVelocity;
};
const Golden kGolden[] = {
    {772, 0, 0, 0x00, 127, 0, 127, 1},     // Int, A 000, channel 1, the whole keyboard
    {800, 127, 4, 0x2F, 60, 59, 100, 90},  // Off, E 127, channel 16
    {828, 12, 5, 0x50, 72, 61, 64, 64},    // Both, F (MOSS) 012, global channel
    {856, 3, 6, 0x61, 0, 127, 0, 0},       // Ext, GM6 003, channel 2
    {884, 4, 9, 0x8E, 5, 5, 1, 1},         // Ex2, GM9 004, channel 15
    {912, 5, 1, 0xA0, 10, 9, 8, 7},        // status 5: unknown
    {940, 6, 2, 0xDF, 11, 12, 13, 14},     // status 6: unknown, channel bits 31
    {968, 7, 255, 0xF0, 21, 22, 23, 24},   // status 7: unknown, bank byte 255, global
};

Bytes GoldenRecord() {
    Bytes record = CombiRecord("Golden", 7);
    for (const Golden& g : kGolden) {
        record[g.at] = g.slot;
        record[g.at + 1] = g.bank;
        record[g.at + 2] = g.statusChannel;
        record[g.at + 21] = g.topKey;
        record[g.at + 22] = g.bottomKey;
        record[g.at + 24] = g.topVelocity;
        record[g.at + 25] = g.bottomVelocity;
    }
    return record;
}

TEST(Timbres, GoldenRecordGivesEveryStatusBankKindAndChannel) {
    const Bytes record = GoldenRecord();
    const std::vector<Timbre> t = bq::ReadTimbres(record.data(), record.size());
    ASSERT_EQ(t.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const Golden& g = kGolden[i];
        EXPECT_EQ(t[i].number, static_cast<int>(i + 1));
        EXPECT_EQ(t[i].programSlot, g.slot) << i;
        EXPECT_EQ(t[i].programBank, g.bank) << i;
        EXPECT_EQ(t[i].topKey, g.topKey) << i;
        EXPECT_EQ(t[i].bottomKey, g.bottomKey) << i;
        EXPECT_EQ(t[i].topVelocity, g.topVelocity) << i;
        EXPECT_EQ(t[i].bottomVelocity, g.bottomVelocity) << i;
    }
    const std::vector<TimbreStatus> statuses = {
        TimbreStatus::Int, TimbreStatus::Off,     TimbreStatus::Both,    TimbreStatus::Ext,
        TimbreStatus::Ex2, TimbreStatus::Unknown, TimbreStatus::Unknown, TimbreStatus::Unknown};
    const std::vector<int> channels = {0, 15, 16, 1, 14, 0, 31, 16};
    const std::vector<ProgramBankKind> kinds = {
        ProgramBankKind::Pcm, ProgramBankKind::Pcm, ProgramBankKind::Moss, ProgramBankKind::Gm,
        ProgramBankKind::Gm,  ProgramBankKind::Pcm, ProgramBankKind::Pcm,  ProgramBankKind::Gm};
    std::vector<bool> internal;
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(t[i].status, statuses[i]) << i;
        EXPECT_EQ(t[i].channel, channels[i]) << i;
        EXPECT_EQ(t[i].bankKind, kinds[i]) << i;
        internal.push_back(t[i].PlaysInternalProgram());
    }
    EXPECT_EQ(internal, (std::vector<bool>{true, false, true, false, false, false, false, false}));
    EXPECT_EQ(t[2].channel, bq::kGlobalChannel);
    EXPECT_EQ(bq::InternalPrograms(t), (std::vector<ProgramRef>{{0, 0}, {5, 12}}));
}

TEST(Timbres, RecordsOfTheWrongSizeGiveNone) {
    const Bytes record = GoldenRecord();
    EXPECT_TRUE(bq::ReadTimbres(record.data(), 995).empty());
    EXPECT_TRUE(bq::ReadTimbres(nullptr, 996).empty());
    Bytes longer = record;
    longer.push_back(0);
    EXPECT_TRUE(bq::ReadTimbres(longer.data(), longer.size()).empty());

    unsigned long size = 0;
    Bytes pcm = ProgramRecord("Piano");
    auto program = bq::Ref<CKarmaObject>::Adopt(CKarmaPCMProgram::LoadProgram(pcm.data(), &size));
    EXPECT_TRUE(bq::ReadTimbres(*program).empty());
    Bytes copy = record;
    auto combi = bq::Ref<CKarmaObject>::Adopt(CKarmaCombi::LoadCombi(copy.data(), &size));
    EXPECT_EQ(bq::ReadTimbres(*combi).size(), 8u);
}

TEST(Timbres, TextsForTheWindowsAndTheLister) {
    EXPECT_EQ(bq::NoteName(0), "C-1");
    EXPECT_EQ(bq::NoteName(11), "B-1");
    EXPECT_EQ(bq::NoteName(61), "C#4");
    EXPECT_EQ(bq::NoteName(127), "G9");
    EXPECT_EQ(bq::NoteName(128), "");
    EXPECT_EQ(bq::NoteName(-1), "");

    EXPECT_EQ(bq::ProgramBankText(255), "GM255");
    EXPECT_EQ(bq::ProgramRefText({0, 12}), "A 012");
    EXPECT_EQ(bq::ProgramRefText({5, 127}), "F 127");
    EXPECT_EQ(bq::ProgramRefText({6, 0}), "GM6 000");

    const std::vector<std::string> names = {"Int", "Off", "Both", "Ext", "Ex2", "?"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(bq::TimbreStatusName(static_cast<TimbreStatus>(i)), names[i]);
    }
}

// A 012 played by Int and Both timbres, and seen past: an Off timbre, another bank with the
// same slot, a GM bank, and a Program item.
TEST(ProgramUsers, FindsTheCombinationsWhoseInternalTimbresPlayIt) {
    CKarmaRootContainer root;
    unsigned long size = 0;
    auto put = [&root, &size](long bank, long slot, Bytes record) {
        auto item = bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(record.data(), &size));
        root.GetCombiBank(bank)->SetCombi(slot, item.get());
    };
    put(0, 3, CombiWithTimbres("Twice", {{1, 0, 12, kTimbreInt}, {3, 0, 12, kTimbreBoth | 0x10}}));
    put(0, 4, CombiWithTimbres("Off", {{1, 0, 12, kTimbreOff}}));
    put(0, 5, CombiWithTimbres("Elsewhere", {{1, 1, 12, kTimbreInt}, {2, 6, 12, kTimbreInt}}));
    put(2, 127, CombiWithTimbres("Last", {{8, 0, 12, kTimbreBoth}}));
    Bytes pcm = ProgramRecord("A 012 itself");
    auto program = bq::Ref<CKarmaProgram>::Adopt(CKarmaPCMProgram::LoadProgram(pcm.data(), &size));
    root.GetProgramBank(0)->SetProgram(12, program.get());

    const std::vector<bq::ProgramUser> users = bq::ProgramUsers(root, 0, 12);
    ASSERT_EQ(users.size(), 2u);
    const bq::ItemCatalog catalog = bq::ItemCatalog::FromRoot(root);
    EXPECT_EQ(users[0].index, catalog.IndexOf(bq::ItemKind::Combination, 0, 3));
    EXPECT_EQ(users[0].timbres, 0b101);
    EXPECT_EQ(users[1].index, catalog.IndexOf(bq::ItemKind::Combination, 2, 127));
    EXPECT_EQ(users[1].bank, 2);
    EXPECT_EQ(users[1].slot, 127);
    EXPECT_EQ(users[1].timbres, 0b10000000);

    ASSERT_EQ(bq::ProgramUsers(catalog, 6, 12).size(), 1u);
    EXPECT_EQ(bq::ProgramUsers(catalog, 6, 12)[0].slot, 5);
}

}  // namespace

// The restore's plan: which slots differ, bank by bank, and the Item Writes that put them back.

#include "midi/RestorePlan.h"

#include <gtest/gtest.h>

namespace bq::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

// `slots` records of a bank, each filled with its own byte.
Bytes Records(int index, int slots, std::uint8_t seed) {
    const std::size_t size = BackupBankAt(index).recordSize;
    Bytes records;
    for (int slot = 0; slot < slots; ++slot) {
        records.insert(records.end(), size, static_cast<std::uint8_t>(seed + slot));
    }
    return records;
}

Bytes& Bank(pcg::KarmaMemory& memory, int index) {
    const BackupBank bank = BackupBankAt(index);
    return bank.combination ? memory.combis[bank.bank] : memory.programs[bank.bank];
}

pcg::KarmaMemory Whole(std::uint8_t seed) {
    pcg::KarmaMemory memory;
    for (int index = 0; index < kBackupBanks; ++index) {
        Bank(memory, index) = Records(index, 128, seed);
    }
    return memory;
}

std::vector<int> All() {
    std::vector<int> banks;
    for (int i = 0; i < kBackupBanks; ++i) {
        banks.push_back(i);
    }
    return banks;
}

TEST(RestorePlanTest, DifferingSlotsBankByBankInTheOrderChosenWithTheirBytesOnTheWire) {
    const pcg::KarmaMemory file = Whole(1);
    pcg::KarmaMemory instrument = file;
    Bank(instrument, 2)[17 * 996 + 500] ^= 1;   // Combination Bank C, slot 017
    Bank(instrument, 2)[5 * 996] ^= 1;          // its slot 005, the name's first byte
    Bank(instrument, 6)[127 * 804 + 803] ^= 1;  // Program Bank A, the last byte of slot 127
    Bank(instrument, 11)[0] ^= 1;               // Program Bank F (MOSS), slot 000

    // Programs first, as chosen; each bank once.
    const RestorePlan plan = PlanRestore(file, instrument, {11, 6, 2, 3, 2});
    ASSERT_EQ(plan.banks.size(), 4u);
    EXPECT_EQ(plan.banks[0].bank, 11);
    EXPECT_EQ(plan.banks[0].differing, std::vector<int>{0});
    EXPECT_EQ(plan.banks[1].differing, std::vector<int>{127});
    EXPECT_EQ(plan.banks[2].differing, (std::vector<int>{5, 17}));
    EXPECT_TRUE(plan.banks[3].Same());
    EXPECT_EQ(plan.banks[3].held, 128);
    EXPECT_EQ(plan.writes, (std::vector<RestoreSlot>{{11, 0}, {6, 127}, {2, 5}, {2, 17}}));
    // The MOSS write, a PCM Program's and two Combinations': 485 + 928 + 2 x 1148 bytes, each
    // answered by a 6-byte status reply.
    EXPECT_EQ(plan.sendBytes, 485u + 928u + 2 * 1148u);
    EXPECT_EQ(plan.replyBytes, 4u * 6u);
    EXPECT_EQ(plan.WireBytes(), plan.sendBytes + plan.replyBytes);

    EXPECT_TRUE(PlanRestore(file, file, All()).writes.empty());
}

TEST(RestorePlanTest, OnlyWhatTheFileHoldsIsComparedAndWhatTheInstrumentLacksDiffers) {
    pcg::KarmaMemory file;
    Bank(file, 0) = Records(0, 3, 7);  // Combination Bank A: three records only
    Bank(file, 6) = Records(6, 128, 7);
    EXPECT_EQ(RestoreBanksHeld(file), (std::vector<int>{0, 6}));
    Bank(file, 11) = Records(11, 128, 7);
    EXPECT_EQ(RestoreBanksHeld(file), (std::vector<int>{0, 6, 11}));
    Bank(file, 11).clear();

    pcg::KarmaMemory instrument = Whole(7);  // slots 0..2 of bank A equal the file's
    Bank(instrument, 6).resize(100 * 804);   // a short download: slots 100..127 unknown
    const RestorePlan plan = PlanRestore(file, instrument, All());
    ASSERT_EQ(plan.banks.size(), 2u);
    EXPECT_EQ(plan.banks[0].held, 3);
    EXPECT_TRUE(plan.banks[0].Same());
    EXPECT_EQ(plan.banks[1].differing.size(), 28u);
    EXPECT_EQ(plan.banks[1].differing.front(), 100);
    EXPECT_TRUE(PlanRestore(file, instrument, {1, 5, 11, 12, -1}).banks.empty());
}

}  // namespace
}  // namespace bq::midi

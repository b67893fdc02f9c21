// A PCG file read back into the instrument's memory for a restore, the MOSS bank from its MBK1
// chunk.

#include "model/PcgMemory.h"

#include <gtest/gtest.h>

#include "tests/support/PcgBuilder.h"

namespace {

using namespace bq::pcg;
using namespace bq::test;

// Every byte value, differing from record to record.
std::vector<std::uint8_t> Records(std::size_t size, int count, unsigned seed) {
    std::vector<std::uint8_t> out(size * count);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(i * 7 + seed + i / size);
    }
    return out;
}

Bytes Moss(std::uint32_t count, std::uint32_t bank, std::size_t recordSize) {
    const auto records = Records(recordSize, static_cast<int>(count), 3);
    return Leaf("MBK1", count, bank, Bytes(records.begin(), records.end()));
}

KarmaMemory Read(const Bytes& content) {
    const TempFile file(content);
    KarmaMemory memory;
    EXPECT_EQ(ReadPcgMemory(file.Path(), &memory), S_OK);
    return memory;
}

TEST(PcgMemoryTest, ABackupReadsBackAsItsMemoryMossBankIncluded) {
    KarmaMemory memory;
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        memory.programs[bank] = Records(ProgramRecordSize(bank), kBankSlots, bank);
        memory.combis[bank] = Records(kCombiRecordSize, kBankSlots, 20 + bank);
    }
    memory.combis[3].resize(5 * kCombiRecordSize);  // a bank of five records
    memory.programs[2].clear();                     // and one the file does not hold
    const TempFile target(Bytes{}, "backup.pcg");
    ASSERT_TRUE(WritePcgFile(target.Path(), memory).Succeeded());
    KarmaMemory read;
    ASSERT_EQ(ReadPcgMemory(target.Path(), &read), S_OK);
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        EXPECT_EQ(read.programs[bank], memory.programs[bank]) << "Program bank " << bank;
        EXPECT_EQ(read.combis[bank], memory.combis[bank]) << "Combination bank " << bank;
    }
    // The MBK1 chunk is found after PBK1 chunks before and after it.
    const KarmaMemory between = Read(PcgFile(
        Container("PRG1", {ProgramBank(0, {"A"}), Moss(2, 5, 416), ProgramBank(1, {"B", "C"})})));
    EXPECT_EQ(between.programs[5], Records(416, 2, 3));
    EXPECT_EQ(between.programs[1].size(), 2 * 804u);
}

TEST(PcgMemoryTest, BankFIsTakenOnlyFromOneWellFormedMossChunk) {
    // A PBK1 chunk of bank F holds PCM records, not the instrument's MOSS Programs.
    EXPECT_TRUE(
        Read(PcgFile(Container("PRG1", {ProgramBank(5, {"Pcm In F"})}))).programs[5].empty());
    for (const Bytes& chunks :
         {Moss(2, 5, 804), Moss(2, 0, 416), Cat({Moss(1, 5, 416), Moss(1, 5, 416)})}) {
        const KarmaMemory memory = Read(PcgFile(Container("PRG1", {chunks})));
        EXPECT_TRUE(memory.programs[5].empty());
    }
    const TempFile triton(PcgFile({}, 0x50));
    KarmaMemory memory;
    memory.combis[0].assign(996, 1);
    EXPECT_EQ(ReadPcgMemory(triton.Path(), &memory), E_INVALIDARG);
    EXPECT_TRUE(memory.combis[0].empty());
    EXPECT_EQ(ReadPcgMemory("/nonexistent/x.pcg", &memory), HResultFromErrno(ENOENT));
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/PcgBuilder.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace {

using namespace bq::test;
using bq::VirtualKarma;

std::string NameOf(const std::vector<std::uint8_t>& record) {
    return std::string(record.begin(), record.begin() + 16);
}

TEST(VirtualKarmaPcg, LoadsBanksFromAFile) {
    const TempFile file(PcgFile(Cat({
        Container("PRG1", {ProgramBank(1, {"Alpha", "Beta"}), ProgramBank(5, {"Moss One"})}),
        Container("CMB1", {CombiBank(2, {"Gamma", "Delta", "Epsilon"})}),
    })));
    VirtualKarma karma;
    ASSERT_EQ(karma.LoadPCG(file.c_str()), S_OK);

    const Bytes beta = ProgramRecord("Beta", 1);
    EXPECT_EQ(karma.ProgramRecord(1, 1), std::vector<std::uint8_t>(beta.begin(), beta.end()));
    EXPECT_EQ(NameOf(karma.ProgramRecord(1, 0)), "Alpha           ");
    const Bytes moss = ProgramRecord("Moss One", 0);
    EXPECT_EQ(karma.ProgramRecord(5, 0),
              std::vector<std::uint8_t>(moss.begin(), moss.begin() + 416));
    const Bytes epsilon = CombiRecord("Epsilon", 2);
    EXPECT_EQ(karma.CombiRecord(2, 2), std::vector<std::uint8_t>(epsilon.begin(), epsilon.end()));
    EXPECT_EQ(karma.CombiRecord(2, 3), VirtualKarma::GeneratedCombi(2, 3));
    EXPECT_EQ(karma.ProgramRecord(0, 0), VirtualKarma::GeneratedProgram(0, 0));
}

TEST(VirtualKarmaPcg, TheMossRecordsOfABackupFillBankF) {
    Bytes moss(2 * 416);
    for (std::size_t i = 0; i < moss.size(); ++i) {
        moss[i] = static_cast<unsigned char>(i * 5);
    }
    const TempFile file(PcgFile(Container(
        "PRG1", {ProgramBank(5, {"Pcm One", "Pcm Two", "Pcm Three"}), Leaf("MBK1", 2, 5, moss)})));
    VirtualKarma karma;
    ASSERT_EQ(karma.LoadPCG(file.c_str()), S_OK);
    EXPECT_EQ(karma.ProgramRecord(5, 1), std::vector<std::uint8_t>(moss.begin() + 416, moss.end()));
    const Bytes third = ProgramRecord("Pcm Three", 2);
    EXPECT_EQ(karma.ProgramRecord(5, 2),
              std::vector<std::uint8_t>(third.begin(), third.begin() + 416));
}

TEST(VirtualKarmaPcg, AFailedLoadKeepsTheMemory) {
    const TempFile file(PcgFile({}, 0x50));  // a Triton file is refused
    VirtualKarma karma;
    const std::vector<std::uint8_t> record(996, 0x33);
    karma.SetCombiRecord(0, 0, record.data(), record.size());
    EXPECT_TRUE(FAILED(karma.LoadPCG(file.c_str())));
    EXPECT_EQ(karma.CombiRecord(0, 0), record);
}

}  // namespace

// Full-size files: every record of twelve banks, with small and large chunks skipped between
// them, arrives byte for byte where it belongs; a bank cut short keeps what came before.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/KarmaBank.h"
#include "model/KorgPCGFile.h"
#include "model/Ref.h"
#include "tests/support/PcgBuilder.h"

namespace {

using namespace bq::test;

constexpr int kBanks = 6;
constexpr int kSlots = 128;

std::vector<std::string> Names(char kind, int bank) {
    std::vector<std::string> names;
    for (int s = 0; s < kSlots; ++s) {
        names.push_back(std::string(1, kind) + std::to_string(bank) + "-" + std::to_string(s));
    }
    return names;
}

void Append(Bytes& to, const Bytes& part) {
    to.insert(to.end(), part.begin(), part.end());
}

bool SameRecord(const CKarmaObject& item, const Bytes& expected) {
    unsigned long size = 0;
    const unsigned char* data = item.GetData(&size);
    return data != nullptr && size == expected.size() &&
           std::memcmp(data, expected.data(), size) == 0;
}

TEST(PcgLargeFile, AFullSizeFileWithSkippedChunksLoadsEveryRecordByteForByte) {
    // Between the banks: a small skipped chunk and one larger than 64 KB.
    Bytes root;
    for (int b = 0; b < kBanks; ++b) {
        Append(root, ProgramBank(static_cast<std::uint32_t>(b), Names('P', b)));
        Append(root, Leaf("GLB1", 0, 0, Bytes(b % 2 == 0 ? 100 : 200000, 0x5A)));
        Append(root, CombiBank(static_cast<std::uint32_t>(b), Names('C', b)));
    }
    const TempFile temp(PcgFile(root));
    auto file = std::make_unique<CKorgPCGFile>();
    ASSERT_EQ(file->Load(temp.c_str()), S_OK);

    int wrong = 0;
    for (int b = 0; b < kBanks; ++b) {
        const std::vector<std::string> programs = Names('P', b);
        const std::vector<std::string> combis = Names('C', b);
        for (int s = 0; s < kSlots; ++s) {
            auto program = bq::Ref<CKarmaProgram>::Adopt(
                file->GetRootContainer()->GetProgramBank(b)->GetProgram(s));
            auto combi =
                bq::Ref<CKarmaCombi>::Adopt(file->GetRootContainer()->GetCombiBank(b)->GetCombi(s));
            const auto seed = static_cast<unsigned>(s);
            if (!program || !SameRecord(*program, ProgramRecord(programs[s], seed))) {
                ADD_FAILURE() << "program bank " << b << " slot " << s;
                ++wrong;
            }
            if (!combi || !SameRecord(*combi, CombiRecord(combis[s], seed))) {
                ADD_FAILURE() << "combination bank " << b << " slot " << s;
                ++wrong;
            }
            if (wrong > 5) {
                return;  // the rest would only repeat it
            }
        }
    }
}

TEST(PcgLargeFile, ABankCutShortInsideItsLastRecordKeepsWhatCameBefore) {
    // 128 programs of 804 bytes; the file ends inside the last.
    Bytes bank = ProgramBank(0, Names('P', 0));
    bank.resize(bank.size() - 10);
    const TempFile temp(PcgFile(bank));
    auto file = std::make_unique<CKorgPCGFile>();
    EXPECT_EQ(file->Load(temp.c_str()), E_UNEXPECTED);
    CKarmaProgramBank* programs = file->GetRootContainer()->GetProgramBank(0);
    auto last = bq::Ref<CKarmaProgram>::Adopt(programs->GetProgram(126));
    ASSERT_TRUE(last);
    EXPECT_TRUE(SameRecord(*last, ProgramRecord(Names('P', 0)[126], 126)));
    EXPECT_FALSE(bq::Ref<CKarmaProgram>::Adopt(programs->GetProgram(127)));
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "model/ItemText.h"
#include "model/KarmaBank.h"
#include "model/Ref.h"

namespace {

// A record whose first 16 bytes are the given name field and the rest a counting pattern.
std::vector<unsigned char> Record(std::size_t size, const char (&name)[17]) {
    std::vector<unsigned char> r(size);
    for (std::size_t i = 0; i < size; ++i) {
        r[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    std::memcpy(r.data(), name, 16);
    return r;
}

std::string NameOf(const CKarmaObject& item, int length) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(item.GetName(buffer, length), 1);
    return buffer;
}

TEST(Items, NamesKeepByteZeroAndInnerSpacesButDropTrailingOnes) {
    auto five = Record(996, "Piano           ");
    auto blanks = Record(996, "                ");
    auto full = Record(996, "ABCDEFGHIJKLMNOP");
    auto inner = Record(996, "Big  Pad        ");
    unsigned long size = 0;
    bq::Ref<CKarmaCombi> a =
        bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(five.data(), &size));
    EXPECT_EQ(size, 996u);
    auto b = bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(blanks.data(), &size));
    auto c = bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(full.data(), &size));
    auto d = bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(inner.data(), &size));
    EXPECT_EQ(NameOf(*a, 19), "Piano");
    EXPECT_EQ(NameOf(*b, 19), " ");
    EXPECT_EQ(NameOf(*c, 19), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(NameOf(*c, 10), "ABCDEFGHIJ");
    EXPECT_EQ(NameOf(*c, -1), "");
    EXPECT_EQ(NameOf(*d, 19), "Big  Pad");
    char buffer[4] = {'q', 'q', 'q', 'q'};
    EXPECT_EQ(a->GetName(nullptr, 19), 0);
    EXPECT_EQ(a->GetName(buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'q');
}

TEST(Items, FactoriesCopyExactlyOneRecordAndReportItsSize) {
    std::vector<unsigned char> run(804 * 2 + 416);
    for (std::size_t i = 0; i < run.size(); ++i) {
        run[i] = static_cast<unsigned char>(i);
    }
    unsigned long size = 12345;
    auto pcm = bq::Ref<CKarmaPCMProgram>::Adopt(CKarmaPCMProgram::LoadProgram(run.data(), &size));
    ASSERT_EQ(size, 804u);
    unsigned long dataSize = 0;
    EXPECT_EQ(std::memcmp(pcm->GetData(&dataSize), run.data(), 804), 0);
    EXPECT_EQ(dataSize, 804u);
    auto moss =
        bq::Ref<CKarmaMOSSProgram>::Adopt(CKarmaMOSSProgram::LoadProgram(run.data() + 804, &size));
    ASSERT_EQ(size, 416u);
    EXPECT_EQ(std::memcmp(moss->GetData(&dataSize), run.data() + 804, 416), 0);
    EXPECT_EQ(NameOf(*moss, 19), "To Do!");
    EXPECT_EQ(NameOf(*moss, 3), "To ");
    EXPECT_EQ(bq::ItemText(7, *moss), "007 : To Do!");
}

TEST(Items, ItemTextsGiveTheSlotInThreeDigitsThenTheName) {
    auto record = Record(996, "Warm Pad        ");
    unsigned long size = 0;
    auto combi = bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(record.data(), &size));
    EXPECT_EQ(bq::ItemText(0, *combi), "000 : Warm Pad");
    EXPECT_EQ(bq::ItemText(9, *combi), "009 : Warm Pad");
    EXPECT_EQ(bq::ItemText(10, *combi), "010 : Warm Pad");
    EXPECT_EQ(bq::ItemText(127, *combi), "127 : Warm Pad");
    EXPECT_EQ(bq::ItemText(999, *combi), "999 : Warm Pad");
    // Outside three digits the name still starts at character 6, over what the slot left.
    EXPECT_EQ(bq::ItemText(1000, *combi), "1000 :Warm Pad");
    EXPECT_EQ(bq::ItemText(-1, *combi), "-001 :Warm Pad");
    // A name whose first byte is 0 leaves the slot alone.
    auto unnamed = Record(996, "                ");
    unnamed[0] = 0;
    auto empty = bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(unnamed.data(), &size));
    EXPECT_EQ(bq::ItemText(42, *empty), "042 : ");
}

TEST(Items, ANewItemStartsWithAnEmptyRecord) {
    // Only the reader, which fills the whole record at once, makes items without zeroing it.
    for (int round = 0; round < 2; ++round) {
        auto combi = bq::Ref<CKarmaCombi>::Adopt(new CKarmaCombi());
        auto program = bq::Ref<CKarmaPCMProgram>::Adopt(new CKarmaPCMProgram());
        unsigned long size = 0;
        const unsigned char* c = combi->GetData(&size);
        EXPECT_EQ(std::count(c, c + size, 0), 996);
        const unsigned char* p = program->GetData(&size);
        EXPECT_EQ(std::count(p, p + size, 0), 804);
        // Dirty the memory the next round's items may get.
        std::memset(combi->Record(), 0xA5, 996);
        std::memset(program->Record(), 0xA5, 804);
    }
}

TEST(Items, TritonItemsExposeNothing) {
    CTritonCombi* combi = new CTritonCombi();
    unsigned long size = 77;
    char buffer[8] = "keep";
    EXPECT_EQ(combi->GetData(&size), nullptr);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(combi->GetName(buffer, 7), 0);
    EXPECT_STREQ(buffer, "keep");
    combi->Release();
}

TEST(Banks, SlotsHoldOneReferenceAndReleaseOnReplaceAndDestruction) {
    auto rec = Record(996, "One             ");
    unsigned long size = 0;
    CKarmaCombi* held = CKarmaCombi::LoadCombi(rec.data(), &size);  // the "view" keeps this
    {
        CKarmaRootContainer root;
        CKarmaCombiBank* bank = root.GetCombiBank(2);
        ASSERT_NE(bank, nullptr);
        EXPECT_EQ(root.GetCombiBank(2), bank);
        bank->SetCombi(5, held);
        EXPECT_EQ(held->RefCount(), 2);
        bank->SetCombi(5, held);  // the occupant stored again stays alive and in place
        EXPECT_EQ(held->RefCount(), 2);
        CKarmaCombi* got = bank->GetCombi(5);
        EXPECT_EQ(got, held);
        EXPECT_EQ(held->RefCount(), 3);
        got->Release();
        EXPECT_EQ(bank->GetCombi(6), nullptr);
        EXPECT_EQ(bank->GetCombi(128), nullptr);
        EXPECT_EQ(bank->GetCombi(-1), nullptr);
        bank->SetCombi(128, held);  // out of range: ignored
        EXPECT_EQ(held->RefCount(), 2);
        EXPECT_EQ(root.GetProgramBank(6), nullptr);
        EXPECT_EQ(root.GetCombiBank(-1), nullptr);
        for (long i = 0; i < 6; ++i) {
            ASSERT_NE(root.GetProgramBank(i), nullptr);
            EXPECT_EQ(root.GetProgramBank(i)->GetProgram(0), nullptr);
        }
    }
    EXPECT_EQ(held->RefCount(), 1);  // the bank's reference went with the container
    held->Release();
}

TEST(Banks, SettingNullEmptiesTheSlot) {
    auto rec = Record(804, "Prog            ");
    unsigned long size = 0;
    CKarmaProgramBank bank;
    CKarmaPCMProgram* p = CKarmaPCMProgram::LoadProgram(rec.data(), &size);
    bank.SetProgram(0, p);
    p->AddRef();  // keep it alive to watch the count
    p->Release();
    EXPECT_EQ(p->RefCount(), 2);
    bank.SetProgram(0, nullptr);
    EXPECT_EQ(p->RefCount(), 1);
    EXPECT_EQ(bank.GetProgram(0), nullptr);
    p->Release();
}

}  // namespace

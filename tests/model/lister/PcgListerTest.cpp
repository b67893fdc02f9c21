// Runs the built bankquill-pcg and compares what it prints and how it exits.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ListerRun.h"
#include "tests/support/PcgBuilder.h"
#include "tools/demo-pcg/DemoPcg.h"

namespace {

using namespace bq::test;

TEST(PcgLister, PrintsGroupsNonEmptyBanksAndItemLabels) {
    const TempFile file(PcgFile(Cat({
        Container("PRG1", {ProgramBank(5, {"Moss Lead       ", "                "}),
                           ProgramBank(0, {"ABCDEFGHIJKLMNOP"})}),
        Container("CMB1", {CombiBank(2, {"Big Strings", "Two  Words"})}),
    })));
    const ListerRun r = Lister({file.Path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Combinations\n"
              "  Bank C\n"
              "    000 : Big Strings\n"
              "    001 : Two  Words\n"
              "Programs\n"
              "  Bank A\n"
              "    000 : ABCDEFGHIJKLMNOP\n"
              "  Bank F (MOSS)\n"
              "    000 : Moss Lead\n"
              "    001 :  \n");
}

TEST(PcgLister, EmptyFileShowsBothGroupsOnly) {
    const TempFile file(PcgFile({}));
    const ListerRun r = Lister({file.Path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Combinations\nPrograms\n");
}

TEST(PcgLister, ReportsFailuresGoesOnAndExitsWithOne) {
    const TempFile good(PcgFile(CombiBank(1, {"Fine"})));
    const TempFile triton(PcgFile(CombiBank(1, {"Old"}), 0x50));
    const TempFile broken(Bytes{'K', 'O', 'R', 'G'});
    const TempFile strange(PcgFile(Leaf("ZZZ1", 0, 0, {})));
    const ListerRun r = Lister({triton.Path(), good.Path(), broken.Path(), "/nonexistent/x.pcg",
                                strange.Path(), good.Path()});
    EXPECT_EQ(r.status, 1);
    const std::string tree = "Combinations\n  Bank B\n    000 : Fine\nPrograms\n";
    EXPECT_EQ(r.out, tree + tree);
    EXPECT_EQ(r.err,
              "Triton format PCG files are not currently supported.\n"
              "Load PCG File. The file is not a valid Karma PCG file, or it is damaged.\n"
              "Load PCG File. No such file or directory\n"
              "Load PCG File. The file contains a section that this program does not "
              "recognise.\n");
}

TEST(PcgLister, ControlCharactersInNamesCannotBreakLines) {
    const TempFile file(PcgFile(CombiBank(0, {std::string("Line\nBreak\x1b[2J")})));
    const ListerRun r = Lister({file.Path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Combinations\n  Bank A\n    000 : Line?Break?[2J\nPrograms\n");
}

TEST(PcgLister, WithoutArgumentsPrintsUsage) {
    const ListerRun r = Lister({});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kUsage);
}

// The generated demo file lists every one of its 1536 items with its own name.
TEST(PcgLister, ListsTheWholeDemoFile) {
    const ListerRun r = Lister({BQ_DEMO_PCG});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = "Combinations\n";
    const char* letters = "ABCDEF";
    for (int b = 0; b < 6; ++b) {
        expected += std::string("  Bank ") + letters[b] + "\n";
        for (int s = 0; s < 128; ++s) {
            char label[8];
            std::snprintf(label, sizeof label, "%.3d : ", s);
            expected += "    " + std::string(label) + bq::demo::CombiName(b, s) + "\n";
        }
    }
    expected += "Programs\n";
    for (int b = 0; b < 6; ++b) {
        expected += std::string("  Bank ") + letters[b] + (b == 5 ? " (MOSS)" : "") + "\n";
        for (int s = 0; s < 128; ++s) {
            char label[8];
            std::snprintf(label, sizeof label, "%.3d : ", s);
            expected += "    " + std::string(label) + bq::demo::ProgramName(b, s) + "\n";
        }
    }
    EXPECT_EQ(r.out, expected);
}

}  // namespace

namespace {

TEST(DemoPcg, NamesAreDistinctAndFitTheField) {
    std::set<std::string> names;
    for (int b = 0; b < bq::demo::kBanks; ++b) {
        for (int s = 0; s < bq::demo::kSlots; ++s) {
            for (const std::string& n : {bq::demo::ProgramName(b, s), bq::demo::CombiName(b, s)}) {
                EXPECT_LE(n.size(), 16u) << n;
                EXPECT_EQ(n.back() == ' ' || n.front() == ' ', false) << n;
                names.insert(n);
            }
        }
    }
    EXPECT_EQ(names.size(), 2u * 6 * 128);
    const auto file = bq::demo::MakeDemoPcg();
    EXPECT_GT(file.size(), 1400u * 1000);
    EXPECT_LT(file.size(), 1600u * 1000);
}

}  // namespace

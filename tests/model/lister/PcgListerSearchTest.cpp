// bankquill-pcg --find, --compare, --csv and --help: output byte for byte, and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ListerRun.h"
#include "tests/support/PcgBuilder.h"

namespace {

using namespace bq::test;
namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const Bytes& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

std::string FolderOf(const TempFile& file) {
    return fs::path(file.Path()).parent_path().string();
}

// A folder of files: found by name in any case, in name order, subfolders included (also one
// whose name ends in .pcg); other files are not opened unless named.
TEST(PcgListerFind, SearchesFilesAndFoldersAndGoesOnPastUnreadableFiles) {
    const TempFile top(PcgFile(Cat({
        Container("CMB1", {CombiBank(0, {"Warm Pad", "Cold Lead"})}),
        Container("PRG1", {ProgramBank(1, {"Bass", "PAD organ"})}),
    })));
    const std::string dir = FolderOf(top);
    WriteFile(dir + "/notes.txt", PcgFile(CombiBank(0, {"Pad in notes"})));
    WriteFile(dir + "/sub/B.PCG", PcgFile(CombiBank(5, {"Lead", "Pad\tTab", "Caf\xE9 Pad"})));
    WriteFile(dir + "/sub/broken.pcg", Bytes{'K', 'O', 'R', 'G', 0x5D});
    WriteFile(dir + "/sub/more.PCG/z.Pcg", PcgFile(ProgramBank(4, {"Deep pAd"})));
    WriteFile(dir + "/sub/old.pcg", PcgFile(CombiBank(0, {"Old Pad"}), 0x50));
    ASSERT_EQ(::mkfifo((dir + "/sub/pipe.pcg").c_str(), 0600), 0);  // never opened
    fs::create_symlink(dir + "/none.pcg", dir + "/sub/zz-dangling.pcg");

    const ListerRun r = Lister({"--find", "pad", dir, dir + "/notes.txt", "/nonexistent/x.pcg"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, dir + "/sub/B.PCG\tCombination\tF\t001\tPad?Tab\n" + dir +
                         "/sub/B.PCG\tCombination\tF\t002\tCaf\xC3\xA9 Pad\n" + dir +
                         "/sub/more.PCG/z.Pcg\tProgram\tE\t000\tDeep pAd\n" + dir +
                         "/test.pcg\tCombination\tA\t000\tWarm Pad\n" + dir +
                         "/test.pcg\tProgram\tB\t001\tPAD organ\n" + dir +
                         "/notes.txt\tCombination\tA\t000\tPad in notes\n");
    EXPECT_EQ(r.err, dir + "/sub/broken.pcg: Load PCG File. The file is not a valid Karma PCG " +
                         "file, or it is damaged.\n" + dir +
                         "/sub/old.pcg: Triton format PCG files are not currently supported.\n" +
                         dir + "/sub/zz-dangling.pcg: Load PCG File. No such file or directory\n" +
                         "/nonexistent/x.pcg: Load PCG File. No such file or directory\n");

    const ListerRun none = Lister({"--find", "Strings", dir + "/sub"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("broken.pcg"), std::string::npos);
}

TEST(PcgListerFind, WithoutTextOrPathIsBadUsage) {
    for (const auto& args : {std::vector<std::string>{"--find"}, {"--find", "pad"}}) {
        const ListerRun r = Lister(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, kUsage);
    }
}

TEST(PcgListerCompare, PrintsEverySlotOfEitherFileAndASummary) {
    const TempFile a(PcgFile(
        Container("CMB1", {Leaf("CBK1", 4, 0,
                                Cat({CombiRecord("Kept", 1), CombiRecord("Moved", 2),
                                     CombiRecord("Edited", 3), CombiRecord("Gone", 4)}))})));
    const TempFile b(PcgFile(Container(
        "CMB1",
        {Leaf("CBK1", 3, 0,
              Cat({CombiRecord("Kept", 1), CombiRecord("Other", 9), CombiRecord("Edited", 30)})),
         Leaf("CBK1", 1, 3, CombiRecord("Moved", 2))})));
    const ListerRun r = Lister({"--compare", a.Path(), b.Path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Combination\tA\t000\tsame\tKept\tKept\n"
              "Combination\tA\t001\tmoved TO D 000\tMoved\tOther\n"
              "Combination\tA\t002\tchanged\tEdited\tEdited\n"
              "Combination\tA\t003\tonly in A\tGone\t\n"
              "Combination\tD\t000\tonly in B\t\tMoved\n"
              "1 same, 1 moved, 1 changed, 1 only in A, 1 only in B\n");

    const ListerRun same = Lister({"--compare", b.Path(), b.Path()});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out.substr(same.out.rfind('\n', same.out.size() - 2) + 1),
              "4 same, 0 moved, 0 changed, 0 only in A, 0 only in B\n");
}

TEST(PcgListerCompare, UnreadableFilesAndWrongArgumentsExitWithTwo) {
    const TempFile a(PcgFile({}));
    const ListerRun missing = Lister({"--compare", "/nonexistent/a.pcg", a.Path()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "/nonexistent/a.pcg: Load PCG File. No such file or directory\n");
    for (const auto& args : {std::vector<std::string>{"--compare", a.Path()},
                             {"--compare", a.Path(), a.Path(), a.Path()}}) {
        const ListerRun r = Lister(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, kUsage);
    }
}

TEST(PcgListerCsv, QuotesFieldsAndNamesTheFileFirst) {
    const TempFile file(
        PcgFile(Cat({
            Container("PRG1", {ProgramBank(0, {"Caf\xE9"})}),
            Container("CMB1", {CombiBank(1, {"Strings \"Big\"", "A,B", "Line\nBreak"})}),
        })),
        "my,set.pcg");
    const ListerRun r = Lister({"--csv", file.Path(), "/nonexistent/x.pcg"});
    EXPECT_EQ(r.status, 1);
    const std::string f = "\"" + file.Path() + "\"";
    EXPECT_EQ(r.out, "file,kind,bank,slot,name\n" +                            //
                         f + ",Combination,B,000,\"Strings \"\"Big\"\"\"\n" +  //
                         f + ",Combination,B,001,\"A,B\"\n" +                  //
                         f + ",Combination,B,002,Line?Break\n" +               //
                         f + ",Program,A,000,Caf\xC3\xA9\n");
    EXPECT_EQ(r.err, "/nonexistent/x.pcg: Load PCG File. No such file or directory\n");
    EXPECT_EQ(Lister({"--csv"}).status, 2);
}

TEST(PcgListerUsage, HelpGoesToStandardOutputAndUnknownOptionsAreRefused) {
    const ListerRun help = Lister({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.substr(0, std::string(kUsage).size()), kUsage);
    EXPECT_NE(help.out.find("\n  --compare A B "), std::string::npos);

    const ListerRun unknown = Lister({"--fnd", "pad", "x.pcg"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, kUsage);
}

}  // namespace

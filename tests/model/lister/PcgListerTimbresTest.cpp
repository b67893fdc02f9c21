// bankquill-pcg --timbres, and the Programs that --compare notes for a same Combination.
#include <gtest/gtest.h>

#include <string>

#include "ListerRun.h"
#include "tests/support/PcgBuilder.h"

namespace {

using namespace bq::test;

// Only Int and Both timbres are listed, in bank, slot and timbre order across files; a Program
// the file lacks (bank F here) and a GM Program have no name; an unreadable file is reported
// and passed over.
TEST(PcgListerTimbres, ListsTheInternalProgramsOfEveryCombination) {
    const TempFile first(PcgFile(Cat({
        Container("PRG1", {ProgramBank(0, {"Piano", "Organ\tTab"})}),
        Container("CMB1", {Leaf("CBK1", 1, 2, CombiWithTimbres("Later", {{2, 0, 0, kTimbreInt}})),
                           Leaf("CBK1", 2, 0,
                                Cat({CombiWithTimbres("Split", {{8, 0, 0, kTimbreBoth | 0x10},
                                                                {1, 0, 1, kTimbreInt | 0x03},
                                                                {2, 0, 0, kTimbreOff},
                                                                {3, 6, 5, kTimbreBoth},
                                                                {4, 5, 127, kTimbreInt},
                                                                {5, 1, 0, 0x60}}),
                                     CombiWithTimbres("Layer", {{2, 0, 1, kTimbreInt}})}))}),
    })));
    const TempFile second(PcgFile(
        Container("CMB1", {Leaf("CBK1", 1, 5, CombiWithTimbres("Caf\xE9", {{1, 0, 0, 0}}))})));

    const ListerRun r = Lister({"--timbres", first.Path(), "/nonexistent/x.pcg", second.Path()});
    EXPECT_EQ(r.status, 1);
    const std::string& f = first.Path();
    EXPECT_EQ(r.out, f + "\tA\t000\tSplit\t1\tInt\tA\t001\tOrgan?Tab\n" +      //
                         f + "\tA\t000\tSplit\t3\tBoth\tGM6\t005\t\n" +        //
                         f + "\tA\t000\tSplit\t4\tInt\tF\t127\t\n" +           //
                         f + "\tA\t000\tSplit\t8\tBoth\tA\t000\tPiano\n" +     //
                         f + "\tA\t001\tLayer\t2\tInt\tA\t001\tOrgan?Tab\n" +  //
                         f + "\tC\t000\tLater\t2\tInt\tA\t000\tPiano\n" +      //
                         second.Path() + "\tF\t000\tCaf\xC3\xA9\t1\tInt\tA\t000\t\n");
    EXPECT_EQ(r.err, "/nonexistent/x.pcg: Load PCG File. No such file or directory\n");

    const ListerRun ok = Lister({"--timbres", second.Path()});
    EXPECT_EQ(ok.status, 0);
    const ListerRun none = Lister({"--timbres"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, kUsage);
}

// The same Combination in both files: a seventh field names the Programs its Int and Both
// timbres play that differ (changed, or held by one file only), and only those.
TEST(PcgListerCompare, NotesTheProgramsThatDifferForASameCombination) {
    const Bytes lead = CombiWithTimbres("Lead", {{1, 0, 0, kTimbreInt},
                                                 {2, 0, 1, kTimbreBoth},
                                                 {3, 0, 2, kTimbreInt},
                                                 {4, 6, 1, kTimbreInt},
                                                 {5, 1, 0, kTimbreInt},
                                                 {6, 0, 1, kTimbreInt},
                                                 {7, 0, 3, kTimbreOff}});
    const Bytes pad = CombiWithTimbres("Pad", {{1, 0, 0, kTimbreInt}});
    const TempFile a(PcgFile(Cat({
        Container("CMB1", {Leaf("CBK1", 2, 0, Cat({lead, pad}))}),
        Container("PRG1", {Leaf("PBK1", 4, 0,
                                Cat({ProgramRecord("Piano", 0), ProgramRecord("Organ", 1),
                                     ProgramRecord("Strings", 2), ProgramRecord("Off Only", 3)}))}),
    })));
    const TempFile b(PcgFile(Cat({
        Container("CMB1", {Leaf("CBK1", 2, 0, Cat({lead, pad}))}),
        Container("PRG1", {Leaf("PBK1", 2, 0,
                                Cat({ProgramRecord("Piano", 0), ProgramRecord("Organ", 9)}))}),
    })));
    const ListerRun r = Lister({"--compare", a.Path(), b.Path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Combination\tA\t000\tsame\tLead\tLead\tprograms differ: A 001, A 002\n"
              "Combination\tA\t001\tsame\tPad\tPad\n"
              "Program\tA\t000\tsame\tPiano\tPiano\n"
              "Program\tA\t001\tchanged\tOrgan\tOrgan\n"
              "Program\tA\t002\tonly in A\tStrings\t\n"
              "Program\tA\t003\tonly in A\tOff Only\t\n"
              "3 same, 0 moved, 1 changed, 2 only in A, 0 only in B\n");
}

}  // namespace

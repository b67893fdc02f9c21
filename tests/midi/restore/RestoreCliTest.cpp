// bankquill-restore's options, the safety backup's name and the lines it prints.

#include "tools/restore/RestoreCli.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/ChildProcess.h"
#include "tests/support/PcgBuilder.h"

namespace bq::restore {
namespace {

using backup::Parsed;

Parsed Parse(std::vector<const char*> args, Options* options, std::string* error) {
    args.insert(args.begin(), "bankquill-restore");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(RestoreCliTest, OptionsAsTheBackupsWithAFileAndTheSafetyBackup) {
    Options options;
    std::string error;
    ASSERT_EQ(Parse({"old.pcg"}, &options, &error), Parsed::Run) << error;
    EXPECT_EQ(options.file, "old.pcg");
    EXPECT_EQ(options.banks.size(), 12u);
    EXPECT_FALSE(options.banksGiven || options.dryRun || options.noBackup || options.quiet);
    EXPECT_TRUE(options.backupTo.empty());

    ASSERT_EQ(Parse({"--in", "k:out", "--out", "k:in", "--banks", "pf,CA", "--timeout", "0.5", "-n",
                     "--backup-to", "before.pcg", "-q", "old.pcg"},
                    &options, &error),
              Parsed::Run)
        << error;
    EXPECT_EQ(options.banks, (std::vector<int>{0, 11}));
    EXPECT_EQ(options.silenceMs, 500);
    EXPECT_TRUE(options.dryRun && options.quiet && options.banksGiven);
    EXPECT_EQ(options.backupTo, "before.pcg");
    ASSERT_EQ(Parse({"--no-backup", "x.pcg"}, &options, &error), Parsed::Run);
    EXPECT_TRUE(options.noBackup);

    for (const std::vector<const char*>& bad :
         std::vector<std::vector<const char*>>{{},
                                               {"a.pcg", "b.pcg"},
                                               {"--banks", "CG", "a.pcg"},
                                               {"--in", "k:out", "a.pcg"},
                                               {"--timeout", "0", "a.pcg"},
                                               {"--no-backup", "--backup-to", "b.pcg", "a.pcg"},
                                               {"--backup-to"},
                                               {"-o", "x.pcg", "a.pcg"}}) {
        error.clear();
        EXPECT_EQ(Parse(bad, &options, &error), Parsed::BadUsage)
            << (bad.empty() ? "" : bad.front());
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(Parse({"--help", "a.pcg"}, &options, &error), Parsed::Help);

    // An earlier safety backup of the same minute is never replaced.
    const std::time_t now = std::time(nullptr);
    const std::string name = backup::DefaultFileName(now, "karma-before-restore");
    EXPECT_EQ(name.rfind("karma-before-restore-20", 0), 0u) << name;
    std::set<std::string> present;
    const auto exists = [&](const std::string& file) { return present.count(file) != 0; };
    EXPECT_EQ(FreeBackupName(now, exists), name);
    const std::string stem = name.substr(0, name.size() - 4);
    present = {name, stem + "-2.pcg"};
    EXPECT_EQ(FreeBackupName(now, exists), stem + "-3.pcg");
}

TEST(RestoreCliTest, PlanAndProgressLines) {
    EXPECT_EQ(BankLine({2, 128, {1, 5, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}}),
              "Combination Bank C: 12 of 128 slots differ");
    EXPECT_EQ(BankLine({11, 128, {7}}), "Program Bank F (MOSS): 1 of 128 slots differs");
    EXPECT_EQ(BankLine({6, 128, {}}), "Program Bank A: all 128 slots are the same");
    EXPECT_EQ(MissingBankLine(11), "Program Bank F (MOSS): not in the file");
    EXPECT_EQ(ReadFailure("t.pcg", E_INVALIDARG),
              "cannot read t.pcg: Triton format PCG files are not currently supported.");

    midi::RestorePlan plan;
    EXPECT_EQ(PlanTotal(plan), "In all: nothing to write");
    plan.writes.resize(128);
    plan.sendBytes = 128 * 1148;
    plan.replyBytes = 128 * 6;
    EXPECT_EQ(PlanTotal(plan), "In all: 128 slots to write, 144 KB (0:47 over a MIDI cable)");

    midi::RestoreProgress progress;
    progress.item = 13;
    progress.items = 140;
    progress.slot = {2, 17};
    progress.bytes = 12 * 1148;
    progress.totalBytes = 140 * 1148;
    // 12 writes in 4.5 s: 128 more take 48 s.
    EXPECT_EQ(WriteBarLine(progress, 4.5, 100),
              "Combination Bank C, slot 017 (13/140) [##-------------------------------]   8% "
              "13/157 KB  0:48 left");
    EXPECT_EQ(WriteBarLine(progress, 4.5, 50).size(), 49u) << "cut to the terminal";
    EXPECT_EQ(WriteLogLine(progress, 4.5),
              "Combination Bank C written: 13 of 140 slots, 13 of 157 KB, 0:48 left");
}

TEST(RestoreCliTest, WrongArgumentsExitWithTwoAndHelpWithZero) {
    midi::test::ChildProcess wrong;
    ASSERT_TRUE(wrong.Start({BQ_RESTORE, "--dry-run"}));
    EXPECT_EQ(wrong.Wait(10000), 2);
    // The safety backup must not replace the file being put back.
    const test::TempFile file(test::PcgFile(test::Container("CMB1", {test::CombiBank(0, {"A"})})));
    midi::test::ChildProcess itself;
    ASSERT_TRUE(itself.Start({BQ_RESTORE, "--backup-to", file.Path(), file.Path()}));
    EXPECT_EQ(itself.Wait(10000), 2);
    midi::test::ChildProcess help;
    ASSERT_TRUE(help.Start({BQ_RESTORE, "--help"}));
    EXPECT_TRUE(help.WaitForLine("  --no-backup", 10000));
    EXPECT_EQ(help.Wait(10000), 0);
}

}  // namespace
}  // namespace bq::restore

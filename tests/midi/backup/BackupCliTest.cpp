// bankquill-backup's options and progress texts, and its exit status for wrong arguments (which
// it gives before it reaches any JACK server).

#include "tools/backup/BackupCli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace bq::backup {
namespace {

Parsed Parse(std::vector<const char*> args, Options* options, std::string* error) {
    args.insert(args.begin(), "bankquill-backup");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(BackupCliTest, OptionsAndBankLists) {
    Options options;
    std::string error;
    ASSERT_EQ(Parse({}, &options, &error), Parsed::Run);
    EXPECT_EQ(options.banks.size(), 12u);
    EXPECT_EQ(options.silenceMs, 5000);
    EXPECT_TRUE(options.output.empty());

    ASSERT_EQ(Parse({"-o", "x.pcg", "--in", "a:out", "--out", "a:in", "--banks", "pf,Cdb",
                     "--timeout", "1.5", "-q"},
                    &options, &error),
              Parsed::Run);
    EXPECT_EQ(options.output, "x.pcg");
    EXPECT_EQ(options.inPort, "a:out");
    EXPECT_EQ(options.banks, (std::vector<int>{1, 3, 11}));
    EXPECT_EQ(options.silenceMs, 1500);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(Parse({"--banks", "C,P"}, &options, &error), Parsed::Run);
    EXPECT_EQ(options.banks.size(), 12u);

    for (const std::vector<const char*>& bad : {std::vector<const char*>{"--banks", "CG"},
                                                {"--banks", "C,"},
                                                {"--banks", "X"},
                                                {"--timeout", "0"},
                                                {"--timeout", "-2"},
                                                {"--in", "a:out"},
                                                {"-o"},
                                                {"--color"},
                                                {"file.pcg"}}) {
        error.clear();
        EXPECT_EQ(Parse(bad, &options, &error), Parsed::BadUsage) << bad.back();
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(Parse({"--banks", "CA", "--help"}, &options, &error), Parsed::Help);
}

TEST(BackupCliTest, NamesAndProgressTexts) {
    std::tm noon = {};
    noon.tm_year = 126;
    noon.tm_mon = 11;
    noon.tm_mday = 7;
    noon.tm_hour = 9;
    noon.tm_min = 5;
    noon.tm_isdst = -1;
    EXPECT_EQ(DefaultFileName(std::mktime(&noon)), "karma-backup-2026-12-07-0905.pcg");
    EXPECT_EQ(Duration(185), "3:05");
    EXPECT_EQ(Duration(3725), "1:02:05");
    EXPECT_EQ(Duration(-1), "--:--");

    midi::BackupProgress progress;
    progress.step = 4;
    progress.steps = 12;
    progress.bank = 3;
    progress.expectedBytes = 1523239;
    EXPECT_EQ(ProgressLogLine(progress, 0), "Bank 4 of 12: Combination Bank D: 0 of 1488 KB");
    progress.bytes = 3200 * 200;  // 200 s at 3200 bytes per second: 276 s of 883,239 bytes left
    EXPECT_EQ(ProgressLogLine(progress, 200),
              "Bank 4 of 12: Combination Bank D: 625 of 1488 KB, 3.1 KB/s, 4:36 left");
    EXPECT_EQ(ProgressBarLine(progress, 200, 80),
              "Combination Bank D (4/12) [#####--------]  42% 625/1488 KB  3.1 KB/s  4:36 left");
    EXPECT_EQ(ProgressBarLine(progress, 200, 40).size(), 39u) << "cut to the terminal";
}

TEST(BackupCliTest, WrongArgumentsExitWithTwoAndHelpWithZero) {
    midi::test::ChildProcess wrong;
    ASSERT_TRUE(wrong.Start({BQ_BACKUP, "--banks", "Q"}));
    EXPECT_EQ(wrong.Wait(10000), 2);
    midi::test::ChildProcess help;
    ASSERT_TRUE(help.Start({BQ_BACKUP, "--help"}));
    std::string line;
    EXPECT_TRUE(help.WaitForLine("Exit status: 0", 10000));
    EXPECT_EQ(help.Wait(10000), 0);
}

}  // namespace
}  // namespace bq::backup

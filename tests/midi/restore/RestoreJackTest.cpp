// bankquill-restore against bankquill-virtual-karma on the test command's JACK server, as a user
// runs it: back up, let the memory change, restore, back up again; and what a dry run, a cancel
// and a refused write leave in the instrument, read from the memory file it writes on exit.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "midi/RestorePlan.h"
#include "model/PcgMemory.h"
#include "tests/support/JackRig.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/PrivateJackServer.h"

namespace {

const auto* const kServerGuard =
    ::testing::AddGlobalTestEnvironment(new bq::test::PrivateJackServerGuard);

using Bytes = std::vector<std::uint8_t>;
using bq::e2e::Outcome;
using bq::pcg::KarmaMemory;
namespace fs = std::filesystem;
namespace midi = bq::midi;

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Files(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes& Bank(KarmaMemory& memory, int index) {
    const midi::BackupBank bank = midi::BackupBankAt(index);
    return bank.combination ? memory.combis[bank.bank] : memory.programs[bank.bank];
}

// X with three slots changed in every bank but Combination Bank C: 33 slots differ.
KarmaMemory Changed(KarmaMemory memory) {
    for (int index = 0; index < midi::kBackupBanks; ++index) {
        const std::size_t size = midi::BackupBankAt(index).recordSize;
        for (int slot : {index, 64 + index, 127}) {
            if (index != 2) {
                Bank(memory, index)[slot * size + 30] ^= 0x5A;
            }
        }
    }
    return memory;
}

// The memory file of the virtual Karma: Program banks A to F, Combination banks A to F, then the
// current Combination, which is left out.
Bytes MemoryFileOf(KarmaMemory memory) {
    Bytes flat;
    for (const auto* banks : {&memory.programs, &memory.combis}) {
        for (const Bytes& bank : *banks) {
            flat.insert(flat.end(), bank.begin(), bank.end());
        }
    }
    return flat;
}

// Y with the first `written` slots of the plan holding X's records again.
Bytes Expected(const KarmaMemory& x, KarmaMemory y, const midi::RestorePlan& plan,
               std::size_t written) {
    for (std::size_t i = 0; i < written; ++i) {
        const midi::RestoreSlot& slot = plan.writes[i];
        const std::size_t size = midi::BackupBankAt(slot.bank).recordSize;
        std::copy_n(midi::RestoreRecord(x, slot), size,
                    Bank(y, slot.bank).begin() + slot.slot * size);
    }
    return MemoryFileOf(std::move(y));
}

// "N of M slots were written" in a failure's text: N.
std::size_t WrittenIn(const std::string& output) {
    std::smatch match;
    const std::regex written("restore: .*; ([0-9]+) of ([0-9]+) slots? w");
    return std::regex_search(output, match, written) ? std::stoul(match[1]) : 1000;
}

class RestoreJackTest : public ::testing::Test {
protected:
    RestoreJackTest() {
        const bq::test::TempFile made(Bytes{}, "x.pcg");
        dir = fs::path(made.Path()).parent_path().string() + "-restore";
        fs::create_directories(dir);
    }
    ~RestoreJackTest() override { fs::remove_all(dir); }

    std::unique_ptr<bq::e2e::ChildProcess> Karma(std::vector<std::string> options) {
        return bq::e2e::StartVirtualKarma(BQ_VIRTUAL_KARMA, std::move(options));
    }
    Outcome Restore(const std::vector<std::string>& args) {
        return bq::e2e::Run(BQ_RESTORE, args, dir);
    }
    // Its log after it stopped: one line a request.
    static std::string Stop(bq::e2e::ChildProcess& karma) {
        karma.Signal(SIGINT);
        return bq::e2e::Finish(karma, 10000).output;
    }
    static int Writes(const std::string& log) {
        int writes = 0;
        for (std::size_t at = log.find("item write"); at != std::string::npos;
             at = log.find("item write", at + 1)) {
            ++writes;
        }
        return writes;
    }

    std::string dir;
};

TEST_F(RestoreJackTest, ABackupPutBackIsByteForByteWhatWasBackedUpAndASecondRestoreWritesNothing) {
    const std::string x = dir + "/x.pcg";
    const std::string y = dir + "/y.pcg";
    {
        auto karma = Karma({"--rate", "0"});
        ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";
        const Outcome backup = bq::e2e::Run(BQ_BACKUP, {"-q", "-o", x});
        ASSERT_EQ(backup.status, 0) << backup.output;
        Stop(*karma);
    }
    KarmaMemory memory;
    ASSERT_EQ(bq::pcg::ReadPcgMemory(x, &memory), S_OK);
    ASSERT_TRUE(memory.Complete());
    ASSERT_TRUE(bq::pcg::WritePcgFile(y, Changed(memory)).Succeeded());

    auto karma = Karma({"--rate", "0", "--channel", "9", "--pcg", y});
    ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";
    const Outcome restore = Restore({"x.pcg"});
    EXPECT_EQ(restore.status, 0) << restore.output;
    for (const char* line :
         {"global MIDI channel 10\n", "Combination Bank A: 3 of 128 slots differ\n",
          "Combination Bank C: all 128 slots are the same\n",
          "Program Bank F (MOSS): 3 of 128 slots differ\n",
          "In all: 33 slots to write, 32 KB (0:10 over a MIDI cable)\n",
          "Program Bank F (MOSS) written: 33 of 33 slots, 32 of 32 KB",
          "Restored 33 slots in 11 banks from x.pcg in "}) {
        EXPECT_NE(restore.output.find(line), std::string::npos) << line << restore.output;
    }
    // The safety backup holds what the instrument held: Y, as WritePcgFile wrote it.
    const std::vector<std::string> files = Files(dir);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].rfind("karma-before-restore-", 0), 0u) << files[0];
    EXPECT_TRUE(ReadAll(dir + "/" + files[0]) == ReadAll(y)) << "the safety backup differs";

    const Outcome again = bq::e2e::Run(BQ_BACKUP, {"-q", "-o", dir + "/again.pcg"});
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_TRUE(ReadAll(dir + "/again.pcg") == ReadAll(x)) << "the backups differ";

    const Outcome second = Restore({"x.pcg"});
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("In all: nothing to write\n"), std::string::npos) << second.output;
    EXPECT_EQ(Files(dir).size(), 4u) << "no safety backup when nothing is written";
    EXPECT_EQ(Writes(Stop(*karma)), 33);
}

TEST_F(RestoreJackTest, ADryRunWritesNothingAndACancelOrARefusalLeavesWhatItReports) {
    // X is the virtual Karma's own memory, as it starts without a file.
    KarmaMemory x;
    const std::string xFile = dir + "/x.pcg";
    const std::string yFile = dir + "/y.pcg";
    {
        auto karma = Karma({"--rate", "0"});
        ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";
        ASSERT_EQ(bq::e2e::Run(BQ_BACKUP, {"-q", "-o", xFile}).status, 0);
        Stop(*karma);
    }
    ASSERT_EQ(bq::pcg::ReadPcgMemory(xFile, &x), S_OK);
    const KarmaMemory y = Changed(x);
    ASSERT_TRUE(bq::pcg::WritePcgFile(yFile, y).Succeeded());
    const std::string memoryFile = dir + "/memory.bin";

    {
        // Each write arrives as over a MIDI cable: a Combination's takes 0.37 s.
        auto karma = Karma(
            {"--rate", "0", "--receive-rate", "3125", "--pcg", yFile, "--memory-out", memoryFile});
        ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";
        const Outcome dry = Restore({"--dry-run", "--banks", "C", "x.pcg"});
        EXPECT_EQ(dry.status, 0) << dry.output;
        EXPECT_NE(dry.output.find("Combination Bank F: 3 of 128 slots differ\n"
                                  "In all: 15 slots to write"),
                  std::string::npos)
            << dry.output;
        EXPECT_EQ(Files(dir), (std::vector<std::string>{"x.pcg", "y.pcg"})) << "no file";

        bq::e2e::ChildProcess restore;
        ASSERT_TRUE(bq::e2e::StartJoined(restore, BQ_RESTORE,
                                         {"--no-backup", "--banks", "CA,PA,PF", "x.pcg"}, dir));
        // Once the second write is in, the restore is told to stop.
        ASSERT_TRUE(karma->WaitForLine("item write Combination A-064: stored", 60000));
        restore.Signal(SIGINT);
        const Outcome cancelled = bq::e2e::Finish(restore);
        EXPECT_EQ(cancelled.status, 1) << cancelled.output;
        EXPECT_NE(cancelled.output.find("bankquill-restore: cancelled; "), std::string::npos)
            << cancelled.output;
        const std::size_t written = WrittenIn(cancelled.output);
        EXPECT_TRUE(written == 2 || written == 3) << cancelled.output;
        const std::string log = Stop(*karma);
        EXPECT_EQ(Writes(log), static_cast<int>(written) - 2) << "after the two read before";
        const midi::RestorePlan plan = midi::PlanRestore(x, y, {0, 6, 11});
        const Bytes held = ReadAll(memoryFile);
        const Bytes expected = Expected(x, y, plan, written);
        ASSERT_GE(held.size(), expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), held.begin()))
            << "the instrument holds other slots than the " << written << " reported";
    }

    auto karma = Karma(
        {"--rate", "0", "--fail-writes-after", "4", "--pcg", yFile, "--memory-out", memoryFile});
    ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";
    const Outcome refused = Restore({"x.pcg"});
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("bankquill-restore: the Karma refused the write of Combination "
                                  "Bank B, slot 065 (Failed Reply); 4 of 33 slots were written; "
                                  "the banks as they were are in karma-before-restore-"),
              std::string::npos)
        << refused.output;
    Stop(*karma);
    const Bytes held = ReadAll(memoryFile);
    const Bytes expected =
        Expected(x, y, midi::PlanRestore(x, y, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), 4);
    ASSERT_GE(held.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), held.begin()))
        << "the instrument holds other slots than the 4 reported";
}

}  // namespace

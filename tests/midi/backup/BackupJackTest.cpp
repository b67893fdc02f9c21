// bankquill-backup against bankquill-virtual-karma on the test command's JACK server, as a user
// runs it: a process with arguments, an exit status, its output and the file it leaves.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/KorgPCGFile.h"
#include "tests/support/JackRig.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/PrivateJackServer.h"

namespace {

const auto* const kServerGuard =
    ::testing::AddGlobalTestEnvironment(new bq::test::PrivateJackServerGuard);

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

using bq::e2e::Outcome;

Outcome Backup(const std::vector<std::string>& args) {
    return bq::e2e::Run(BQ_BACKUP, args);
}

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Word(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

// The payloads of the bank chunks in file order, each after its tag and bank index.
std::vector<std::pair<std::string, Bytes>> Leaves(const Bytes& file) {
    std::vector<std::pair<std::string, Bytes>> leaves;
    for (std::size_t c = 24; c + 8 <= file.size(); c += 8 + Word(file, c + 4)) {
        for (std::size_t l = c + 8; l < c + 8 + Word(file, c + 4); l += 8 + Word(file, l + 4)) {
            const std::string name = std::string(file.begin() + l, file.begin() + l + 4) +
                                     std::to_string(Word(file, l + 16));
            leaves.emplace_back(
                name, Bytes(file.begin() + l + 20, file.begin() + l + 8 + Word(file, l + 4)));
        }
    }
    return leaves;
}

std::unique_ptr<bq::e2e::ChildProcess> StartKarma(std::vector<std::string> options) {
    return bq::e2e::StartVirtualKarma(BQ_VIRTUAL_KARMA, std::move(options));
}

TEST(BackupJackTest, WholeMemoryIsBackedUpByteForBytePastAnotherDevicesMessages) {
    bq::test::TempFile memoryFile(Bytes{}, "memory.bin");
    const fs::path dir = fs::path(memoryFile.Path()).parent_path();
    // Another device's SysEx on the same cable before every answer: passed over, not taken for
    // the dump.
    auto karma = StartKarma({"--rate", "0", "--channel", "5", "--memory-out", memoryFile.Path(),
                             "--stray", "F0 43 10 4C 00 00 7E 00 F7"});
    ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";

    const Outcome run = Backup({"-o", (dir / "backup.pcg").string()});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("global MIDI channel 6"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Bank 12 of 12: Program Bank F (MOSS): 1488 of 1488 KB"),
              std::string::npos)
        << "plain progress lines when the output is no terminal\n"
        << run.output;
    ASSERT_EQ(bq::e2e::StopVirtualKarma(*karma), 0);

    const Bytes backup = ReadAll(dir / "backup.pcg");
    const Bytes memory = ReadAll(memoryFile.Path());
    ASSERT_EQ(memory.size(), 1333732u);
    // The memory file: Program banks A to F, Combination banks A to F, the current Combination.
    Bytes records;
    std::vector<std::string> order;
    for (const auto& [name, payload] : Leaves(backup)) {
        order.push_back(name);
        records.insert(records.end(), payload.begin(), payload.end());
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"PBK10", "PBK11", "PBK12", "PBK13", "PBK14", "MBK15",
                                        "CBK10", "CBK11", "CBK12", "CBK13", "CBK14", "CBK15"}));
    EXPECT_TRUE(records == Bytes(memory.begin(), memory.end() - 996)) << "records differ";
    CKorgPCGFile file;
    EXPECT_EQ(file.Load((dir / "backup.pcg").c_str()), S_OK);
}

TEST(BackupJackTest, AFailedBackupExitsWithOneAndKeepsWhatWasThere) {
    bq::test::TempFile earlier(Bytes{'o', 'l', 'd'}, "backup.pcg");
    const fs::path dir = fs::path(earlier.Path()).parent_path();
    {
        auto karma = StartKarma({"--rate", "0", "--refuse-dumps"});
        ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";
        const Outcome run = Backup({"-o", earlier.Path()});
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("bankquill-backup: the Karma refused to send Combination Bank "
                                  "A (Failed Reply); nothing was written"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(bq::e2e::StopVirtualKarma(*karma), 0);
    }
    EXPECT_EQ(ReadAll(earlier.Path()), (Bytes{'o', 'l', 'd'}));

    // Found on the ports given, then silent.
    auto karma = StartKarma({"--rate", "0", "--silent"});
    ASSERT_TRUE(karma) << "bankquill-virtual-karma did not start";
    const Outcome run = Backup({"--in", bq::e2e::kKarmaOut, "--out", bq::e2e::kKarmaIn, "--timeout",
                                "1", "-o", (dir / "new.pcg").string()});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("did not answer the request for Combination Bank A within 1 second"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(bq::e2e::StopVirtualKarma(*karma), 0);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"backup.pcg"}) << "no new or temporary file";
}

}  // namespace

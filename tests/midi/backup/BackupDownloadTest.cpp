// The backup download over the loopback services, against the virtual Karma or a script.

#include "midi/BackupDownload.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "midi/loopback/LoopbackMidiServices.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace bq::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Answers the Identity Request, and each dump request with the next reply of its script. It
// takes at most `limit` messages: anything beyond is a request the download should not make.
class ScriptedKarma final : public IMidiDevice {
public:
    ScriptedKarma(std::vector<Bytes> replies, int limit)
        : m_replies(std::move(replies)), m_limit(limit) {}
    void HandleMessage(const std::uint8_t*, std::size_t length,
                       std::vector<MidiTimedBytes>* reply) override {
        if (++m_handled > m_limit) {
            return;
        }
        if (length == sysex::kIdentityRequestLength) {
            reply->push_back({0, VirtualKarma().IdentityReply()});
        } else if (m_next < m_replies.size()) {
            reply->push_back({0, m_replies[m_next++]});
        }
    }
    int Handled() const { return m_handled; }

private:
    std::vector<Bytes> m_replies;
    std::size_t m_next = 0;
    const int m_limit;
    std::atomic<int> m_handled{0};
};

std::vector<int> AllBanks() {
    std::vector<int> banks;
    for (int i = 0; i < kBackupBanks; ++i) {
        banks.push_back(i);
    }
    return banks;
}

class BackupDownloadTest : public ::testing::Test {
protected:
    // Three ports each way; the instrument listens on output 2 and answers on input 1.
    BackupDownloadTest()
        : services(std::make_unique<LoopbackMidiServices>(
              std::vector<std::string>{"In Zero", "In One", "In Two"},
              std::vector<std::string>{"Out Zero", "Out One", "Out Two"})),
          karma(std::make_shared<VirtualKarma>()) {}
    // The download closes its ports first; then the services' thread stops.
    ~BackupDownloadTest() override {
        download.reset();
        services.reset();
    }

    std::unique_ptr<LoopbackMidiServices> services;
    std::shared_ptr<VirtualKarma> karma;
    std::unique_ptr<BackupDownload> download = std::make_unique<BackupDownload>(*services);
};

TEST_F(BackupDownloadTest, FindsTheKarmaAndDownloadsEveryBankPassingOverOtherDevicesMessages) {
    karma->SetChannel(5);
    VirtualKarma::Faults faults;
    faults.stray = {0xF0, 0x43, 0x10, 0x4C, 0xF7};  // another maker's SysEx before every reply
    karma->SetFaults(faults);
    ASSERT_TRUE(services->AttachDevice(2, 1, karma));

    const BackupStatus found = download->Find();
    ASSERT_TRUE(found.Succeeded()) << found.reason;
    EXPECT_EQ(download->InputName(), "In One");
    EXPECT_EQ(download->OutputName(), "Out Two");
    EXPECT_EQ(download->Channel(), 5);

    std::vector<BackupProgress> seen;
    pcg::KarmaMemory memory;
    const BackupStatus status = download->Download(
        AllBanks(), &memory, [&](const BackupProgress& p) { seen.push_back(p); });
    ASSERT_TRUE(status.Succeeded()) << status.reason;
    ASSERT_TRUE(memory.Complete());
    for (int bank = 0; bank < 6; ++bank) {
        EXPECT_EQ(memory.combis[bank], karma->CombiBank(bank)) << bank;
        EXPECT_EQ(memory.programs[bank], karma->ProgramBank(bank)) << bank;
    }

    // Every bank begins and ends in order; the bytes only grow, to every byte received.
    std::uint64_t dumps = 0;
    for (int i = 0; i < kBackupBanks; ++i) {
        dumps += BackupBankAt(i).dumpBytes + faults.stray.size();
    }
    int done = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].steps, 12);
        EXPECT_EQ(seen[i].bank, seen[i].step - 1);
        if (i > 0) {
            EXPECT_GE(seen[i].bytes, seen[i - 1].bytes);
            EXPECT_GE(seen[i].step, seen[i - 1].step);
        }
        done += seen[i].bankDone ? 1 : 0;
    }
    EXPECT_EQ(done, 12);
    EXPECT_EQ(seen.back().bytes, dumps);
    EXPECT_EQ(seen.back().expectedBytes, 1523239u);

    // The requests carried the global channel of the Identity Reply.
    const auto sent = services->SentMessages(2);
    ASSERT_EQ(sent.size(), 13u);
    for (std::size_t i = 1; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i][2], 0x35);
    }
    download->Close();
    EXPECT_EQ(services->OpenInputs(), 0u);
    EXPECT_EQ(services->OpenOutputs(), 0u);
}

TEST_F(BackupDownloadTest, RefusedAndMalformedDumpsFailTheirBank) {
    VirtualKarma::Faults faults;
    faults.refuseDumps = true;
    karma->SetFaults(faults);
    ASSERT_TRUE(services->AttachDevice(2, 1, karma));
    ASSERT_TRUE(download->Find().Succeeded());
    pcg::KarmaMemory memory;
    BackupStatus status = download->Download({7}, &memory);
    EXPECT_EQ(status.error, BackupError::Refused);
    EXPECT_EQ(status.bank, 7);
    EXPECT_EQ(status.reason, "the Karma refused to send Program Bank B (Failed Reply)");

    // A Karma message that unpacks to a record short of a bank, then an Error Reply.
    Bytes shortDump = {0xF0, 0x42, 0x30, 0x5D, 0x4D, 0x00, 0x10, 0x00};
    shortDump.resize(8 + sysex::PackedLength(127 * 996), 0x11);
    shortDump.push_back(0xF7);
    auto script = std::make_shared<ScriptedKarma>(
        std::vector<Bytes>{
            shortDump, shortDump, shortDump, {0xF0, 0x42, 0x30, 0x5D, 0x26, 0x41, 0xF7}},
        5);
    services->DetachDevice(2);
    ASSERT_TRUE(services->AttachDevice(2, 1, script));
    ASSERT_TRUE(download->Connect("In One", "Out Two").Succeeded());
    status = download->Download({0, 1}, &memory);
    EXPECT_EQ(status.error, BackupError::BadDump);
    EXPECT_EQ(status.bank, 0);
    EXPECT_EQ(status.reason, "the dump of Combination Bank A (" + std::to_string(shortDump.size()) +
                                 " bytes) does not hold 128 records of 996 bytes; asked 3 times");
    EXPECT_TRUE(memory.combis[0].empty());
    status = download->Download({3}, &memory);
    EXPECT_EQ(status.error, BackupError::Refused);
    EXPECT_NE(status.reason.find("Error Reply, code 65"), std::string::npos) << status.reason;
    EXPECT_EQ(script->Handled(), 5)
        << "one Identity Request, bank A three times, bank D once: a refusal is not asked again";
}

TEST_F(BackupDownloadTest, ABankWhoseAnswerIsLostInPartIsAskedForAgain) {
    // The whole answer of the virtual Karma for Combination Bank A, then the same cut short:
    // once without its end (the rest lost on the way), once with a chunk lost inside.
    Bytes whole;
    std::vector<MidiTimedBytes> reply;
    const auto request = BackupDumpRequest(0, 0);
    karma->HandleMessage(request.data(), request.size(), &reply);
    for (const MidiTimedBytes& chunk : reply) {
        whole.insert(whole.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    ASSERT_GT(whole.size(), 100000u);
    const Bytes cut(whole.begin(), whole.begin() + 88 * 1024);  // whole input buffers
    Bytes holed(whole.begin(), whole.begin() + 50000);
    holed.insert(holed.end(), whole.begin() + 70000, whole.end());
    auto script = std::make_shared<ScriptedKarma>(std::vector<Bytes>{cut, holed, whole}, 4);
    ASSERT_TRUE(services->AttachDevice(2, 1, script));
    download->SetSilenceMs(300);
    ASSERT_TRUE(download->Connect("In One", "Out Two").Succeeded());

    pcg::KarmaMemory memory;
    std::vector<std::string> again;
    std::uint64_t bytes = 0;
    const BackupStatus status = download->Download({0}, &memory, [&](const BackupProgress& p) {
        if (!p.again.empty()) {
            again.push_back(p.again);
        }
        bytes = p.bytes;
    });
    ASSERT_TRUE(status.Succeeded()) << status.reason;
    EXPECT_EQ(memory.combis[0], karma->CombiBank(0));
    EXPECT_EQ(bytes, whole.size()) << "what came of a lost answer is not counted";
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0],
              "the Karma went silent for 300 ms while sending Combination Bank A (88 KB of 142 "
              "KB received); asking again (2 of 3)");
    EXPECT_NE(again[1].find("does not hold 128 records"), std::string::npos) << again[1];
    EXPECT_NE(again[1].find("(3 of 3)"), std::string::npos) << again[1];
}

TEST_F(BackupDownloadTest, SilenceAndCancellationEndTheDownload) {
    ASSERT_TRUE(services->AttachDevice(2, 1, karma));
    download->SetSilenceMs(300);
    ASSERT_TRUE(download->Find().Succeeded());
    pcg::KarmaMemory memory;
    const BackupStatus cancelled =
        download->Download(AllBanks(), &memory, [this](const BackupProgress& p) {
            if (p.step == 3) {
                download->Cancel();
            }
        });
    EXPECT_EQ(cancelled.error, BackupError::Cancelled);
    EXPECT_EQ(cancelled.bank, 2);
    EXPECT_FALSE(memory.combis[1].empty());
    EXPECT_TRUE(memory.combis[2].empty());
    EXPECT_EQ(download->Find().error, BackupError::Cancelled) << "cancelling is for good";

    BackupDownload second(*services);
    second.SetSilenceMs(300);
    VirtualKarma::Faults faults;
    faults.silent = true;
    karma->SetFaults(faults);
    ASSERT_TRUE(second.Connect("In One", "Out Two").Succeeded());
    const BackupStatus silent = second.Download({4}, &memory);
    EXPECT_EQ(silent.error, BackupError::Silent);
    EXPECT_EQ(silent.reason,
              "the Karma did not answer the request for Combination Bank E within 300 ms; asked "
              "3 times");
}

TEST_F(BackupDownloadTest, NoAnswerAndUnknownPortsAreFailures) {
    download->SetSilenceMs(200);
    EXPECT_EQ(download->Find().error, BackupError::NotFound);
    EXPECT_EQ(services->SentMessages(0).size(), 1u) << "each output was asked once";
    EXPECT_EQ(services->SentMessages(2).size(), 1u);
    EXPECT_EQ(download->Connect("In One", "Out Two").error, BackupError::NoAnswer);
    EXPECT_EQ(download->Connect("In Three", "Out Two").error, BackupError::PortNotFound);
    EXPECT_EQ(services->OpenInputs(), 0u);
    EXPECT_EQ(services->OpenOutputs(), 0u);

    LoopbackMidiServices none({}, {"Out"});
    EXPECT_EQ(BackupDownload(none).Find().error, BackupError::NoPorts);
}

}  // namespace
}  // namespace bq::midi
